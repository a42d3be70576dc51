#ifdef _WIN32

#include "desktop/platform/windows/windows_desktop_platform.hpp"

#include <windows.h>
// Shell declarations need windows.h first.
#include <shellapi.h>

#include <cstdint>
#include <optional>

#include "desktop/desktop_discovery_rules.hpp"
#include "desktop/desktop_endpoint_rules.hpp"
#include "desktop/desktop_session_codec.hpp"
#include "desktop/desktop_session_records.hpp"
#include "desktop/platform/windows/windows_discovery_lookups.hpp"
#include "desktop/platform/windows/windows_named_pipe_transport.hpp"
#include "shared/platform/windows/windows_text.hpp"

namespace qop::desktop {
namespace {

class WindowsDesktopPlatform final : public DesktopPlatform {
public:
    std::unique_ptr<DesktopTransport> create_transport() override {
        return make_named_pipe_transport();
    }

    std::string resolve_pipe_endpoint(const DesktopAttachOptions& options) override {
        return choose_pipe_endpoint(options, [] {
            return windows::wide_to_utf8(read_environment_variable(kPipeEndpointVariable));
        });
    }

    std::uint32_t current_process_id() override { return GetCurrentProcessId(); }

    bool launch_desktop_client(const DesktopAttachOptions& options, SdkError& error) override {
        const std::optional<std::wstring> executable =
            resolve_desktop_executable(options, make_system_discovery_lookups());
        if (!executable) {
            error = make_session_required_error("Desktop launch command could not be resolved");
            return false;
        }
        const std::wstring folder = parent_folder(*executable);
        const HINSTANCE started =
            ShellExecuteW(nullptr, L"open", executable->c_str(), nullptr,
                          folder.empty() ? nullptr : folder.c_str(), SW_SHOWNORMAL);
        if (reinterpret_cast<std::intptr_t>(started) <= 32) {
            error = make_session_required_error("Failed to launch QOP desktop");
            return false;
        }
        return true;
    }
};

}  // namespace

std::unique_ptr<DesktopPlatform> make_windows_desktop_platform() {
    return std::make_unique<WindowsDesktopPlatform>();
}

}  // namespace qop::desktop

#endif
