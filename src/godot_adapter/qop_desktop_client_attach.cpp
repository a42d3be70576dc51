#include "godot_adapter/qop_desktop_client.hpp"

#include <utility>

#include <godot_cpp/classes/os.hpp>

#include "desktop/desktop_session_client.hpp"
#include "godot_adapter/desktop_session_options.hpp"
#include "godot_adapter/godot_string_conversion.hpp"

namespace qop::godot_adapter {

void QOPDesktopClient::configure(int64_t app_id, const godot::String& environment, bool auto_launch,
                                 bool auto_reconnect, const godot::String& pipe_endpoint_override,
                                 const godot::String& launch_command) {
    // Only stored: a running session keeps the options it was started with.
    app_id_ = configured_app_id(app_id);
    environment_ = normalize_environment(to_std_string(environment));
    auto_launch_ = auto_launch;
    auto_reconnect_ = auto_reconnect;
    pipe_endpoint_override_ = to_std_string(pipe_endpoint_override);
    launch_command_ = to_std_string(launch_command);
}

bool QOPDesktopClient::attach() {
    // The engine name, the process id (the game's own) and the timeouts keep
    // the defaults of the session options.
    qop::desktop::DesktopAttachOptions options;
    options.environment = environment_;
    options.pipe_endpoint_override = pipe_endpoint_override_;
    options.launch_command = launch_command_;
    // Resolved before anything else is read from the engine.
    options.app_id = resolve_app_id(app_id_);
    godot::OS* const os = godot::OS::get_singleton();
    options.executable_path = os != nullptr ? to_std_string(os->get_executable_path()) : "";
    options.sdk_version = kSdkVersion;
    options.engine_version = resolve_engine_version();
    options.auto_launch = auto_launch_;
    options.auto_reconnect = auto_reconnect_;

    // A refusal has queued an error event; the script sees it at its next
    // poll_events.
    return session_client_->start(std::move(options));
}

void QOPDesktopClient::disconnect_desktop() {
    session_client_->disconnect();
}

godot::String QOPDesktopClient::get_sdk_version() const {
    return godot::String(kSdkVersion);
}

}  // namespace qop::godot_adapter
