#include "godot_adapter/achievement_payloads.hpp"

#include <cstddef>

#include <godot_cpp/classes/json.hpp>
#include <godot_cpp/variant/dictionary.hpp>

#include "desktop/desktop_session_codec.hpp"
#include "godot_adapter/godot_string_conversion.hpp"

namespace qop::godot_adapter {
namespace {

// The engine's writer escapes a vertical tab as \v and leaves the other
// control characters raw; JSON allows neither, so a script's event id or
// source key holding one would make the whole payload unreadable to the
// desktop. Both become \u00XX escapes; every other byte stays as written.
std::string escape_control_characters(const std::string& json) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(json.size());
    for (std::size_t i = 0; i < json.size(); ++i) {
        const auto byte = static_cast<unsigned char>(json[i]);
        if (byte == '\\' && i + 1 < json.size()) {
            // An escape pair is copied whole, so the v of an escaped
            // backslash followed by a letter v is never mistaken for one.
            if (json[i + 1] == 'v') {
                escaped += "\\u000b";
            } else {
                escaped += json[i];
                escaped += json[i + 1];
            }
            ++i;
        } else if (byte < 0x20) {
            escaped += "\\u00";
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0x0F];
        } else {
            escaped += json[i];
        }
    }
    return escaped;
}

std::string to_compact_json(const godot::Dictionary& payload) {
    return escape_control_characters(
        to_std_string(godot::JSON::stringify(payload, "", true, false)));
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
