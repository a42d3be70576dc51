#pragma once

#ifdef _WIN32

#include <windows.h>

#include <string>

#include "desktop/desktop_discovery_rules.hpp"

namespace qop::desktop {

// A string value (REG_SZ, or REG_EXPAND_SZ expanded) of a registry key; an
// empty value name reads the key's default value. Empty when the key or value
// is missing, of another type or unreadable.
std::wstring read_registry_string(HKEY root, const std::wstring& subkey,
                                  const std::wstring& value_name);

// Empty when unset, empty or unreadable.
std::wstring read_environment_variable(const std::wstring& name);

// The lookups of discovery, answered by this machine.
DiscoveryLookups make_system_discovery_lookups();

}  // namespace qop::desktop

#endif
