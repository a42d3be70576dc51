#pragma once

#ifdef _WIN32

#include <memory>

#include "desktop/desktop_platform.hpp"

namespace qop::desktop {

std::unique_ptr<DesktopPlatform> make_windows_desktop_platform();

}  // namespace qop::desktop

#endif
