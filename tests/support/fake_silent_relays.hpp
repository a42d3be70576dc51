#pragma once

// Relays that never answer, for the time-outs and cancellation of a connect.
// Each lives on 127.0.0.1 at an ephemeral port and does nothing on a thread
// of its own: the system's socket layer does all there is to do.

#include <chrono>
#include <cstdint>
#include <vector>

#include "relay/socket_compat.hpp"

namespace qop::test {

sockaddr_in loopback_address(const char* text, std::uint16_t port);

// A TCP listener that never accepts, its backlog filled, so that further
// connection requests go unanswered, like a relay behind a firewall that drops
// them. full() is false when this system answers every request regardless.
class UnansweringTcpListener {
public:
    UnansweringTcpListener();
    ~UnansweringTcpListener();
    UnansweringTcpListener(const UnansweringTcpListener&) = delete;
    UnansweringTcpListener& operator=(const UnansweringTcpListener&) = delete;

    bool full() const { return full_; }
    std::uint16_t port() const { return port_; }

private:
    network::SocketHandle listener_ = network::kInvalidSocket;
    std::vector<network::SocketHandle> fillers_;
    std::uint16_t port_ = 0;
    bool full_ = false;
};

// A TCP listener that accepts and never reads or writes a byte: a relay that
// accepts and never replies.
class MuteTcpListener {
public:
    MuteTcpListener();
    ~MuteTcpListener();
    MuteTcpListener(const MuteTcpListener&) = delete;
    MuteTcpListener& operator=(const MuteTcpListener&) = delete;

    std::uint16_t port() const { return port_; }
    // True once a client's first bytes wait unread on an accepted connection.
    // Called from one thread.
    bool wait_for_bytes(std::chrono::milliseconds limit);

private:
    network::SocketHandle listener_ = network::kInvalidSocket;
    network::SocketHandle accepted_ = network::kInvalidSocket;
    std::uint16_t port_ = 0;
};

// A bound UDP port that never reads: a relay that never answers the hello.
class MuteUdpPort {
public:
    MuteUdpPort();
    ~MuteUdpPort();
    MuteUdpPort(const MuteUdpPort&) = delete;
    MuteUdpPort& operator=(const MuteUdpPort&) = delete;

    std::uint16_t port() const { return port_; }

private:
    network::SocketHandle socket_ = network::kInvalidSocket;
    std::uint16_t port_ = 0;
};

}  // namespace qop::test
