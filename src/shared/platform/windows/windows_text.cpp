#ifdef _WIN32

#include "shared/platform/windows/windows_text.hpp"

#include <climits>

#include "shared/trailing_line_breaks.hpp"

namespace qop::windows {

bool utf8_to_wide(const std::string& utf8, std::wstring& wide) {
    wide.clear();
    if (utf8.empty()) {
        return true;
    }
    if (utf8.size() > static_cast<std::size_t>(INT_MAX)) {
        return false;
    }
    const int length = static_cast<int>(utf8.size());
    const int needed =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, nullptr, 0);
    if (needed <= 0) {
        return false;
    }
    std::wstring converted(static_cast<std::size_t>(needed), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), length, converted.data(),
                            needed) != needed) {
        return false;
    }
    wide = std::move(converted);
    return true;
}

std::string wide_to_utf8(const std::wstring& wide) {
    if (wide.empty() || wide.size() > static_cast<std::size_t>(INT_MAX)) {
        return std::string();
    }
    const int length = static_cast<int>(wide.size());
    const int needed = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length,
                                           nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return std::string();
    }
    std::string converted(static_cast<std::size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length, converted.data(),
                            needed, nullptr, nullptr) != needed) {
        return std::string();
    }
    return converted;
}

std::string system_error_text(DWORD error_number) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error_number, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (buffer == nullptr) {
        return std::string();
    }
    std::wstring text(buffer, length);
    LocalFree(buffer);
    network::strip_trailing_line_breaks(text);
    return wide_to_utf8(text);
}

}  // namespace qop::windows

#endif
