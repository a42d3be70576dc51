#include <cstring>
#include <string>
#include <vector>

#include <gdextension_interface.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <godot_standin/class_records.hpp>
#include <godot_standin/engine_host.hpp>

#include "godot_adapter/sdk_library_entry.hpp"

namespace qop::godot_adapter::testing {
namespace {

// An engine 4.7 that is not the stand-in's host: it offers the interface
// functions the binding asks for and keeps what is printed through it.
std::vector<std::string>& printed_errors() {
    static std::vector<std::string> errors;
    return errors;
}

void engine_print_error(const char* description, const char*, const char*, int32_t,
                        GDExtensionBool) {
    printed_errors().emplace_back(description != nullptr ? description : "");
}

void engine_version(GDExtensionGodotVersion2* version) {
    *version = GDExtensionGodotVersion2{};
    version->major = 4;
    version->minor = 7;
    version->string = "Godot Engine v4.7.stable";
}

GDExtensionInterfaceFunctionPtr engine_get_proc_address(const char* name) {
    if (std::strcmp(name, "print_error") == 0) {
        return reinterpret_cast<GDExtensionInterfaceFunctionPtr>(&engine_print_error);
    }
    if (std::strcmp(name, "get_godot_version2") == 0) {
        return reinterpret_cast<GDExtensionInterfaceFunctionPtr>(&engine_version);
    }
    return nullptr;
}

TEST(SdkLibraryForeignEngine, ALibraryLinkingTheStandInRefusesAnEngineAndSaysHowToBuildOne) {
    printed_errors().clear();
    GDExtensionInitialization initialization{};
    EXPECT_FALSE(qop_sdk_library_init(&engine_get_proc_address, nullptr, &initialization));

    ASSERT_EQ(printed_errors().size(), 1u);
    EXPECT_THAT(printed_errors()[0], ::testing::HasSubstr("links godot_standin"));
    EXPECT_THAT(printed_errors()[0],
                ::testing::HasSubstr("QOP_GODOT_CPP_DIR=<godot-cpp checkout> scripts/build.sh"));
    EXPECT_EQ(initialization.initialize, nullptr);

    EXPECT_EQ(godot_standin::find_class("QOPDesktopClient"), nullptr);

    // The stand-in's own host still loads it.
    godot_standin::EngineHost host;
    EXPECT_TRUE(host.load(&qop_sdk_library_init));
    EXPECT_NE(godot_standin::find_class("QOPDesktopClient"), nullptr);
    EXPECT_TRUE(host.errors().empty());
}

}  // namespace
}  // namespace qop::godot_adapter::testing
