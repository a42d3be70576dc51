#include "desktop/desktop_endpoint_rules.hpp"

#include "desktop/desktop_release_channel.hpp"
#include "desktop/desktop_session_records.hpp"

namespace qop::desktop {

std::string choose_pipe_endpoint(const DesktopAttachOptions& options,
                                 const PipeEndpointVariableLookup& read_endpoint_variable) {
    const ReleaseChannel channel = release_channel_of(options.environment);
    if (channel == ReleaseChannel::Dev && !options.pipe_endpoint_override.empty()) {
        return options.pipe_endpoint_override;
    }
    if (read_endpoint_variable) {
        std::string from_environment = read_endpoint_variable();
        if (!from_environment.empty()) {
            return from_environment;
        }
    }
    return channel_constants(channel).default_pipe_endpoint;
}

std::wstring complete_pipe_path(const std::wstring& name) {
    static const std::wstring prefix = L"\\\\.\\pipe\\";
    if (name.compare(0, prefix.size(), prefix) == 0) {
        return name;
    }
    return prefix + name;
}

}  // namespace qop::desktop
