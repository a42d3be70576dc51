#include <godot_cpp/classes/os.hpp>

#include <godot_standin/engine_host.hpp>

namespace godot {

// Without an engine host the process reports nothing: no arguments, no
// environment and no executable path, so tests never see the real machine.
OS* OS::get_singleton() {
    static OS singleton;
    godot_standin::EngineHost* host = godot_standin::EngineHost::current();
    if (host != nullptr && !host->os_available()) {
        return nullptr;
    }
    return &singleton;
}

PackedStringArray OS::get_cmdline_args() {
    godot_standin::EngineHost* host = godot_standin::EngineHost::current();
    return host != nullptr ? host->cmdline_args() : PackedStringArray();
}

String OS::get_environment(const String& p_variable) const {
    godot_standin::EngineHost* host = godot_standin::EngineHost::current();
    return host != nullptr ? host->environment_variable(p_variable) : String();
}

String OS::get_executable_path() const {
    godot_standin::EngineHost* host = godot_standin::EngineHost::current();
    return host != nullptr ? host->executable_path() : String();
}

}  // namespace godot
