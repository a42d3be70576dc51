#pragma once

// Plain value records handed between the desktop session codec, the platform
// layer, the named-pipe transport, the session client and the engine node.
// They carry no behaviour; text is UTF-8 in byte strings.

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace qop::desktop {

// State of one desktop session; the node exposes the same numbers to scripts.
enum class ConnectionState : std::int32_t {
    DISCONNECTED = 0,
    CONNECTING = 1,
    ATTACHING = 2,
    ATTACHED = 3,
    RETRY_WAIT = 4,
    STOPPING = 5,
};

// Error record of the whole desktop road. `retryable` is always computed on
// this side, never received.
struct SdkError {
    std::string code;
    std::string message;
    std::string category;
    bool retryable = false;
    std::string channel_state;
    std::string attach_state;
};

// Capability field number (the bool field's number in the capability set) to
// whether the desktop client offers it.
using CapabilityMap = std::unordered_map<std::uint32_t, bool>;

// What is kept from the desktop client's attached response; the user profile
// is stored flat.
struct AttachedSession {
    std::string desktop_session_id;
    std::string user_id;
    std::string account_id;
    std::string login_state;
    std::uint32_t app_id = 0;
    CapabilityMap capabilities;
    std::string validated_executable_path;
    std::string install_root;
    std::string message;
    std::string nickname;
    std::string display_tag;
    bool avatar_available = false;
    std::string avatar_version;
    std::string channel_state;
    std::string attach_state;
    std::string attach_source;
    std::string anti_addiction_status_json;
    std::string anti_addiction_event_json;
    std::string desktop_protocol_version;
};

// Outcome of one command, received or made locally for a failure or time-out.
struct CommandResult {
    std::string request_id;
    bool success = false;
    std::string code;
    std::string message;
    std::string content_json;
    std::vector<std::uint8_t> content_bytes;
};

// Everything the session client needs to find, launch and attach to the
// desktop client.
struct DesktopAttachOptions {
    // "dev" and "preview" select those channels; any other text is production.
    std::string environment = "prod";
    // Honoured on the "dev" channel only.
    std::string pipe_endpoint_override;
    // Executable or folder of the desktop client, tried first on "dev" only.
    std::string launch_command;
    std::uint32_t app_id = 0;
    std::string executable_path;
    // 0 means: use the current process id.
    std::uint32_t process_id = 0;
    std::string sdk_version;
    std::string engine = "godot";
    std::string engine_version;
    bool auto_launch = true;
    bool auto_reconnect = true;
    std::int64_t attach_timeout_ms = 5000;
    std::int64_t command_timeout_ms = 30000;
};

enum class DesktopSessionEventKind : std::uint32_t {
    StateChanged = 0,
    Attached = 1,
    CommandCompleted = 2,
    Notification = 3,
    AntiAddictionChanged = 4,
    Detached = 5,
    Error = 6,
};

// One entry of the session client's event queue. Only the fields that belong
// to `kind` are filled; the rest keep their defaults.
struct DesktopSessionEvent {
    DesktopSessionEventKind kind = DesktopSessionEventKind::Error;
    ConnectionState state = ConnectionState::DISCONNECTED;
    std::string reason;
    AttachedSession session;
    CommandResult result;
    std::string anti_addiction_status_json;
    std::string anti_addiction_event_json;
    SdkError error;
};

}  // namespace qop::desktop
