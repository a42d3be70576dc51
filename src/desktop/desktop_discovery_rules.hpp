#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qop::desktop {

struct DesktopAttachOptions;

// The desktop client's folder or executable on the "dev" channel.
inline constexpr wchar_t kDesktopPathVariable[] = L"ORVIK_DESKTOP_PATH";

enum class RegistryRoot { LocalMachine, CurrentUser };

// The operating-system lookups that discovery works from. Each returns an
// empty string (or false) when its source yields nothing.
struct DiscoveryLookups {
    // Strict UTF-8 to UTF-16; false for invalid text.
    std::function<bool(const std::string& utf8, std::wstring& wide)> utf8_to_wide;
    std::function<std::wstring(const std::wstring& name)> environment_variable;
    // An empty value name reads the key's default value.
    std::function<std::wstring(RegistryRoot root, const std::wstring& subkey,
                               const std::wstring& value_name)>
        registry_string;
    std::function<bool(std::wstring& folder)> local_app_data_folder;
    // Follows symbolic links; false for directories and unreadable paths.
    std::function<bool(const std::wstring& path)> is_regular_file;
};

// Windows path pieces, as the platform's path library takes them apart.
std::wstring last_path_component(const std::wstring& path);
std::wstring parent_folder(const std::wstring& path);
std::wstring lowercase_extension(const std::wstring& path);
std::wstring join_path(const std::wstring& folder, const std::wstring& name);
bool equal_ignoring_case(const std::wstring& left, const std::wstring& right);

// A candidate with the ".exe" extension (any case) is the file itself; any
// other candidate is a folder that should hold the executable.
std::wstring shape_candidate(const std::wstring& candidate, const std::wstring& executable_name);

// Every candidate for the options' channel, shaped, in search order.
std::vector<std::wstring> gather_desktop_candidates(const DesktopAttachOptions& options,
                                                    const DiscoveryLookups& lookups);

// The first candidate that is an existing regular file named like the
// executable (without regard to case).
std::optional<std::wstring> pick_desktop_executable(
    const std::vector<std::wstring>& candidates, const std::wstring& executable_name,
    const std::function<bool(const std::wstring&)>& is_regular_file);

std::optional<std::wstring> resolve_desktop_executable(const DesktopAttachOptions& options,
                                                       const DiscoveryLookups& lookups);

}  // namespace qop::desktop
