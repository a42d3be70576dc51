#pragma once

// The one place where Winsock and POSIX sockets differ. Everything above this
// header is written once for both.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdint>

namespace qop::network {

#ifdef _WIN32
using SocketHandle = SOCKET;
inline constexpr SocketHandle kInvalidSocket = INVALID_SOCKET;
#else
using SocketHandle = int;
inline constexpr SocketHandle kInvalidSocket = -1;
#endif

// Starts the system's socket library once per process; concurrent first calls
// start it once. A failed start is remembered and never retried.
bool start_socket_library();
// Releases the socket library when it was started; a later
// start_socket_library() starts it again. Meant for an explicit
// de-initialisation of the library; never call it from a static destructor
// or DllMain (Winsock must not be torn down under the loader lock).
void stop_socket_library();

inline int last_socket_error() {
#ifdef _WIN32
    return WSAGetLastError();
#else
    return errno;
#endif
}

inline bool is_would_block(int error) {
#ifdef _WIN32
    return error == WSAEWOULDBLOCK;
#else
    return error == EAGAIN || error == EWOULDBLOCK;
#endif
}

// The socket refused a datagram as larger than it sends.
inline bool is_message_too_long(int error) {
#ifdef _WIN32
    return error == WSAEMSGSIZE;
#else
    return error == EMSGSIZE;
#endif
}

inline bool is_interrupted(int error) {
#ifdef _WIN32
    return error == WSAEINTR;
#else
    return error == EINTR;
#endif
}

inline void close_socket(SocketHandle socket) {
#ifdef _WIN32
    closesocket(socket);
#else
    ::close(socket);
#endif
}

inline void shutdown_both_directions(SocketHandle socket) {
#ifdef _WIN32
    shutdown(socket, SD_BOTH);
#else
    shutdown(socket, SHUT_RDWR);
#endif
}

inline bool set_non_blocking(SocketHandle socket) {
#ifdef _WIN32
    u_long enabled = 1;
    return ioctlsocket(socket, FIONBIO, &enabled) == 0;
#else
    int enabled = 1;
    return ioctl(socket, FIONBIO, &enabled) == 0;
#endif
}

// A non-blocking connect that has started but not yet finished.
inline bool is_connect_in_progress(int error) {
#ifdef _WIN32
    return error == WSAEWOULDBLOCK;
#else
    return error == EINPROGRESS;
#endif
}

enum class SocketWait { Readable, Writable };
enum class SocketWaitResult { Ready, Failed, TimedOut };

// Waits at most `timeout` for the socket to become readable or writable. A
// socket whose connect failed is Ready on POSIX (connect_succeeded tells) and
// Failed on Windows, which reports that in the exception set only. An
// interrupted wait counts as TimedOut: callers wait in slices anyway.
inline SocketWaitResult wait_for_socket(SocketHandle socket, SocketWait what,
                                        std::chrono::milliseconds timeout) {
    const long long millis = std::max<long long>(0, timeout.count());
#ifdef _WIN32
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket, &ready);
    FD_SET(socket, &failed);
    const bool writing = what == SocketWait::Writable;
    timeval wait{};
    wait.tv_sec = static_cast<long>(millis / 1000);
    wait.tv_usec = static_cast<long>((millis % 1000) * 1000);
    // Only a connecting socket's exception set matters (a refused connect).
    const int count = select(0, writing ? nullptr : &ready, writing ? &ready : nullptr,
                             writing ? &failed : nullptr, &wait);
    if (count == 0) {
        return SocketWaitResult::TimedOut;
    }
    if (count < 0 || (writing && FD_ISSET(socket, &failed))) {
        return SocketWaitResult::Failed;
    }
    return SocketWaitResult::Ready;
#else
    // poll, not select: a descriptor number above FD_SETSIZE must not matter.
    pollfd entry{};
    entry.fd = socket;
    entry.events = what == SocketWait::Writable ? POLLOUT : POLLIN;
    const int count = ::poll(&entry, 1, static_cast<int>(std::min<long long>(millis, INT_MAX)));
    if (count > 0) {
        return (entry.revents & POLLNVAL) != 0 ? SocketWaitResult::Failed : SocketWaitResult::Ready;
    }
    return count == 0 || is_interrupted(errno) ? SocketWaitResult::TimedOut
                                               : SocketWaitResult::Failed;
#endif
}

// At most this many sockets are asked at once by sockets_readable_now.
inline constexpr std::size_t kMaxSocketsAskedAtOnce = 8;

// Asks, without waiting, which of `count` sockets (at most
// kMaxSocketsAskedAtOnce) a receive would report something for: data, a
// close or an error. False when the question itself failed or was too large.
inline bool sockets_readable_now(const SocketHandle* sockets, std::size_t count, bool* readable) {
    if (count > kMaxSocketsAskedAtOnce) {
        return false;
    }
#ifdef _WIN32
    // Winsock's fd_set is a list of handles, not a bit set: any handle fits.
    fd_set ready;
    FD_ZERO(&ready);
    for (std::size_t i = 0; i < count; ++i) {
        FD_SET(sockets[i], &ready);
    }
    timeval no_wait{};
    if (select(0, &ready, nullptr, nullptr, &no_wait) < 0) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        readable[i] = FD_ISSET(sockets[i], &ready) != 0;
    }
