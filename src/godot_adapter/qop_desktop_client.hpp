#pragma once

// The engine class through which a game script talks to the platform's
// desktop client. The node is the thin, single-threaded, script-facing side of
// a DesktopSessionClient, which does all connection work on its own worker.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <godot_cpp/classes/node.hpp>
#include <godot_cpp/core/class_db.hpp>
#include <godot_cpp/variant/dictionary.hpp>
#include <godot_cpp/variant/packed_byte_array.hpp>
#include <godot_cpp/variant/string.hpp>

namespace qop::desktop {
class DesktopPlatform;
class DesktopSessionClient;
}  // namespace qop::desktop

namespace qop::godot_adapter {

class QOPDesktopClient : public godot::Node {
    GDCLASS(QOPDesktopClient, Node)

public:
    enum ConnectionState {
        DISCONNECTED = 0,
        CONNECTING = 1,
        ATTACHING = 2,
        ATTACHED = 3,
        RETRY_WAIT = 4,
        STOPPING = 5,
    };

    enum DesktopCommand {
        COMMAND_PING_DESKTOP_SESSION = 1,
        COMMAND_UNLOCK_ACHIEVEMENT = 2,
        COMMAND_REPORT_ACHIEVEMENT_PROGRESS = 3,
        COMMAND_GET_DESKTOP_CAPABILITIES = 5,
        COMMAND_GET_DESKTOP_USER_AVATAR_INFO = 7,
        COMMAND_GET_DESKTOP_USER_AVATAR = 8,
        COMMAND_GET_DESKTOP_ANTI_ADDICTION_STATUS = 9,
        COMMAND_GET_DESKTOP_ANTI_ADDICTION_EVENT = 10,
        COMMAND_GET_DESKTOP_ANTI_ADDICTION_AGE_RANGE = 11,
        COMMAND_GET_DESKTOP_ANTI_ADDICTION_REMAINING_TIME = 12,
        COMMAND_GET_DESKTOP_ANTI_ADDICTION_PROFILE = 13,
        COMMAND_CREATE_DESKTOP_ANTI_ADDICTION_REAL_NAME_URL = 15,
        COMMAND_CLEAR_ACHIEVEMENTS = 16,
        COMMAND_LYING_BOTTLE_FORWARD = 17,
        COMMAND_REQUEST_HOSTED_BOOTSTRAP = 18,
        COMMAND_CLOUD_ARCHIVE_FORWARD = 19,
        COMMAND_LEADERBOARD_FORWARD = 20,
        COMMAND_REQUEST_DESKTOP_SHARE = 21,
        COMMAND_GET_DESKTOP_USER_PROFILE = 22,
        COMMAND_GET_DESKTOP_PLAYER_PROFILES = 23,
        COMMAND_SUBMIT_DESKTOP_ANTI_ADDICTION_REAL_NAME = 24,
    };

    enum DesktopCapability {
        CAPABILITY_ACHIEVEMENTS = 1,
        CAPABILITY_USER_CONTEXT = 3,
        CAPABILITY_HOSTED_BOOTSTRAP = 4,
        CAPABILITY_ANTI_ADDICTION = 6,
        CAPABILITY_LYING_BOTTLE = 7,
        CAPABILITY_CLOUD_ARCHIVE = 8,
        CAPABILITY_LEADERBOARD = 9,
        CAPABILITY_SHARE = 10,
    };

    // Used by the engine: the session client gets the running operating
    // system's platform (none outside Windows).
    QOPDesktopClient();
    // For C++ callers that supply the platform themselves; the node owns it
    // from then on.
    explicit QOPDesktopClient(std::unique_ptr<qop::desktop::DesktopPlatform> platform);
    ~QOPDesktopClient() override;

    void _exit_tree() override;

    void configure(int64_t app_id, const godot::String& environment, bool auto_launch,
                   bool auto_reconnect, const godot::String& pipe_endpoint_override,
                   const godot::String& launch_command);
    bool attach();
    void disconnect_desktop();

    godot::String send_command(int64_t command_type, int64_t capability_field_number,
                               const godot::String& content_json,
                               const godot::PackedByteArray& content_bytes);
    godot::String ping_desktop_session();
    godot::String get_desktop_capabilities();
    godot::String unlock_achievement(const godot::String& achievement_key,
                                     const godot::String& event_id, int64_t occurred_at_unix_ms,
                                     int64_t app_id);
    godot::String report_achievement_progress(const godot::String& achievement_key,
                                              double progress_value,
                                              const godot::String& progress_source_key,
                                              const godot::String& event_id,
                                              int64_t occurred_at_unix_ms, int64_t app_id);
    godot::String clear_achievements(int64_t app_id);

    bool get_is_attached() const;
    int64_t get_connection_state() const;
    godot::Dictionary get_current_session() const;
    godot::Dictionary get_capabilities() const;
    bool supports_capability(int64_t field_number) const;
    godot::String get_sdk_version() const;

    void poll_events();

protected:
    static void _bind_methods();

private:
    godot::String submit_desktop_command(std::uint32_t command,
                                         std::uint32_t capability_field_number,
                                         std::string string_value, std::string content_json,
                                         std::vector<std::uint8_t> content_bytes);
    // Emits sdk_error during the call and returns false when the key is
    // empty after stripping.
    bool check_achievement_key(const godot::String& achievement_key);
    void emit_invalid_input(const char* message);

    // Created by both constructors, so never null.
    std::unique_ptr<qop::desktop::DesktopSessionClient> session_client_;
    std::uint32_t app_id_ = 0;
    std::string environment_ = "prod";
    bool auto_launch_ = true;
    bool auto_reconnect_ = true;
    std::string pipe_endpoint_override_;
    std::string launch_command_;
};

}  // namespace qop::godot_adapter

VARIANT_ENUM_CAST(qop::godot_adapter::QOPDesktopClient::ConnectionState);
VARIANT_ENUM_CAST(qop::godot_adapter::QOPDesktopClient::DesktopCommand);
VARIANT_ENUM_CAST(qop::godot_adapter::QOPDesktopClient::DesktopCapability);
