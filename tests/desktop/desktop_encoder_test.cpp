// Encoding the attach and command requests, compared with bytes written by
// hand, and the encoders' refusals.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "desktop/desktop_session_codec.hpp"
#include "support/wire_hex.hpp"

namespace {

using qop::desktop::DesktopAttachOptions;
using qop::desktop::encode_attach_request;
using qop::desktop::encode_command_request;
using qop::desktop::QueuedCommand;
using qop::desktop::SdkError;
using qop::test::to_hex;
using qop::test::wire_bytes;

DesktopAttachOptions godot_options() {
    DesktopAttachOptions options;
    options.sdk_version = "0.1.7";
    options.engine = "godot";
    options.engine_version = "4.7.0";
    options.app_id = 1234;
    options.executable_path = "C:/g.exe";
    options.process_id = 42;
    return options;
}

TEST(DesktopEncoder, AttachRequestIsFortyOneBytes) {
    DesktopAttachOptions options = godot_options();
    // Options that only steer the client itself never reach the wire.
    options.environment = "dev";
    options.pipe_endpoint_override = "\\\\.\\pipe\\x";
    options.launch_command = "C:/desktop";
    options.auto_launch = false;
    options.attach_timeout_ms = 1;
    std::vector<std::uint8_t> out;
    SdkError error;
    ASSERT_TRUE(encode_attach_request(options, out, error));
    EXPECT_EQ(out.size(), 41u);
    EXPECT_EQ(to_hex(out),
              "0A 27 0A 01 31 12 05 30 2E 31 2E 37 1A 05 67 6F 64 6F 74 22 05 34 2E "
              "37 2E 30 28 D2 09 32 08 43 3A 2F 67 2E 65 78 65 38 2A");
}

TEST(DesktopEncoder, AttachRequestLeavesEmptyValuesOffTheWire) {
    DesktopAttachOptions options;
    options.engine = "";
    options.app_id = 1;
    options.executable_path = "p";
    std::vector<std::uint8_t> out;
    SdkError error;
    ASSERT_TRUE(encode_attach_request(options, out, error));
    EXPECT_EQ(to_hex(out), to_hex(wire_bytes(R"(0A 08 0A 01 "1" 28 01 32 01 "p")")));
}

struct AttachRefusal {
    std::uint32_t app_id;
    const char* path;
    const char* code;
    const char* message;
};

TEST(DesktopEncoder, AttachRequestRefusesMissingIdentity) {
    const AttachRefusal cases[] = {
        {0, "", "APP_ID_REQUIRED", "QOP appId is required"},
        {0, "C:/g.exe", "APP_ID_REQUIRED", "QOP appId is required"},
        {1234, "", "EXECUTABLE_PATH_REQUIRED",
         "Executable path is required for desktop session attach"},
    };
    for (const AttachRefusal& c : cases) {
        DesktopAttachOptions options = godot_options();
        options.app_id = c.app_id;
        options.executable_path = c.path;
        std::vector<std::uint8_t> out = {0xEE};
        SdkError error;
        EXPECT_FALSE(encode_attach_request(options, out, error));
        EXPECT_EQ(error.code, c.code);
        EXPECT_EQ(error.message, c.message);
        EXPECT_EQ(error.category, "validation");
        EXPECT_FALSE(error.retryable);
        EXPECT_EQ(out, std::vector<std::uint8_t>{0xEE});
    }
}

QueuedCommand command_with(std::uint32_t number) {
    QueuedCommand command;
    command.request_id = "r";
    command.command = number;
    return command;
}

struct CommandCase {
    const char* name;
    QueuedCommand command;
    const char* wire;
};

TEST(DesktopEncoder, CommandRequestsAsWrittenByHand) {
    QueuedCommand unlock;
    unlock.request_id = "0123456789abcdef0123456789abcdef";
    unlock.command = 2;
    unlock.capability_field_number = 1;
    unlock.string_value = "k";
    unlock.content_json = "{}";
    unlock.content_bytes = {0xFF, 0x00};

    const CommandCase cases[] = {
        {"every field; the capability stays local", unlock,
         R"(12 2F 0A 20 "0123456789abcdef0123456789abcdef" 10 02 1A 01 "k" 22 02 "{}"
            2A 02 FF 00)"},
        {"ping without payload", command_with(1), R"(12 05 0A 01 "r" 10 01)"},
        {"command 0 is not written", command_with(0), R"(12 03 0A 01 "r")"},
        {"unlisted number passes through", command_with(99), R"(12 05 0A 01 "r" 10 63)"},
        {"reserved number passes through", command_with(14), R"(12 05 0A 01 "r" 10 0E)"},
        {"number above 2^31 stays a 32-bit value", command_with(0x80000000u),
         R"(12 0E 0A 01 "r" 10 80 80 80 80 F8 FF FF FF FF 01)"},
    };
    for (const CommandCase& c : cases) {
        std::vector<std::uint8_t> out;
        SdkError error;
        ASSERT_TRUE(encode_command_request(c.command, out, error)) << c.name;
        EXPECT_EQ(to_hex(out), to_hex(wire_bytes(c.wire))) << c.name;
    }
}

TEST(DesktopEncoder, CommandBytesCarryAnyOctets) {
    QueuedCommand command = command_with(19);
    command.content_bytes = {0xC3, 0x28, 0x00, 0xFF};
    std::vector<std::uint8_t> out;
    SdkError error;
    ASSERT_TRUE(encode_command_request(command, out, error));
    EXPECT_EQ(to_hex(out), to_hex(wire_bytes(R"(12 0B 0A 01 "r" 10 13 2A 04 C3 28 00 FF)")));
}

TEST(DesktopEncoder, CommandWithoutRequestIdIsRefused) {
    QueuedCommand command = command_with(1);
    command.request_id.clear();
    std::vector<std::uint8_t> out = {0xEE};
    SdkError error;
    EXPECT_FALSE(encode_command_request(command, out, error));
    EXPECT_EQ(error.code, "INVALID_PROTOBUF_PAYLOAD");
    EXPECT_EQ(error.message, "Desktop command request id is required");
    EXPECT_EQ(error.category, "validation");
    EXPECT_FALSE(error.retryable);
    EXPECT_EQ(out, std::vector<std::uint8_t>{0xEE});
}

TEST(DesktopEncoder, SuccessLeavesTheErrorAlone) {
    std::vector<std::uint8_t> out;
    SdkError error;
    error.code = "earlier";
    ASSERT_TRUE(encode_command_request(command_with(1), out, error));
    ASSERT_TRUE(encode_attach_request(godot_options(), out, error));
    EXPECT_EQ(error.code, "earlier");
}

}  // namespace
