#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "network/network_transport.hpp"
#include "network/socket_compat.hpp"

namespace qop::network {

using SocketDeadline = std::chrono::steady_clock::time_point;

// Resolves the endpoint and connects a socket of the given type and protocol
// (SOCK_STREAM/IPPROTO_TCP or SOCK_DGRAM/IPPROTO_UDP) to the first address
// that accepts. Returns kInvalidSocket with `error` set on failure. Each
// address gets at most `connect_timeout`: a relay that never answers must not
// hold the connecting thread for the system's own minutes-long time-out.
SocketHandle open_socket(const TransportEndpoint& endpoint, int socket_type, int protocol,
                         std::string& error,
                         std::chrono::milliseconds connect_timeout = kRelayHandshakeDeadline);

// Tries the addresses in order and returns a socket connected to the first
// that accepts; each failed socket is closed.
SocketHandle connect_first_address(
    const addrinfo* addresses, std::string& error,
    std::chrono::milliseconds connect_timeout = kRelayHandshakeDeadline);

// Blocking: writes all `count` bytes (larger buffers in several calls).
bool send_all(SocketHandle socket, const std::uint8_t* bytes, std::size_t count,
              std::string& error);
// Blocking: reads exactly `count` bytes. The relay closing, an error or the
// socket's receive time-out all fail the same way.
bool recv_exact(SocketHandle socket, std::uint8_t* buffer, std::size_t count, std::string& error);

// As above, but every call waits at most until `deadline`: the socket's time-out
// is set to the time still left before each send or receive, so a peer that
// trickles bytes cannot stretch the wait beyond the deadline.
bool send_all_before(SocketHandle socket, const std::uint8_t* bytes, std::size_t count,
                     SocketDeadline deadline, std::string& error);
bool recv_exact_before(SocketHandle socket, std::uint8_t* buffer, std::size_t count,
                       SocketDeadline deadline, std::string& error);

// Sets the socket's receive time-out to the time left before `deadline`;
// false when the deadline has already passed (or the option failed).
bool arm_receive_deadline(SocketHandle socket, SocketDeadline deadline);

}  // namespace qop::network
