#pragma once

#include <cstdint>
#include <string>

#include <godot_cpp/variant/dictionary.hpp>
#include <godot_standin/engine_host.hpp>

namespace godot_standin {
namespace internal {

// The forms in which the engine describes its version: 0xMMmmpp, the text
// "4.7.0-stable (standin)" and the Dictionary of Engine.get_version_info().
uint32_t version_hex(const EngineVersion& p_version);
std::string version_text(const EngineVersion& p_version);
godot::Dictionary version_info_dictionary(const EngineVersion& p_version);

}  // namespace internal
}  // namespace godot_standin
