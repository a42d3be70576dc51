#ifdef _WIN32

#include "desktop/platform/windows/windows_discovery_lookups.hpp"

#include <windows.h>
// Shell declarations need windows.h first.
#include <shlobj.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "shared/platform/windows/windows_text.hpp"

namespace qop::desktop {
namespace {

class RegistryKey {
public:
    RegistryKey() = default;
    ~RegistryKey() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY* out() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

void strip_trailing_nuls(std::wstring& text) {
    while (!text.empty() && text.back() == L'\0') {
        text.pop_back();
    }
}

std::wstring expand_environment_strings(const std::wstring& text) {
    const DWORD needed = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    if (needed == 0) {
        return text;
    }
    std::wstring expanded(needed, L'\0');
    const DWORD written = ExpandEnvironmentStringsW(text.c_str(), expanded.data(), needed);
    // The environment may have grown between the two calls; then the buffer
    // holds no complete expansion.
    if (written == 0 || written > needed) {
        return text;
    }
    expanded.resize(written);
    strip_trailing_nuls(expanded);
    return expanded;
}

bool local_app_data_folder(std::wstring& folder) {
    wchar_t buffer[MAX_PATH] = {};
    if (FAILED(
            SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer))) {
        return false;
    }
    folder.assign(buffer);
    return !folder.empty();
}

bool is_existing_regular_file(const std::wstring& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(std::filesystem::path(path), error);
}

}  // namespace

std::wstring read_registry_string(HKEY root, const std::wstring& subkey,
                                  const std::wstring& value_name) {
    RegistryKey key;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, key.out()) != ERROR_SUCCESS) {
        return std::wstring();
    }
    const wchar_t* name = value_name.empty() ? nullptr : value_name.c_str();
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
        return std::wstring();
    }
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size < 2) {
        return std::wstring();
    }
    // Room for an odd trailing byte and a terminator; the system is told the
    // buffer's real byte size so it can never write past it.
    std::wstring text((size + 1) / 2 + 1, L'\0');
    DWORD buffer_bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD read_type = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &read_type, reinterpret_cast<BYTE*>(text.data()),
                         &buffer_bytes) != ERROR_SUCCESS) {
        return std::wstring();
    }
    if (read_type != REG_SZ && read_type != REG_EXPAND_SZ) {
        return std::wstring();
    }
    text.resize(std::min<std::size_t>(text.size(), (buffer_bytes + 1) / 2));
    strip_trailing_nuls(text);
    if (read_type == REG_EXPAND_SZ && !text.empty()) {
        text = expand_environment_strings(text);
    }
    return text;
}

std::wstring read_environment_variable(const std::wstring& name) {
    const DWORD size = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
    if (size == 0) {
        return std::wstring();
    }
    std::wstring value(size, L'\0');
    const DWORD written = GetEnvironmentVariableW(name.c_str(), value.data(), size);
    if (written == 0 || written >= size) {
        return std::wstring();
    }
    value.resize(written);
    return value;
}

DiscoveryLookups make_system_discovery_lookups() {
    DiscoveryLookups lookups;
    lookups.utf8_to_wide = [](const std::string& utf8, std::wstring& wide) {
        return windows::utf8_to_wide(utf8, wide);
    };
    lookups.environment_variable = [](const std::wstring& name) {
        return read_environment_variable(name);
    };
    lookups.registry_string = [](RegistryRoot root, const std::wstring& subkey,
                                 const std::wstring& value_name) {
        const HKEY root_key =
            root == RegistryRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
        return read_registry_string(root_key, subkey, value_name);
    };
    lookups.local_app_data_folder = local_app_data_folder;
    lookups.is_regular_file = is_existing_regular_file;
    return lookups;
}

}  // namespace qop::desktop

#endif
