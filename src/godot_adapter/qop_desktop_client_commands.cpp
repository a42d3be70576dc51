#include "godot_adapter/qop_desktop_client.hpp"

#include <cmath>
#include <utility>

#include "desktop/desktop_session_client.hpp"
#include "godot_adapter/achievement_payloads.hpp"
#include "godot_adapter/desktop_session_dictionaries.hpp"
#include "godot_adapter/godot_string_conversion.hpp"

namespace qop::godot_adapter {
namespace {

constexpr std::uint32_t kNoCapability = 0;

std::vector<std::uint8_t> to_byte_vector(const godot::PackedByteArray& bytes) {
    const std::uint8_t* const first = bytes.ptr();
    return std::vector<std::uint8_t>(first, first + bytes.size());
}

}  // namespace

godot::String QOPDesktopClient::submit_desktop_command(std::uint32_t command,
                                                       std::uint32_t capability_field_number,
                                                       std::string string_value,
                                                       std::string content_json,
                                                       std::vector<std::uint8_t> content_bytes) {
    // An empty id means refused; the session client has queued the reason as
    // an error event for the next poll_events.
    const std::string request_id =
        session_client_->submit_command(command, capability_field_number, std::move(string_value),
                                        std::move(content_json), std::move(content_bytes));
    return to_godot_string(request_id);
}

// GCC 12 at -O2 reports a false "maybe uninitialized" inside the engine
// Variant's std::variant storage when this emission is inlined here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
void QOPDesktopClient::emit_invalid_input(const char* message) {
    emit_signal("sdk_error", invalid_input_to_dictionary(message));
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool QOPDesktopClient::check_achievement_key(const godot::String& achievement_key) {
    if (!achievement_key.strip_edges().is_empty()) {
        return true;
    }
    emit_invalid_input("Achievement key is required");
    return false;
}

godot::String QOPDesktopClient::send_command(int64_t command_type, int64_t capability_field_number,
                                             const godot::String& content_json,
                                             const godot::PackedByteArray& content_bytes) {
    return submit_desktop_command(static_cast<std::uint32_t>(command_type),
                                  static_cast<std::uint32_t>(capability_field_number),
                                  std::string(), to_std_string(content_json),
                                  to_byte_vector(content_bytes));
}

godot::String QOPDesktopClient::ping_desktop_session() {
    return submit_desktop_command(COMMAND_PING_DESKTOP_SESSION, kNoCapability, std::string(),
                                  std::string(), {});
}

godot::String QOPDesktopClient::get_desktop_capabilities() {
    return submit_desktop_command(COMMAND_GET_DESKTOP_CAPABILITIES, kNoCapability, std::string(),
                                  std::string(), {});
}

godot::String QOPDesktopClient::unlock_achievement(const godot::String& achievement_key,
                                                   const godot::String& event_id,
                                                   int64_t occurred_at_unix_ms, int64_t app_id) {
    if (!check_achievement_key(achievement_key)) {
        return godot::String();
    }
    // The key goes out exactly as given; stripping only decides whether it
    // is there at all.
    return submit_desktop_command(
        COMMAND_UNLOCK_ACHIEVEMENT, CAPABILITY_ACHIEVEMENTS, to_std_string(achievement_key),
        unlock_achievement_payload(event_id, occurred_at_unix_ms, app_id), {});
}

godot::String QOPDesktopClient::report_achievement_progress(
    const godot::String& achievement_key, double progress_value,
    const godot::String& progress_source_key, const godot::String& event_id,
    int64_t occurred_at_unix_ms, int64_t app_id) {
    if (!check_achievement_key(achievement_key)) {
        return godot::String();
    }
    // The engine's JSON writer would put nan or inf into the payload, which
    // no JSON reader accepts.
    if (!std::isfinite(progress_value)) {
        emit_invalid_input("Achievement progress value must be a finite number");
        return godot::String();
    }
    return submit_desktop_command(
        COMMAND_REPORT_ACHIEVEMENT_PROGRESS, CAPABILITY_ACHIEVEMENTS,
        to_std_string(achievement_key),
        achievement_progress_payload(progress_value, progress_source_key, event_id,
                                     occurred_at_unix_ms, app_id),
        {});
}

godot::String QOPDesktopClient::clear_achievements(int64_t app_id) {
    return submit_desktop_command(COMMAND_CLEAR_ACHIEVEMENTS, CAPABILITY_ACHIEVEMENTS,
                                  std::string(), clear_achievements_payload(app_id), {});
}

}  // namespace qop::godot_adapter
