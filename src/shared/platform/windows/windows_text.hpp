#pragma once

// Conversions between the UTF-8 we hold and the wide text of the Windows API.

#ifdef _WIN32

#include <windows.h>

#include <string>

namespace qop::windows {

// Strict conversion: invalid UTF-8 gives false (and an empty result).
bool utf8_to_wide(const std::string& utf8, std::wstring& wide);

// Empty when the text cannot be converted.
std::string wide_to_utf8(const std::wstring& wide);

// The system's own text for a Windows error number, without its trailing
// line break; empty when the system has none.
std::string system_error_text(DWORD error_number);

}  // namespace qop::windows

#endif
