#include "godot_adapter/achievement_payloads.hpp"

#include <godot_cpp/classes/json.hpp>
#include <godot_cpp/variant/dictionary.hpp>

#include "desktop/desktop_session_codec.hpp"
#include "godot_adapter/godot_string_conversion.hpp"

namespace qop::godot_adapter {
namespace {

std::string to_compact_json(const godot::Dictionary& payload) {
    return to_std_string(godot::JSON::stringify(payload, "", true, false));
}

// "occurredAt" is never taken from a clock: without a positive time the
// desktop client stamps the event itself.
void add_event_fields(godot::Dictionary& payload, const godot::String& event_id,
                      int64_t occurred_at_unix_ms, int64_t app_id) {
    payload["eventId"] =
        event_id.is_empty() ? to_godot_string(qop::desktop::new_request_id()) : event_id;
    if (occurred_at_unix_ms > 0) {
        payload["occurredAt"] = occurred_at_unix_ms;
    }
    if (app_id > 0) {
        payload["appId"] = app_id;
    }
}

}  // namespace

std::string unlock_achievement_payload(const godot::String& event_id, int64_t occurred_at_unix_ms,
                                       int64_t app_id) {
    godot::Dictionary payload;
    add_event_fields(payload, event_id, occurred_at_unix_ms, app_id);
    return to_compact_json(payload);
}

std::string achievement_progress_payload(double progress_value,
                                         const godot::String& progress_source_key,
                                         const godot::String& event_id, int64_t occurred_at_unix_ms,
                                         int64_t app_id) {
    godot::Dictionary payload;
    payload["progressValue"] = progress_value;
    if (!progress_source_key.is_empty()) {
        payload["progressSourceKey"] = progress_source_key;
    }
    add_event_fields(payload, event_id, occurred_at_unix_ms, app_id);
    return to_compact_json(payload);
}

std::string clear_achievements_payload(int64_t app_id) {
    if (app_id <= 0) {
        return std::string();
    }
    godot::Dictionary payload;
    payload["appId"] = app_id;
    return to_compact_json(payload);
}

}  // namespace qop::godot_adapter
