#include "desktop/desktop_platform.hpp"

#ifdef _WIN32
#include "desktop/platform/windows/windows_desktop_platform.hpp"
#endif

namespace qop::desktop {

std::unique_ptr<DesktopPlatform> create_default_platform() {
#ifdef _WIN32
    return make_windows_desktop_platform();
#else
    return nullptr;
#endif
}

}  // namespace qop::desktop
