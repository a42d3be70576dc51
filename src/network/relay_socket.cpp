#include "network/relay_socket.hpp"

#include <memory>

namespace qop::network {
namespace {

constexpr char kSendFailed[] = "Transport send failed";
constexpr char kClosedWhileReceiving[] = "Transport closed while receiving data";

struct AddressListDeleter {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

std::chrono::milliseconds time_left(SocketDeadline deadline) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
}

// Connects in non-blocking mode so the wait can be bounded, then hands the
// socket back in blocking mode as the handshake expects.
bool connect_within(SocketHandle socket, const addrinfo& address,
                    std::chrono::milliseconds timeout) {
    if (!set_non_blocking(socket)) {
        return false;
    }
    if (::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0 &&
        !(is_connect_in_progress(last_socket_error()) && wait_for_connect(socket, timeout))) {
        return false;
    }
    return set_blocking(socket);
}

bool arm_send_deadline(SocketHandle socket, SocketDeadline deadline) {
    const auto left = time_left(deadline);
    return left.count() > 0 && set_send_timeout(socket, left);
}

}  // namespace

SocketHandle open_socket(const TransportEndpoint& endpoint, int socket_type, int protocol,
                         std::string& error, std::chrono::milliseconds connect_timeout) {
    if (!start_socket_library()) {
        error = "Winsock initialization failed";
        return kInvalidSocket;
    }
    if (endpoint.host.empty() || endpoint.port == 0) {
        error = "Transport endpoint is incomplete";
        return kInvalidSocket;
    }
    // The resolver reads a C string: a name with a NUL inside would be cut
    // short there and another host than the one named would be reached.
    if (endpoint.host.find('\0') != std::string::npos) {
        error = "Transport host could not be resolved";
        return kInvalidSocket;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = socket_type;
    hints.ai_protocol = protocol;
    addrinfo* raw_list = nullptr;
    const std::string port_text = std::to_string(endpoint.port);
    if (getaddrinfo(endpoint.host.c_str(), port_text.c_str(), &hints, &raw_list) != 0 ||
        raw_list == nullptr) {
        error = "Transport host could not be resolved";
        return kInvalidSocket;
    }
    const std::unique_ptr<addrinfo, AddressListDeleter> list(raw_list);
    return connect_first_address(list.get(), error, connect_timeout);
}

SocketHandle connect_first_address(const addrinfo* addresses, std::string& error,
                                   std::chrono::milliseconds connect_timeout) {
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        const SocketHandle socket =
            ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (socket == kInvalidSocket) {
            continue;
        }
        if (connect_within(socket, *address, connect_timeout)) {
            return socket;
        }
        close_socket(socket);
    }
    error = "Transport connection failed";
    return kInvalidSocket;
}

bool send_all(SocketHandle socket, const std::uint8_t* bytes, std::size_t count,
              std::string& error) {
    std::size_t written = 0;
    while (written < count) {
        const std::int64_t sent = send_some(socket, bytes + written, count - written);
        if (sent <= 0) {
            error = kSendFailed;
            return false;
        }
        written += static_cast<std::size_t>(sent);
    }
    return true;
}

bool recv_exact(SocketHandle socket, std::uint8_t* buffer, std::size_t count, std::string& error) {
    std::size_t filled = 0;
    while (filled < count) {
        const std::int64_t received = receive_some(socket, buffer + filled, count - filled);
        if (received <= 0) {
            error = kClosedWhileReceiving;
            return false;
        }
        filled += static_cast<std::size_t>(received);
    }
    return true;
}

bool send_all_before(SocketHandle socket, const std::uint8_t* bytes, std::size_t count,
                     SocketDeadline deadline, std::string& error) {
    std::size_t written = 0;
    while (written < count) {
        if (!arm_send_deadline(socket, deadline)) {
            error = kSendFailed;
            return false;
        }
        const std::int64_t sent = send_some(socket, bytes + written, count - written);
        if (sent <= 0) {
            error = kSendFailed;
            return false;
        }
        written += static_cast<std::size_t>(sent);
    }
    return true;
}

bool recv_exact_before(SocketHandle socket, std::uint8_t* buffer, std::size_t count,
                       SocketDeadline deadline, std::string& error) {
    std::size_t filled = 0;
    while (filled < count) {
        if (!arm_receive_deadline(socket, deadline)) {
            error = kClosedWhileReceiving;
            return false;
        }
        const std::int64_t received = receive_some(socket, buffer + filled, count - filled);
        if (received <= 0) {
            error = kClosedWhileReceiving;
            return false;
        }
        filled += static_cast<std::size_t>(received);
    }
    return true;
}

bool arm_receive_deadline(SocketHandle socket, SocketDeadline deadline) {
    const auto left = time_left(deadline);
    return left.count() > 0 && set_receive_timeout(socket, left);
}

}  // namespace qop::network