#else
    pollfd entries[kMaxSocketsAskedAtOnce]{};
    for (std::size_t i = 0; i < count; ++i) {
        entries[i].fd = sockets[i];
        entries[i].events = POLLIN;
    }
    if (::poll(entries, static_cast<nfds_t>(count), 0) < 0) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        // POLLHUP, POLLERR and POLLNVAL are what a receive would report too.
        readable[i] = entries[i].revents != 0;
    }
#endif
    return true;
}

// After a non-blocking connect has become writable: true when it connected.
inline bool connect_succeeded(SocketHandle socket) {
    int status = 0;
#ifdef _WIN32
    int length = sizeof(status);
#else
    socklen_t length = sizeof(status);
#endif
    return getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&status), &length) ==
               0 &&
           status == 0;
}

// Waits for a non-blocking connect to finish; true only when it connected
// within `timeout`.
inline bool wait_for_connect(SocketHandle socket, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        switch (wait_for_socket(socket, SocketWait::Writable,
                                std::max(left, std::chrono::milliseconds(0)))) {
            case SocketWaitResult::Ready:
                return connect_succeeded(socket);
            case SocketWaitResult::Failed:
                return false;
            case SocketWaitResult::TimedOut:
                if (left.count() <= 0) {
                    return false;
                }
                break;
        }
    }
}

inline bool set_tcp_no_delay(SocketHandle socket) {
    int enabled = 1;
    return setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&enabled),
                      sizeof(enabled)) == 0;
}

namespace socket_compat_detail {

inline bool set_timeout(SocketHandle socket, int option, std::chrono::milliseconds timeout) {
    // Both systems read 0 as "wait for ever": a timeout that has run out
    // becomes the shortest one instead.
    const long long millis = std::max<long long>(1, timeout.count());
#ifdef _WIN32
    const DWORD value = static_cast<DWORD>(std::min<long long>(millis, 0x7fffffff));
#else
    timeval value{};
    value.tv_sec = static_cast<time_t>(millis / 1000);
    value.tv_usec = static_cast<suseconds_t>((millis % 1000) * 1000);
#endif
    return setsockopt(socket, SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                      sizeof(value)) == 0;
}

// Winsock counts lengths in int: larger buffers go out in several calls.
inline int clamp_length(std::size_t count) {
    return static_cast<int>(std::min<std::size_t>(count, INT_MAX));
}

}  // namespace socket_compat_detail

inline bool set_receive_timeout(SocketHandle socket, std::chrono::milliseconds timeout) {
    return socket_compat_detail::set_timeout(socket, SO_RCVTIMEO, timeout);
}

// One send call (retried when a signal interrupts it). Returns the bytes
// written, or -1 with the reason in last_socket_error(). Never raises SIGPIPE.
inline std::int64_t send_some(SocketHandle socket, const std::uint8_t* bytes, std::size_t count) {
    const int length = socket_compat_detail::clamp_length(count);
    for (;;) {
#ifdef _WIN32
        const int sent = ::send(socket, reinterpret_cast<const char*>(bytes), length, 0);
#else
        const ssize_t sent = ::send(socket, bytes, static_cast<std::size_t>(length), MSG_NOSIGNAL);
#endif
        if (sent < 0 && is_interrupted(last_socket_error())) {
            continue;
        }
        return static_cast<std::int64_t>(sent);
    }
}

// One recv call (retried when a signal interrupts it). Returns the bytes read,
// 0 when the peer closed (or an empty datagram arrived), or -1 with the reason
// in last_socket_error().
inline std::int64_t receive_some(SocketHandle socket, std::uint8_t* buffer, std::size_t capacity) {
    const int length = socket_compat_detail::clamp_length(capacity);
    for (;;) {
#ifdef _WIN32
        const int received = ::recv(socket, reinterpret_cast<char*>(buffer), length, 0);
#else
        const ssize_t received = ::recv(socket, buffer, static_cast<std::size_t>(length), 0);
#endif
        if (received < 0 && is_interrupted(last_socket_error())) {
            continue;
        }
        return static_cast<std::int64_t>(received);
    }
}

// Receives one datagram. A datagram larger than `capacity` sets `oversized`
// and returns -1 on both systems (Linux would cut it silently).
inline std::int64_t receive_datagram(SocketHandle socket, std::uint8_t* buffer,
                                     std::size_t capacity, bool& oversized) {
    oversized = false;
    const int length = socket_compat_detail::clamp_length(capacity);
    for (;;) {
#ifdef _WIN32
        const int received = ::recv(socket, reinterpret_cast<char*>(buffer), length, 0);
        if (received < 0 && last_socket_error() == WSAEMSGSIZE) {
            oversized = true;
            return -1;
        }
#else
        const ssize_t received =
            ::recv(socket, buffer, static_cast<std::size_t>(length), MSG_TRUNC);
        if (received > length) {
            oversized = true;
            return -1;
        }
#endif
        if (received < 0 && is_interrupted(last_socket_error())) {
            continue;
        }
        return static_cast<std::int64_t>(received);
    }
}

}  // namespace qop::network
