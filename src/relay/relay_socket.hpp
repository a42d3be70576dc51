#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "relay/network_transport.hpp"
#include "relay/socket_compat.hpp"

namespace qop::network {

using SocketDeadline = std::chrono::steady_clock::time_point;

// How often a connect that is waiting on its socket looks at its cancel flag:
// another thread's cancel() takes effect within about this long.
inline constexpr std::chrono::milliseconds kCancelCheckInterval{10};

// Where every wait of one relay connect ends: at `deadline`, or within
// kCancelCheckInterval of `*cancelled` becoming true (when given).
struct ConnectLimits {
    SocketDeadline deadline;
    const std::atomic<bool>* cancelled = nullptr;

    bool cancel_requested() const { return cancelled != nullptr && cancelled->load(); }
    bool expired() const { return std::chrono::steady_clock::now() >= deadline; }
};

// Limits that end `budget` from now.
ConnectLimits connect_limits_within(std::chrono::milliseconds budget,
                                    const std::atomic<bool>* cancelled = nullptr);

// Resolves the endpoint and connects a socket of the given type and protocol
// (SOCK_STREAM/IPPROTO_TCP or SOCK_DGRAM/IPPROTO_UDP) to the first address
// that accepts. Returns kInvalidSocket with `error` set on failure. Name
// resolution cannot be interrupted: the limits apply from its end. The
// returned socket is non-blocking; the *_before functions below drive it.
SocketHandle open_socket(const TransportEndpoint& endpoint, int socket_type, int protocol,
                         const ConnectLimits& limits, std::string& error);

// Tries the addresses in order and returns a non-blocking socket connected to
// the first that accepts; each failed socket is closed. All attempts together
// stay within the limits: each address gets an equal share of the time left,
// so that one that never answers cannot starve those after it.
SocketHandle connect_first_address(const addrinfo* addresses, const ConnectLimits& limits,
                                   std::string& error);

// Blocking: writes all `count` bytes (larger buffers in several calls).
bool send_all(SocketHandle socket, const std::uint8_t* bytes, std::size_t count,
              std::string& error);
// Blocking: reads exactly `count` bytes. The relay closing, an error or the
// socket's receive time-out all fail the same way.
bool recv_exact(SocketHandle socket, std::uint8_t* buffer, std::size_t count, std::string& error);

// As above on a non-blocking socket, waiting between steps until the limits'
// deadline or cancel: a peer that trickles bytes cannot stretch the wait.
bool send_all_before(SocketHandle socket, const std::uint8_t* bytes, std::size_t count,
                     const ConnectLimits& limits, std::string& error);
bool recv_exact_before(SocketHandle socket, std::uint8_t* buffer, std::size_t count,
                       const ConnectLimits& limits, std::string& error);

// Waits within the limits for one datagram on a non-blocking socket and reads
// it. Returns its size, or -1 on time-out, cancel or error.
std::int64_t receive_one_before(SocketHandle socket, std::uint8_t* buffer, std::size_t capacity,
                                const ConnectLimits& limits);

}  // namespace qop::network
