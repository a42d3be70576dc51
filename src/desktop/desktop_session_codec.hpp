#pragma once

// Stateless conversion between the desktop session protocol's messages and the
// session records: pipe framing, decoding server messages, encoding the attach
// and command requests, request ids and error classification. Every function
// may run on any thread.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "desktop/desktop_session_records.hpp"
#include "desktop/queued_command.hpp"

namespace marzel::desktop::sdk::session {
class DesktopSessionAttachedResponse;
class DesktopSessionCommandResponse;
}  // namespace marzel::desktop::sdk::session

namespace qop::desktop {

// Largest payload a desktop session frame may announce (16 MiB).
constexpr std::uint32_t kMaxDesktopFramePayload = 16u * 1024u * 1024u;
constexpr std::size_t kDesktopFrameHeaderSize = 4;

// Each kind is the field number of the server message body it comes from,
// minus 1.
enum class DecodedServerMessageKind : std::int32_t {
    Attached = 0,
    CommandResult = 1,
    Detached = 2,
    Error = 3,
    AntiAddictionChanged = 4,
};

// Result of decode_server_message. Only `kind` and the fields of that kind
// are written; pass a default-constructed record each time.
struct DecodedServerMessage {
    DecodedServerMessageKind kind = DecodedServerMessageKind::Error;
    AttachedSession attached;
    CommandResult command_result;
    std::string detach_reason;
    // The desktop client's own error when kind is Error.
    SdkError error;
    std::string anti_addiction_status_json;
    std::string anti_addiction_event_json;
};

// Assembles the little-endian payload length of a frame header. The length is
// stored even when it is out of range; returns whether it lies in
// 1..kMaxDesktopFramePayload.
bool read_frame_length(const std::array<std::uint8_t, kDesktopFrameHeaderSize>& header,
                       std::uint32_t& length);

// The payload preceded by its size as a 32-bit little-endian number.
std::vector<std::uint8_t> frame_with_length_prefix(const std::vector<std::uint8_t>& payload);

// Decodes one server message payload. On failure `out` is untouched and
// `error` says why; an error body from the desktop client is a successful
// decode that lands in out.error.
bool decode_server_message(const std::vector<std::uint8_t>& payload, DecodedServerMessage& out,
                           SdkError& error);

AttachedSession to_attached_session(
    const marzel::desktop::sdk::session::DesktopSessionAttachedResponse& response);
CommandResult to_command_result(
    const marzel::desktop::sdk::session::DesktopSessionCommandResponse& response);

// Serialized attach request for `options`. On failure `out` is untouched.
bool encode_attach_request(const DesktopAttachOptions& options, std::vector<std::uint8_t>& out,
                           SdkError& error);

// Serialized command request. On failure `out` is untouched.
bool encode_command_request(const QueuedCommand& command, std::vector<std::uint8_t>& out,
                            SdkError& error);

// A fresh version-4 UUID as 32 lower-case hexadecimal digits without dashes.
// Never throws: without a working system random source it falls back to a
// locally seeded generator.
std::string new_request_id();

// The error of every "no usable desktop session" situation: code
// "DESKTOP_SESSION_REQUIRED", category "channel", retryable.
SdkError make_session_required_error(std::string message);

// "INVALID_PROTOBUF_PAYLOAD" validation error carrying `message`.
SdkError make_invalid_payload_error(const std::string& message);

// True when retrying cannot help: a validation error or one of the codes that
// reject the game itself.
bool is_terminal_error(const SdkError& error);

}  // namespace qop::desktop
