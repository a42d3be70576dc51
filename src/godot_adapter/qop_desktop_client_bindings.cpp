#include "godot_adapter/qop_desktop_client.hpp"

#include <godot_cpp/core/property_info.hpp>
#include <godot_cpp/variant/variant.hpp>

namespace qop::godot_adapter {

void QOPDesktopClient::_bind_methods() {
    // Binding code reads like the engine's own registration code.
    using namespace godot;

    const String empty_text;
    const PackedByteArray no_bytes;

    ClassDB::bind_method(D_METHOD("configure", "app_id", "environment", "auto_launch",
                                  "auto_reconnect", "pipe_endpoint_override", "launch_command"),
                         &QOPDesktopClient::configure, DEFVAL(String("prod")), DEFVAL(true),
                         DEFVAL(true), DEFVAL(empty_text), DEFVAL(empty_text));
    ClassDB::bind_method(D_METHOD("attach"), &QOPDesktopClient::attach);
    ClassDB::bind_method(D_METHOD("disconnect_desktop"), &QOPDesktopClient::disconnect_desktop);
    ClassDB::bind_method(D_METHOD("send_command", "command_type", "capability_field_number",
                                  "content_json", "content_bytes"),
                         &QOPDesktopClient::send_command, DEFVAL(0), DEFVAL(empty_text),
                         DEFVAL(no_bytes));
    ClassDB::bind_method(D_METHOD("ping_desktop_session"), &QOPDesktopClient::ping_desktop_session);
    ClassDB::bind_method(D_METHOD("get_desktop_capabilities"),
                         &QOPDesktopClient::get_desktop_capabilities);
    ClassDB::bind_method(D_METHOD("unlock_achievement", "achievement_key", "event_id",
                                  "occurred_at_unix_ms", "app_id"),
                         &QOPDesktopClient::unlock_achievement, DEFVAL(empty_text), DEFVAL(0),
                         DEFVAL(0));
    ClassDB::bind_method(
        D_METHOD("report_achievement_progress", "achievement_key", "progress_value",
                 "progress_source_key", "event_id", "occurred_at_unix_ms", "app_id"),
        &QOPDesktopClient::report_achievement_progress, DEFVAL(empty_text), DEFVAL(empty_text),
        DEFVAL(0), DEFVAL(0));
    ClassDB::bind_method(D_METHOD("clear_achievements", "app_id"),
                         &QOPDesktopClient::clear_achievements, DEFVAL(0));
    ClassDB::bind_method(D_METHOD("get_is_attached"), &QOPDesktopClient::get_is_attached);
    ClassDB::bind_method(D_METHOD("get_connection_state"), &QOPDesktopClient::get_connection_state);
    ClassDB::bind_method(D_METHOD("get_current_session"), &QOPDesktopClient::get_current_session);
    ClassDB::bind_method(D_METHOD("get_capabilities"), &QOPDesktopClient::get_capabilities);
    ClassDB::bind_method(D_METHOD("supports_capability", "field_number"),
                         &QOPDesktopClient::supports_capability);
    ClassDB::bind_method(D_METHOD("get_sdk_version"), &QOPDesktopClient::get_sdk_version);
    ClassDB::bind_method(D_METHOD("poll_events"), &QOPDesktopClient::poll_events);

    // Read-only: no setter, so assignments from scripts change nothing.
    ADD_PROPERTY(PropertyInfo(Variant::BOOL, "is_attached"), "", "get_is_attached");
    ADD_PROPERTY(PropertyInfo(Variant::INT, "connection_state"), "", "get_connection_state");
    ADD_PROPERTY(PropertyInfo(Variant::DICTIONARY, "current_session"), "", "get_current_session");
    ADD_PROPERTY(PropertyInfo(Variant::DICTIONARY, "capabilities"), "", "get_capabilities");
    ADD_PROPERTY(PropertyInfo(Variant::STRING, "sdk_version"), "", "get_sdk_version");

    ADD_SIGNAL(MethodInfo("connection_state_changed", PropertyInfo(Variant::INT, "state"),
                          PropertyInfo(Variant::STRING, "reason")));
    ADD_SIGNAL(MethodInfo("desktop_attached", PropertyInfo(Variant::DICTIONARY, "session")));
    ADD_SIGNAL(MethodInfo("command_completed", PropertyInfo(Variant::STRING, "request_id"),
                          PropertyInfo(Variant::DICTIONARY, "result")));
    ADD_SIGNAL(
        MethodInfo("desktop_notification_received", PropertyInfo(Variant::DICTIONARY, "result")));
    ADD_SIGNAL(MethodInfo("anti_addiction_changed", PropertyInfo(Variant::DICTIONARY, "status"),
                          PropertyInfo(Variant::DICTIONARY, "event")));
    ADD_SIGNAL(MethodInfo("desktop_detached", PropertyInfo(Variant::STRING, "reason")));
    ADD_SIGNAL(MethodInfo("sdk_error", PropertyInfo(Variant::DICTIONARY, "error")));

    BIND_ENUM_CONSTANT(DISCONNECTED);
    BIND_ENUM_CONSTANT(CONNECTING);
    BIND_ENUM_CONSTANT(ATTACHING);
    BIND_ENUM_CONSTANT(ATTACHED);
    BIND_ENUM_CONSTANT(RETRY_WAIT);
    BIND_ENUM_CONSTANT(STOPPING);

    BIND_ENUM_CONSTANT(COMMAND_PING_DESKTOP_SESSION);
    BIND_ENUM_CONSTANT(COMMAND_UNLOCK_ACHIEVEMENT);
    BIND_ENUM_CONSTANT(COMMAND_REPORT_ACHIEVEMENT_PROGRESS);
    BIND_ENUM_CONSTANT(COMMAND_GET_DESKTOP_CAPABILITIES);
    BIND_ENUM_CONSTANT(COMMAND_GET_DESKTOP_USER_AVATAR_INFO);
    BIND_ENUM_CONSTANT(COMMAND_GET_DESKTOP_USER_AVATAR);
    BIND_ENUM_CONSTANT(COMMAND_GET_DESKTOP_ANTI_ADDICTION_STATUS);
    BIND_ENUM_CONSTANT(COMMAND_GET_DESKTOP_ANTI_ADDICTION_EVENT);
    BIND_ENUM_CONSTANT(COMMAND_GET_DESKTOP_ANTI_ADDICTION_AGE_RANGE);
    BIND_ENUM_CONSTANT(COMMAND_GET_DESKTOP_ANTI_ADDICTION_REMAINING_TIME);
    BIND_ENUM_CONSTANT(COMMAND_GET_DESKTOP_ANTI_ADDICTION_PROFILE);
    BIND_ENUM_CONSTANT(COMMAND_CREATE_DESKTOP_ANTI_ADDICTION_REAL_NAME_URL);
    BIND_ENUM_CONSTANT(COMMAND_CLEAR_ACHIEVEMENTS);
    BIND_ENUM_CONSTANT(COMMAND_LYING_BOTTLE_FORWARD);
    BIND_ENUM_CONSTANT(COMMAND_REQUEST_HOSTED_BOOTSTRAP);
    BIND_ENUM_CONSTANT(COMMAND_CLOUD_ARCHIVE_FORWARD);
    BIND_ENUM_CONSTANT(COMMAND_LEADERBOARD_FORWARD);
    BIND_ENUM_CONSTANT(COMMAND_REQUEST_DESKTOP_SHARE);
    BIND_ENUM_CONSTANT(COMMAND_GET_DESKTOP_USER_PROFILE);
    BIND_ENUM_CONSTANT(COMMAND_GET_DESKTOP_PLAYER_PROFILES);
    BIND_ENUM_CONSTANT(COMMAND_SUBMIT_DESKTOP_ANTI_ADDICTION_REAL_NAME);

    BIND_ENUM_CONSTANT(CAPABILITY_ACHIEVEMENTS);
    BIND_ENUM_CONSTANT(CAPABILITY_USER_CONTEXT);
    BIND_ENUM_CONSTANT(CAPABILITY_HOSTED_BOOTSTRAP);
    BIND_ENUM_CONSTANT(CAPABILITY_ANTI_ADDICTION);
    BIND_ENUM_CONSTANT(CAPABILITY_LYING_BOTTLE);
    BIND_ENUM_CONSTANT(CAPABILITY_CLOUD_ARCHIVE);
    BIND_ENUM_CONSTANT(CAPABILITY_LEADERBOARD);
    BIND_ENUM_CONSTANT(CAPABILITY_SHARE);
}

}  // namespace qop::godot_adapter
