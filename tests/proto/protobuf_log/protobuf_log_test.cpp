// Its own executable: the silence, once the library has been loaded, lasts
// for the rest of the process, so the loud half below needs a process in
// which nothing loaded the library before.

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <godot_standin/engine_host.hpp>

#include "desktop/desktop_session_codec.hpp"
#include "godot_adapter/sdk_library_entry.hpp"

namespace qop::godot_adapter::testing {
namespace {

// A server message whose attached response carries a session id of bytes
// that are not UTF-8: field 1 (5 bytes) holding field 1 (3 bytes).
const std::vector<std::uint8_t> kInvalidUtf8Message = {0x0a, 0x05, 0x0a, 0x03, 0xff, 0xfe, 0xfd};

// What protobuf prints to standard error while the message is decoded.
std::string printed_while_decoding() {
    ::testing::internal::CaptureStderr();
    qop::desktop::DecodedServerMessage message;
    qop::desktop::SdkError error;
    const bool decoded = qop::desktop::decode_server_message(kInvalidUtf8Message, message, error);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(decoded);
    EXPECT_EQ(error.code, "INVALID_PROTOBUF_PAYLOAD");
    return printed;
}

TEST(ProtobufLog, LoadedLibraryKeepsProtobufQuietAboutAMalformedFrame) {
    // Before the library is loaded the runtime complains, which shows that
    // this message does reach its log.
    EXPECT_NE(printed_while_decoding().find("[libprotobuf"), std::string::npos);

    godot_standin::EngineHost host;
    ASSERT_TRUE(host.load(&qop_sdk_library_init));
    const std::string printed = printed_while_decoding();
    EXPECT_EQ(printed.find("[libprotobuf"), std::string::npos) << printed;
}

}  // namespace
}  // namespace qop::godot_adapter::testing
