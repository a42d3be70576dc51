#pragma once

#ifdef _WIN32

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "desktop/desktop_transport.hpp"

namespace qop::desktop::testing {

using Clock = std::chrono::steady_clock;

inline std::int64_t elapsed_ms(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

// What the system itself says for an error number, as the transport should
// quote it: UTF-8 without the trailing line break.
inline std::string system_text_of(DWORD error_number) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error_number, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (buffer == nullptr) {
        return std::string();
    }
    std::wstring text(buffer, length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) {
        text.pop_back();
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size,
                        nullptr, nullptr);
    return utf8;
}

inline std::string with_system_text(const std::string& message, DWORD error_number) {
    const std::string text = system_text_of(error_number);
    return text.empty() ? message : message + ": " + text;
}

// Polls until something other than Idle (or Partial, a frame not yet whole)
// arrives or the limit passes.
inline ReceiveResult receive_until_not_idle(
    DesktopTransport& transport, std::vector<std::uint8_t>& out, SdkError& error,
    std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
    const Clock::time_point deadline = Clock::now() + limit;
    for (;;) {
        const ReceiveResult result = transport.receive_frame(out, 20, error);
        const bool waiting = result == ReceiveResult::Idle || result == ReceiveResult::Partial;
        if (!waiting || Clock::now() >= deadline) {
            return result;
        }
    }
}

// CPU time the calling thread has used so far.
inline std::int64_t thread_cpu_ms() {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    const auto to_100ns = [](const FILETIME& t) {
        return (static_cast<std::int64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return (to_100ns(kernel) + to_100ns(user)) / 10000;
}

}  // namespace qop::desktop::testing

#endif
