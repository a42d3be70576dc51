#include "support/fake_silent_relays.hpp"

namespace qop::test {
namespace {

// Binds `socket` to an ephemeral port of 127.0.0.1 and returns the port (0 on failure).
std::uint16_t bind_loopback(network::SocketHandle socket) {
    sockaddr_in address = loopback_address("127.0.0.1", 0);
    socklen_t length = sizeof(address);
    if (socket == network::kInvalidSocket ||
        ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

network::SocketHandle listen_on_loopback(int backlog, std::uint16_t& port) {
    network::start_socket_library();
    const network::SocketHandle listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    port = bind_loopback(listener);
    if (port == 0 || ::listen(listener, backlog) != 0) {
        port = 0;
    }
    return listener;
}

void close_if_open(network::SocketHandle socket) {
    if (socket != network::kInvalidSocket) {
        network::close_socket(socket);
    }
}

}  // namespace

sockaddr_in loopback_address(const char* text, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

UnansweringTcpListener::UnansweringTcpListener() {
    listener_ = listen_on_loopback(1, port_);
    if (port_ == 0) {
        return;
    }
    for (int i = 0; i < 16 && !full_; ++i) {
        const network::SocketHandle client = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        network::set_non_blocking(client);
        sockaddr_in target = loopback_address("127.0.0.1", port_);
        if (::connect(client, reinterpret_cast<sockaddr*>(&target), sizeof(target)) != 0 &&
            !network::wait_for_connect(client, std::chrono::milliseconds(200))) {
            full_ = true;
        }
        fillers_.push_back(client);
    }
}

UnansweringTcpListener::~UnansweringTcpListener() {
    for (const auto socket : fillers_) {
        close_if_open(socket);
    }
    close_if_open(listener_);
}

MuteTcpListener::MuteTcpListener() {
    listener_ = listen_on_loopback(64, port_);
}

MuteTcpListener::~MuteTcpListener() {
    close_if_open(accepted_);
    close_if_open(listener_);
}

bool MuteTcpListener::wait_for_bytes(std::chrono::milliseconds limit) {
    if (accepted_ == network::kInvalidSocket) {
        if (network::wait_for_socket(listener_, network::SocketWait::Readable, limit) !=
            network::SocketWaitResult::Ready) {
            return false;
        }
        accepted_ = ::accept(listener_, nullptr, nullptr);
    }
    return accepted_ != network::kInvalidSocket &&
           network::wait_for_socket(accepted_, network::SocketWait::Readable, limit) ==
               network::SocketWaitResult::Ready;
}

MuteUdpPort::MuteUdpPort() {
    network::start_socket_library();
    socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    port_ = bind_loopback(socket_);
}

MuteUdpPort::~MuteUdpPort() {
    close_if_open(socket_);
}

}  // namespace qop::test
