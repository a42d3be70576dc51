#include <fstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "library_export_table.hpp"

namespace qop::godot_adapter::testing {
namespace {

// The engine looks the library up by one name; anything else exported would
// leak the static libraries linked into it.
TEST(SdkLibraryExports, TheEntryIsTheOnlyExport) {
    std::ifstream file(QOP_SDK_LIBRARY_FILE, std::ios::binary | std::ios::ate);
    ASSERT_TRUE(file) << "cannot open " << QOP_SDK_LIBRARY_FILE;
    std::vector<std::uint8_t> image(static_cast<std::size_t>(file.tellg()));
    file.seekg(0);
    ASSERT_TRUE(file.read(reinterpret_cast<char*>(image.data()),
                          static_cast<std::streamsize>(image.size())));

    ExportTable table;
    std::string error;
    ASSERT_TRUE(read_export_table(image, table, error)) << error;
    EXPECT_THAT(table.names, ::testing::ElementsAre("qop_sdk_library_init"));
    EXPECT_EQ(table.function_count, 1u);
}

}  // namespace
}  // namespace qop::godot_adapter::testing
