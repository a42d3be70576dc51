#pragma once

// JSON payloads of the achievement commands, written with the engine's JSON
// writer (compact, keys sorted).

#include <cstdint>
#include <string>

#include <godot_cpp/variant/string.hpp>

namespace qop::godot_adapter {

// {"appId"?, "eventId", "occurredAt"?}; a fresh id stands in for an empty
// event id.
std::string unlock_achievement_payload(const godot::String& event_id, int64_t occurred_at_unix_ms,
                                       int64_t app_id);

// The unlock fields plus "progressValue" and, when given, "progressSourceKey".
std::string achievement_progress_payload(double progress_value,
                                         const godot::String& progress_source_key,
                                         const godot::String& event_id, int64_t occurred_at_unix_ms,
                                         int64_t app_id);

// {"appId": N} for a positive id; the empty text otherwise.
std::string clear_achievements_payload(int64_t app_id);

}  // namespace qop::godot_adapter
