#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "desktop/desktop_session_records.hpp"
#include "desktop/desktop_transport.hpp"

namespace qop::desktop {

// Everything the session client needs from the operating system: a transport,
// the pipe endpoint to open, the game's process id and a way to start the
// desktop client when no session can be reached.
class DesktopPlatform {
public:
    virtual ~DesktopPlatform() = default;

    // A new, unconnected transport; null when the platform has none.
    virtual std::unique_ptr<DesktopTransport> create_transport() = 0;

    // The pipe endpoint for the options' release channel, as UTF-8. May be a
    // bare pipe name; the transport completes it.
    virtual std::string resolve_pipe_endpoint(const DesktopAttachOptions& options) = 0;

    virtual std::uint32_t current_process_id() = 0;

    // True when starting the desktop client was handed to the shell; false
    // with `error` filled otherwise. Does not wait for the client to come up.
    virtual bool launch_desktop_client(const DesktopAttachOptions& options, SdkError& error) = 0;
};

// The platform of the operating system the library runs on; null where the
// library has no platform layer.
std::unique_ptr<DesktopPlatform> create_default_platform();

}  // namespace qop::desktop
