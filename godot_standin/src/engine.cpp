#include <godot_cpp/classes/engine.hpp>

#include <godot_standin/engine_host.hpp>

namespace godot {

Engine* Engine::get_singleton() {
    static Engine singleton;
    godot_standin::EngineHost* host = godot_standin::EngineHost::current();
    if (host != nullptr && !host->engine_available()) {
        return nullptr;
    }
    return &singleton;
}

// Without an engine host it reports the engine the library is built for.
Dictionary Engine::get_version_info() const {
    godot_standin::EngineHost* host = godot_standin::EngineHost::current();
    if (host != nullptr) {
        return host->version_info();
    }
    Dictionary info;
    info["major"] = 4;
    info["minor"] = 7;
    info["patch"] = 0;
    info["hex"] = 0x040700;
    info["status"] = "stable";
    info["build"] = "standin";
    info["hash"] = "";
    info["timestamp"] = 0;
    info["string"] = "4.7.0-stable (standin)";
    return info;
}

}  // namespace godot
