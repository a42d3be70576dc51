#include "desktop/desktop_discovery_rules.hpp"

#include <cwctype>

#include "desktop/desktop_release_channel.hpp"
#include "desktop/desktop_session_records.hpp"

namespace qop::desktop {
namespace {

bool is_separator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool is_drive_letter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// Length of a leading drive root name such as "C:".
std::size_t root_name_length(const std::wstring& path) {
    if (path.size() >= 2 && path[1] == L':' && is_drive_letter(path[0])) {
        return 2;
    }
    return 0;
}

std::size_t last_component_start(const std::wstring& path) {
    const std::size_t separator = path.find_last_of(L"\\/");
    const std::size_t after_separator = separator == std::wstring::npos ? 0 : separator + 1;
    const std::size_t after_root = root_name_length(path);
    return after_separator > after_root ? after_separator : after_root;
}

std::wstring lowercase(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    }
    return text;
}

void add_candidate(std::vector<std::wstring>& candidates, const std::wstring& candidate,
                   const std::wstring& executable_name) {
    if (!candidate.empty()) {
        candidates.push_back(shape_candidate(candidate, executable_name));
    }
}

}  // namespace

std::wstring last_path_component(const std::wstring& path) {
    return path.substr(last_component_start(path));
}

std::wstring parent_folder(const std::wstring& path) {
    const std::size_t start = last_component_start(path);
    const std::size_t root = root_name_length(path);
    std::size_t end = start;
    while (end > root && is_separator(path[end - 1])) {
        --end;
    }
    if (end == root && start > root) {
        // Only the root folder's separator is left: keep it ("C:\", "\").
        end = root + 1;
    }
    return path.substr(0, end);
}

std::wstring lowercase_extension(const std::wstring& path) {
    std::wstring component = last_path_component(path);
    // An alternate data stream name is not part of the file name's extension.
    const std::size_t stream = component.find(L':');
    if (stream != std::wstring::npos) {
        component.resize(stream);
    }
    if (component == L"..") {
        return std::wstring();
    }
    const std::size_t dot = component.rfind(L'.');
    if (dot == std::wstring::npos || dot == 0) {
        return std::wstring();
    }
    return lowercase(component.substr(dot));
}

std::wstring join_path(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty() || is_separator(folder.back()) ||
        folder.size() == root_name_length(folder)) {
        return folder + name;
    }
    return folder + L'\\' + name;
}

bool equal_ignoring_case(const std::wstring& left, const std::wstring& right) {
    return lowercase(left) == lowercase(right);
}

std::wstring shape_candidate(const std::wstring& candidate, const std::wstring& executable_name) {
    if (lowercase_extension(candidate) == L".exe") {
        return candidate;
    }
    return join_path(candidate, executable_name);
}

std::vector<std::wstring> gather_desktop_candidates(const DesktopAttachOptions& options,
                                                    const DiscoveryLookups& lookups) {
    const ReleaseChannel channel = release_channel_of(options.environment);
    const ReleaseChannelConstants& constants = channel_constants(channel);
    const std::wstring& executable = constants.executable_name;
    std::vector<std::wstring> candidates;

    if (channel == ReleaseChannel::Dev) {
        std::wstring launch_command;
        if (!options.launch_command.empty() && lookups.utf8_to_wide &&
            lookups.utf8_to_wide(options.launch_command, launch_command)) {
            add_candidate(candidates, launch_command, executable);
        }
        if (lookups.environment_variable) {
            add_candidate(candidates, lookups.environment_variable(kDesktopPathVariable),
                          executable);
        }
    }

    if (lookups.registry_string) {
        const std::wstring app_paths =
            L"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + executable;
        add_candidate(candidates,
                      lookups.registry_string(RegistryRoot::LocalMachine, app_paths, L""),
                      executable);
        add_candidate(candidates,
                      lookups.registry_string(RegistryRoot::CurrentUser, app_paths, L""),
                      executable);
        for (const std::wstring& key : constants.install_path_keys) {
            add_candidate(candidates,
                          lookups.registry_string(RegistryRoot::CurrentUser, key, L"InstallPath"),
                          executable);
        }
    }

    std::wstring local_app_data;
    if (lookups.local_app_data_folder && lookups.local_app_data_folder(local_app_data) &&
        !local_app_data.empty()) {
        add_candidate(candidates,
                      join_path(join_path(local_app_data, L"Programs"), constants.programs_folder),
                      executable);
    }
    return candidates;
}

std::optional<std::wstring> pick_desktop_executable(
    const std::vector<std::wstring>& candidates, const std::wstring& executable_name,
    const std::function<bool(const std::wstring&)>& is_regular_file) {
    if (!is_regular_file) {
        return std::nullopt;
    }
    for (const std::wstring& candidate : candidates) {
        // The system reads a path only up to its first NUL: such a candidate
        // would be checked and started under another name than the one
        // compared here.
        if (candidate.find(L'\0') != std::wstring::npos) {
            continue;
        }
        if (equal_ignoring_case(last_path_component(candidate), executable_name) &&
            is_regular_file(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::optional<std::wstring> resolve_desktop_executable(const DesktopAttachOptions& options,
                                                       const DiscoveryLookups& lookups) {
    const std::wstring& executable =
        channel_constants(release_channel_of(options.environment)).executable_name;
    return pick_desktop_executable(gather_desktop_candidates(options, lookups), executable,
                                   lookups.is_regular_file);
}

}  // namespace qop::desktop
