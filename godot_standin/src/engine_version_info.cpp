#include "engine_version_info.hpp"

namespace godot_standin {
namespace internal {

uint32_t version_hex(const EngineVersion& p_version) {
    return (p_version.major << 16) | (p_version.minor << 8) | p_version.patch;
}

std::string version_text(const EngineVersion& p_version) {
    return std::to_string(p_version.major) + "." + std::to_string(p_version.minor) + "." +
           std::to_string(p_version.patch) + "-stable (standin)";
}

godot::Dictionary version_info_dictionary(const EngineVersion& p_version) {
    godot::Dictionary info;
    info["major"] = p_version.major;
    info["minor"] = p_version.minor;
    info["patch"] = p_version.patch;
    info["hex"] = version_hex(p_version);
    info["status"] = "stable";
    info["build"] = "standin";
    info["hash"] = "";
    info["timestamp"] = 0;
    info["string"] = godot::String(version_text(p_version).c_str());
    return info;
}

}  // namespace internal
}  // namespace godot_standin
