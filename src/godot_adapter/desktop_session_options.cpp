#include "godot_adapter/desktop_session_options.hpp"

#include <cctype>
#include <cstdlib>

#include <godot_cpp/classes/engine.hpp>
#include <godot_cpp/classes/os.hpp>
#include <godot_cpp/variant/dictionary.hpp>
#include <godot_cpp/variant/packed_string_array.hpp>
#include <godot_cpp/variant/variant.hpp>

#include "godot_adapter/godot_string_conversion.hpp"

namespace qop::godot_adapter {
namespace {

constexpr std::uint64_t kLargestAppId = 0xFFFFFFFFull;
constexpr const char kQopAppIdOption[] = "--qop-app-id";
constexpr const char kDovralAppIdOption[] = "--dovral-app-id";
constexpr const char kQopAppIdPrefix[] = "--qop-app-id=";

bool parse_app_id_bytes(const std::string& text, std::uint32_t& app_id) {
    const char* const begin = text.c_str();
    const char* first = begin;
    while (std::isspace(static_cast<unsigned char>(*first))) {
        ++first;
    }
    // strtoull would negate the value modulo 2^64, so "-18446744073709551615"
    // would come out as 1: a minus sign never gives an id.
    if (*first == '-') {
        return false;
    }
    char* end = nullptr;
    const unsigned long long value = std::strtoull(begin, &end, 10);
    if (end == begin || end != begin + text.size()) {
        return false;
    }
    if (value < 1 || value > kLargestAppId) {
        return false;
    }
    app_id = static_cast<std::uint32_t>(value);
    return true;
}

std::uint32_t app_id_from_command_line(const godot::PackedStringArray& arguments) {
    const int64_t count = arguments.size();
    for (int64_t i = 0; i < count; ++i) {
        const std::string argument = to_std_string(arguments[i]);
        std::uint32_t app_id = 0;
        if (argument == kQopAppIdOption || argument == kDovralAppIdOption) {
            // When the value is missing or invalid, the next argument is
            // examined as an option in its own right.
            if (i + 1 < count && parse_app_id(arguments[i + 1], app_id)) {
                return app_id;
            }
            continue;
        }
        const std::string prefix = kQopAppIdPrefix;
        if (argument.compare(0, prefix.size(), prefix) == 0 &&
            parse_app_id_bytes(argument.substr(prefix.size()), app_id)) {
            return app_id;
        }
    }
    return 0;
}

std::string version_part(const godot::Dictionary& info, const char* key, int64_t fallback) {
    const int64_t value = info.get(key, fallback);
    return std::to_string(value);
}

}  // namespace

std::uint32_t configured_app_id(int64_t app_id) {
    if (app_id < 1 || static_cast<std::uint64_t>(app_id) > kLargestAppId) {
        return 0;
    }
    return static_cast<std::uint32_t>(app_id);
}

std::string normalize_environment(const std::string& environment) {
    std::string lowered = environment;
    for (char& byte : lowered) {
        byte = static_cast<char>(std::tolower(static_cast<unsigned char>(byte)));
    }
    if (lowered == "dev" || lowered == "preview") {
        return lowered;
    }
    return "prod";
}

bool parse_app_id(const godot::String& text, std::uint32_t& app_id) {
    return parse_app_id_bytes(to_std_string(text), app_id);
}

std::uint32_t resolve_app_id(std::uint32_t configured) {
    if (configured != 0) {
        return configured;
    }
    godot::OS* const os = godot::OS::get_singleton();
    if (os == nullptr) {
        return 0;
    }
    const std::uint32_t from_command_line = app_id_from_command_line(os->get_cmdline_args());
    if (from_command_line != 0) {
        return from_command_line;
    }
    for (const char* variable : {"ORVIK_APP_ID", "QOP_APP_ID"}) {
        std::uint32_t app_id = 0;
        if (parse_app_id(os->get_environment(variable), app_id)) {
            return app_id;
        }
    }
    return 0;
}

std::string resolve_engine_version() {
    godot::Engine* const engine = godot::Engine::get_singleton();
    if (engine == nullptr) {
        return "4.7.1";
    }
    const godot::Dictionary info = engine->get_version_info();
    return version_part(info, "major", 4) + "." + version_part(info, "minor", 7) + "." +
           version_part(info, "patch", 1);
}

}  // namespace qop::godot_adapter
