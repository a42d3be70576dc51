#pragma once

// Real desktop session server messages for tests, built with the generated
// protobuf classes, and hand-made pipe framing for them.

#include <cstdint>
#include <string>
#include <vector>

#include "desktop_session.pb.h"

namespace qop::desktop::fakes {

using Bytes = std::vector<std::uint8_t>;
using ClientMessage = marzel::desktop::sdk::session::DesktopSessionClientMessage;
using ServerMessage = marzel::desktop::sdk::session::DesktopSessionServerMessage;
using AttachRequest = marzel::desktop::sdk::session::DesktopSessionAttachRequest;
using CommandRequest = marzel::desktop::sdk::session::DesktopSessionCommandRequest;

// A complete attached response: session "desktop-session-1", user "user-1",
// account "account-1", login "logged_in", app id 4242, capabilities
// achievements (1) and user_context (3) on, every other off, nickname
// "Player One", display tag "#0001", avatar available, version "v1", channel
// state "open", attach state "attached", source "pipe", both anti-addiction
// texts "{}" and the given protocol version. Tests change fields as needed.
ServerMessage attached_answer(const std::string& protocol_version = "1");

ServerMessage command_result(const std::string& request_id, bool success,
                             const std::string& code = "OK", const std::string& message = "",
                             const std::string& content_json = "",
                             const std::string& content_bytes = "");
ServerMessage detached_event(const std::string& reason);
ServerMessage error_message(const std::string& code, const std::string& message,
                            const std::string& category, const std::string& channel_state = "",
                            const std::string& attach_state = "");
ServerMessage anti_addiction_changed(const std::string& status_json, const std::string& event_json);

// The 4-byte little-endian length header, written by hand.
Bytes length_header(std::uint32_t length);
// Header and payload of one frame.
Bytes frame_payload(const std::string& payload);
Bytes frame_message(const ServerMessage& message);

}  // namespace qop::desktop::fakes
