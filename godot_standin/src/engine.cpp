#include <godot_cpp/classes/engine.hpp>

#include <godot_standin/engine_host.hpp>

#include "engine_version_info.hpp"

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
    return godot_standin::internal::version_info_dictionary(godot_standin::EngineVersion{});
}

}  // namespace godot
