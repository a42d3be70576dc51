#ifdef _WIN32

#include <mutex>

#include "relay/socket_compat.hpp"

namespace qop::network {
namespace {

enum class WinsockState { NotStarted, Started, StartFailed };

std::mutex g_mutex;
WinsockState g_state = WinsockState::NotStarted;

}  // namespace

bool start_socket_library() {
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (g_state == WinsockState::NotStarted) {
        WSADATA data{};
        g_state = WSAStartup(MAKEWORD(2, 2), &data) == 0 ? WinsockState::Started
                                                         : WinsockState::StartFailed;
    }
    return g_state == WinsockState::Started;
}

void stop_socket_library() {
    const std::lock_guard<std::mutex> lock(g_mutex);
    if (g_state == WinsockState::Started) {
        WSACleanup();
        // A library initialised again in the same process (an engine that
        // reloads it, a test host) starts Winsock again on first use.
        g_state = WinsockState::NotStarted;
    }
}

}  // namespace qop::network

#endif
