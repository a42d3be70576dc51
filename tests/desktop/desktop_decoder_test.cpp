// Decoding desktop session server messages from hand-written bytes into the
// session records, and the decoder's failures.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "desktop/desktop_session_codec.hpp"
#include "support/wire_hex.hpp"

namespace {

using qop::desktop::CapabilityMap;
using qop::desktop::decode_server_message;
using qop::desktop::DecodedServerMessage;
using qop::desktop::DecodedServerMessageKind;
using qop::desktop::SdkError;
using qop::test::wire_bytes;

// A length-delimited field with a one-byte tag and a short value.
std::string field(std::uint8_t tag, const std::string& value) {
    return std::string(1, static_cast<char>(tag)) + static_cast<char>(value.size()) + value;
}

std::vector<std::uint8_t> bytes_of(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

const char* const kFullAttached = R"(0A 52
    0A 02 "s1" 12 02 "u1" 1A 02 "a1" 22 02 "ls" 28 D2 09
    32 04 08 01 50 01
    3A 02 "vp" 42 02 "ir" 4A 02 "ms"
    52 0E 0A 02 "nn" 12 02 "dt" 18 01 22 02 "av"
    5A 02 "cs" 62 02 "as" 6A 02 "so" 72 02 "{}" 7A 02 "[]"
    82 01 01 "1" 8A 01 02 "qs")";

TEST(DesktopDecoder, AttachedResponseFillsEveryRecordField) {
    DecodedServerMessage out;
    SdkError error;
    error.code = "untouched";
    ASSERT_TRUE(decode_server_message(wire_bytes(kFullAttached), out, error));
    EXPECT_EQ(error.code, "untouched");
    ASSERT_EQ(out.kind, DecodedServerMessageKind::Attached);
    const auto& s = out.attached;
    EXPECT_EQ(s.desktop_session_id, "s1");
    EXPECT_EQ(s.user_id, "u1");
    EXPECT_EQ(s.account_id, "a1");
    EXPECT_EQ(s.login_state, "ls");
    EXPECT_EQ(s.app_id, 1234u);
    const CapabilityMap expected_capabilities = {{1, true},  {3, false}, {4, false}, {6, false},
                                                 {7, false}, {8, false}, {9, false}, {10, true}};
    EXPECT_EQ(s.capabilities, expected_capabilities);
    EXPECT_EQ(s.validated_executable_path, "vp");
    EXPECT_EQ(s.install_root, "ir");
    EXPECT_EQ(s.message, "ms");
    EXPECT_EQ(s.nickname, "nn");
    EXPECT_EQ(s.display_tag, "dt");
    EXPECT_TRUE(s.avatar_available);
    EXPECT_EQ(s.avatar_version, "av");
    EXPECT_EQ(s.channel_state, "cs");
    EXPECT_EQ(s.attach_state, "as");
    EXPECT_EQ(s.attach_source, "so");
    EXPECT_EQ(s.anti_addiction_status_json, "{}");
    EXPECT_EQ(s.anti_addiction_event_json, "[]");
    EXPECT_EQ(s.desktop_protocol_version, "1");
}

TEST(DesktopDecoder, AbsentCapabilitiesAndProfileReadAsFalseAndEmpty) {
    DecodedServerMessage out;
    SdkError error;
    ASSERT_TRUE(decode_server_message(wire_bytes(R"(0A 04 82 01 01 "1")"), out, error));
    const CapabilityMap all_false = {{1, false}, {3, false}, {4, false}, {6, false},
                                     {7, false}, {8, false}, {9, false}, {10, false}};
    EXPECT_EQ(out.attached.capabilities, all_false);
    EXPECT_EQ(out.attached.nickname, "");
    EXPECT_EQ(out.attached.display_tag, "");
    EXPECT_FALSE(out.attached.avatar_available);
    EXPECT_EQ(out.attached.avatar_version, "");
}

TEST(DesktopDecoder, EmptyAttachedBodyStillDecodes) {
    DecodedServerMessage out;
    SdkError error;
    ASSERT_TRUE(decode_server_message(wire_bytes("0A 00"), out, error));
    EXPECT_EQ(out.kind, DecodedServerMessageKind::Attached);
    EXPECT_EQ(out.attached.capabilities.size(), 8u);
    EXPECT_EQ(out.attached.desktop_protocol_version, "");
}

TEST(DesktopDecoder, SaveRootChangesNothing) {
    DecodedServerMessage with_root;
    DecodedServerMessage without_root;
    SdkError error;
    ASSERT_TRUE(
        decode_server_message(wire_bytes(R"(0A 09 0A 01 "s" 8A 01 03 "C:/")"), with_root, error));
    ASSERT_TRUE(decode_server_message(wire_bytes(R"(0A 03 0A 01 "s")"), without_root, error));
    EXPECT_EQ(with_root.attached.desktop_session_id, without_root.attached.desktop_session_id);
    EXPECT_EQ(with_root.attached.capabilities, without_root.attached.capabilities);
    EXPECT_EQ(with_root.attached.install_root, "");
    EXPECT_EQ(with_root.attached.message, "");
}

TEST(DesktopDecoder, CommandResultCopiesAllSixFields) {
    DecodedServerMessage out;
    SdkError error;
    ASSERT_TRUE(decode_server_message(
        wire_bytes(R"(12 17 0A 02 "r1" 10 01 1A 02 "OK" 22 02 "hi" 2A 02 "{}" 32 03 00 FF 80)"),
        out, error));
    ASSERT_EQ(out.kind, DecodedServerMessageKind::CommandResult);
    EXPECT_EQ(out.command_result.request_id, "r1");
    EXPECT_TRUE(out.command_result.success);
    EXPECT_EQ(out.command_result.code, "OK");
    EXPECT_EQ(out.command_result.message, "hi");
    EXPECT_EQ(out.command_result.content_json, "{}");
    EXPECT_EQ(out.command_result.content_bytes, (std::vector<std::uint8_t>{0x00, 0xFF, 0x80}));
}

TEST(DesktopDecoder, DetachedAndAntiAddictionBodies) {
    DecodedServerMessage detached;
    SdkError error;
    ASSERT_TRUE(decode_server_message(wire_bytes(R"(1A 05 0A 03 "bye")"), detached, error));
    EXPECT_EQ(detached.kind, DecodedServerMessageKind::Detached);
    EXPECT_EQ(detached.detach_reason, "bye");

    DecodedServerMessage changed;
    ASSERT_TRUE(
        decode_server_message(wire_bytes(R"(2A 08 0A 02 "{}" 12 02 "[]")"), changed, error));
    EXPECT_EQ(changed.kind, DecodedServerMessageKind::AntiAddictionChanged);
    EXPECT_EQ(changed.anti_addiction_status_json, "{}");
    EXPECT_EQ(changed.anti_addiction_event_json, "[]");
}

TEST(DesktopDecoder, ErrorBodyIsASuccessfulDecodeCarryingTheDesktopError) {
    DecodedServerMessage out;
    SdkError error;
    ASSERT_TRUE(decode_server_message(
        wire_bytes(R"(22 0F 0A 01 "C" 12 01 "M" 1A 01 "K" 22 01 "S" 2A 01 "A")"), out, error));
    EXPECT_EQ(error.code, "");
    ASSERT_EQ(out.kind, DecodedServerMessageKind::Error);
    EXPECT_EQ(out.error.code, "C");
    EXPECT_EQ(out.error.message, "M");
    EXPECT_EQ(out.error.category, "K");
    EXPECT_EQ(out.error.channel_state, "S");
    EXPECT_EQ(out.error.attach_state, "A");
    EXPECT_TRUE(out.error.retryable);
}

struct RetryableCase {
    const char* category;
    const char* code;
    bool retryable;
};

TEST(DesktopDecoder, ErrorBodyRetryableIsComputedFromCategoryAndCode) {
    const RetryableCase cases[] = {
        {"validation", "", false},
        {"channel", "FORBIDDEN", false},
        {"channel", "DESKTOP_SESSION_REQUIRED", true},
        {"Validation", "", true},
        {"runtime", "APP_ID_MISMATCH", false},
        {"", "", true},
    };
    for (const RetryableCase& c : cases) {
        const std::string body = field(0x0A, c.code) + field(0x1A, c.category);
        DecodedServerMessage out;
        SdkError error;
        ASSERT_TRUE(decode_server_message(bytes_of(field(0x22, body)), out, error));
        EXPECT_EQ(out.error.retryable, c.retryable) << c.category << " / " << c.code;
    }
}

TEST(DesktopDecoder, OnlyTheDecodedKindsFieldsAreWritten) {
    DecodedServerMessage out;
    out.detach_reason = "earlier";
    out.error.code = "earlier";
    SdkError error;
    ASSERT_TRUE(decode_server_message(wire_bytes(R"(12 03 0A 01 "r")"), out, error));
    EXPECT_EQ(out.kind, DecodedServerMessageKind::CommandResult);
    EXPECT_EQ(out.detach_reason, "earlier");
    EXPECT_EQ(out.error.code, "earlier");
}

struct FailureCase {
    const char* name;
    std::vector<std::uint8_t> payload;
    const char* message;
};

std::vector<std::uint8_t> largest_payload_without_body() {
    // Unknown field 15 (length-delimited) filling exactly 16 MiB: the tag,
    // the 4-byte varint 16,777,211, then that many bytes.
    std::vector<std::uint8_t> payload = wire_bytes("7A FB FF FF 07");
    payload.resize(16u * 1024u * 1024u, 0);
    return payload;
}

TEST(DesktopDecoder, FailuresLeaveTheOutputAloneAndSayWhy) {
    const FailureCase cases[] = {
        {"empty", {}, "Desktop session payload length is invalid"},
        {"one byte over the bound", std::vector<std::uint8_t>(16u * 1024u * 1024u + 1u, 0),
         "Desktop session payload length is invalid"},
        {"largest payload, no body", largest_payload_without_body(),
         "Unsupported desktop session server message"},
        {"only unknown fields", wire_bytes("78 05"), "Unsupported desktop session server message"},
        {"reserved-looking field only", wire_bytes("30 01"),
         "Unsupported desktop session server message"},
        {"truncated sub-message", wire_bytes("0A 05 01"),
         "Could not parse desktop session protobuf payload"},
        {"length beyond the payload", wire_bytes("0A 7F"),
         "Could not parse desktop session protobuf payload"},
        {"bad tag", wire_bytes("FF"), "Could not parse desktop session protobuf payload"},
        {"field number zero", wire_bytes("02 00"),
         "Could not parse desktop session protobuf payload"},
        {"end-group without start", wire_bytes("0C"),
         "Could not parse desktop session protobuf payload"},
        {"overlong varint", wire_bytes("08 FF FF FF FF FF FF FF FF FF FF 01"),
         "Could not parse desktop session protobuf payload"},
        {"invalid UTF-8 in a string", wire_bytes("12 03 22 01 FF"),
         "Could not parse desktop session protobuf payload"},
        {"invalid UTF-8 deep in the profile", wire_bytes("0A 05 52 03 0A 01 C3"),
         "Could not parse desktop session protobuf payload"},
    };
    for (const FailureCase& c : cases) {
        DecodedServerMessage out;
        out.kind = DecodedServerMessageKind::Detached;
        out.detach_reason = "kept";
        SdkError error;
        EXPECT_FALSE(decode_server_message(c.payload, out, error)) << c.name;
        EXPECT_EQ(error.message, c.message) << c.name;
        EXPECT_EQ(error.code, "INVALID_PROTOBUF_PAYLOAD") << c.name;
        EXPECT_EQ(error.category, "validation") << c.name;
        EXPECT_FALSE(error.retryable) << c.name;
        EXPECT_EQ(out.kind, DecodedServerMessageKind::Detached) << c.name;
        EXPECT_EQ(out.detach_reason, "kept") << c.name;
    }
}

TEST(DesktopDecoder, EveryTruncationOfAValidMessageFailsCleanly) {
    const std::vector<std::uint8_t> full = wire_bytes(kFullAttached);
    for (std::size_t size = 1; size < full.size(); ++size) {
        const std::vector<std::uint8_t> prefix(full.begin(), full.begin() + size);
        DecodedServerMessage out;
        SdkError error;
        EXPECT_FALSE(decode_server_message(prefix, out, error)) << size;
        EXPECT_EQ(error.message, "Could not parse desktop session protobuf payload") << size;
    }
}

TEST(DesktopDecoder, DeeplyNestedGroupsAreRejectedWithoutExhaustingTheStack) {
    // Start-group tags of unknown field 15, nested far beyond any sane depth.
    const std::vector<std::uint8_t> payload(1u << 20, 0x7B);
    DecodedServerMessage out;
    SdkError error;
    EXPECT_FALSE(decode_server_message(payload, out, error));
    EXPECT_EQ(error.message, "Could not parse desktop session protobuf payload");
}

TEST(DesktopDecoder, DeeplyNestedGroupsInsideABodyAreRejected) {
    // The same unknown start-group tags, this time inside the attached body.
    const std::vector<std::uint8_t> inner(200000, 0x7B);
    std::vector<std::uint8_t> payload = wire_bytes("0A");
    // Length varint of the inner bytes (200000 = 0xC0 0x9A 0x0C).
    const std::vector<std::uint8_t> length = wire_bytes("C0 9A 0C");
    payload.insert(payload.end(), length.begin(), length.end());
    payload.insert(payload.end(), inner.begin(), inner.end());
    DecodedServerMessage out;
    SdkError error;
    EXPECT_FALSE(decode_server_message(payload, out, error));
}

}  // namespace
