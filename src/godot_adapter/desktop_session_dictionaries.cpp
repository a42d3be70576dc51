#include "godot_adapter/desktop_session_dictionaries.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <godot_cpp/classes/json.hpp>
#include <godot_cpp/variant/packed_byte_array.hpp>
#include <godot_cpp/variant/packed_int32_array.hpp>

#include "godot_adapter/godot_string_conversion.hpp"

namespace qop::godot_adapter {
namespace {

struct CapabilityKey {
    const char* key;
    std::uint32_t field_number;
};

// Field numbers of the capability set's bool fields, in the order scripts see
// them.
constexpr CapabilityKey kCapabilityKeys[] = {
    {"achievements", 1}, {"user_context", 3},  {"hosted_bootstrap", 4}, {"anti_addiction", 6},
    {"lying_bottle", 7}, {"cloud_archive", 8}, {"leaderboard", 9},      {"share", 10},
};

bool capability_enabled(const qop::desktop::CapabilityMap& capabilities,
                        std::uint32_t field_number) {
    const auto found = capabilities.find(field_number);
    return found != capabilities.end() && found->second;
}

godot::PackedByteArray to_packed_bytes(const std::vector<std::uint8_t>& bytes) {
    godot::PackedByteArray packed;
    packed.resize(static_cast<int64_t>(bytes.size()));
    std::copy(bytes.begin(), bytes.end(), packed.ptrw());
    return packed;
}

}  // namespace

godot::Dictionary command_result_to_dictionary(const qop::desktop::CommandResult& result) {
    godot::Dictionary dictionary;
    dictionary["request_id"] = to_godot_string(result.request_id);
    dictionary["success"] = result.success;
    dictionary["code"] = to_godot_string(result.code);
    dictionary["message"] = to_godot_string(result.message);
    dictionary["content_json"] = to_godot_string(result.content_json);
    dictionary["content_bytes"] = to_packed_bytes(result.content_bytes);
    return dictionary;
}

godot::Dictionary sdk_error_to_dictionary(const qop::desktop::SdkError& error) {
    godot::Dictionary dictionary;
    dictionary["code"] = to_godot_string(error.code);
    dictionary["message"] = to_godot_string(error.message);
    dictionary["category"] = to_godot_string(error.category);
    dictionary["retryable"] = error.retryable;
    dictionary["channel_state"] = to_godot_string(error.channel_state);
    dictionary["attach_state"] = to_godot_string(error.attach_state);
    return dictionary;
}

godot::Dictionary invalid_input_to_dictionary(const char* message) {
    godot::Dictionary dictionary;
    dictionary["code"] = "INVALID_INPUT";
    dictionary["message"] = message;
    dictionary["category"] = "validation";
    dictionary["retryable"] = false;
    return dictionary;
}

godot::Dictionary capabilities_to_dictionary(const qop::desktop::CapabilityMap& capabilities) {
    godot::Dictionary dictionary;
    for (const CapabilityKey& capability : kCapabilityKeys) {
        dictionary[capability.key] = capability_enabled(capabilities, capability.field_number);
    }
    // The map's own order is arbitrary; ascending keeps the list stable for
    // scripts that compare it.
    std::vector<std::uint32_t> enabled;
    for (const auto& [field_number, offered] : capabilities) {
        if (offered) {
            enabled.push_back(field_number);
        }
    }
    std::sort(enabled.begin(), enabled.end());
    godot::PackedInt32Array enabled_field_numbers;
    for (const std::uint32_t field_number : enabled) {
        enabled_field_numbers.push_back(static_cast<int32_t>(field_number));
    }
    dictionary["enabled_field_numbers"] = enabled_field_numbers;
    return dictionary;
}

godot::Dictionary session_to_dictionary(const qop::desktop::AttachedSession& session) {
    godot::Dictionary user_profile;
    user_profile["nickname"] = to_godot_string(session.nickname);
    user_profile["display_tag"] = to_godot_string(session.display_tag);
    user_profile["avatar_available"] = session.avatar_available;
    user_profile["avatar_version"] = to_godot_string(session.avatar_version);

    godot::Dictionary dictionary;
    dictionary["desktop_session_id"] = to_godot_string(session.desktop_session_id);
    dictionary["user_id"] = to_godot_string(session.user_id);
    dictionary["account_id"] = to_godot_string(session.account_id);
    dictionary["login_state"] = to_godot_string(session.login_state);
    dictionary["app_id"] = static_cast<int64_t>(session.app_id);
    dictionary["capabilities"] = capabilities_to_dictionary(session.capabilities);
    dictionary["validated_executable_path"] = to_godot_string(session.validated_executable_path);
    dictionary["install_root"] = to_godot_string(session.install_root);
    dictionary["message"] = to_godot_string(session.message);
    dictionary["user_profile"] = user_profile;
    dictionary["channel_state"] = to_godot_string(session.channel_state);
    dictionary["attach_state"] = to_godot_string(session.attach_state);
    dictionary["attach_source"] = to_godot_string(session.attach_source);
    dictionary["anti_addiction_status"] = parse_json_variant(session.anti_addiction_status_json);
    dictionary["anti_addiction_event"] = parse_json_variant(session.anti_addiction_event_json);
    dictionary["desktop_protocol_version"] = to_godot_string(session.desktop_protocol_version);
    return dictionary;
}

godot::Variant parse_json_variant(const std::string& text) {
    if (text.empty()) {
        return godot::Variant();
    }
    const godot::String json_text = to_godot_string(text);
    godot::Variant parsed = godot::JSON::parse_string(json_text);
    if (parsed.get_type() == godot::Variant::NIL) {
        return json_text;
    }
    return parsed;
}

godot::Dictionary parse_json_dictionary(const std::string& text) {
    if (text.empty()) {
        return godot::Dictionary();
    }
    const godot::String json_text = to_godot_string(text);
    const godot::Variant parsed = godot::JSON::parse_string(json_text);
    if (parsed.get_type() == godot::Variant::DICTIONARY) {
        return parsed;
    }
    godot::Dictionary raw;
    raw["raw_json"] = json_text;
    return raw;
}

}  // namespace qop::godot_adapter
