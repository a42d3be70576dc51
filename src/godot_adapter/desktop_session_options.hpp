#pragma once

// How the node turns its configuration and what the engine reports (command
// line, environment, version, executable path) into the options of one
// desktop session.

#include <cstdint>
#include <string>

#include <godot_cpp/variant/string.hpp>

namespace qop::godot_adapter {

// The SDK version reported to scripts and sent in the attach request.
inline constexpr const char* kSdkVersion = "0.1.7";

// An application id from configure(): 1..4294967295 is kept, anything else
// becomes 0 (resolved at attach).
std::uint32_t configured_app_id(int64_t app_id);

// ASCII letters are lower-cased; "dev" and "preview" are kept, anything else
// becomes "prod".
std::string normalize_environment(const std::string& environment);

// True with `app_id` set when `text` is a decimal number in 1..4294967295,
// optionally preceded by white space and a plus sign, with nothing after it.
bool parse_app_id(const godot::String& text, std::uint32_t& app_id);

// The configured id, else the first valid id on the command line
// (--qop-app-id N, --qop-app-id=N, --dovral-app-id N), else ORVIK_APP_ID,
// else QOP_APP_ID; 0 when none is found.
std::uint32_t resolve_app_id(std::uint32_t configured);

// "major.minor.patch" from the engine, "4.7.1" without one.
std::string resolve_engine_version();

}  // namespace qop::godot_adapter
