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

namespace {

// Moves `count` bytes with `step` (send_some or receive_some), calling `arm`
// before each step so that deadline versions can set the time that is left.
// Any failure, including a closed peer, is reported as `failure`.
template <typename Arm, typename Step, typename Byte>
bool transfer_all(Byte* bytes, std::size_t count, Arm arm, Step step, const char* failure,
                  std::string& error) {
    std::size_t done = 0;
    while (done < count) {
        if (!arm()) {
            error = failure;
            return false;
        }
        const std::int64_t moved = step(bytes + done, count - done);
        if (moved <= 0) {
            error = failure;
            return false;
        }
        done += static_cast<std::size_t>(moved);
    }
    return true;
}

}  // namespace

bool send_all(SocketHandle socket, const std::uint8_t* bytes, std::size_t count,
              std::string& error) {
    return transfer_all(
        bytes, count, [] { return true; },
        [socket](const std::uint8_t* at, std::size_t left) { return send_some(socket, at, left); },
        kSendFailed, error);
}

bool recv_exact(SocketHandle socket, std::uint8_t* buffer, std::size_t count, std::string& error) {
    return transfer_all(
        buffer, count, [] { return true; },
        [socket](std::uint8_t* at, std::size_t left) { return receive_some(socket, at, left); },
        kClosedWhileReceiving, error);
}

bool send_all_before(SocketHandle socket, const std::uint8_t* bytes, std::size_t count,
                     SocketDeadline deadline, std::string& error) {
    return transfer_all(
        bytes, count, [&] { return arm_send_deadline(socket, deadline); },
        [socket](const std::uint8_t* at, std::size_t left) { return send_some(socket, at, left); },
        kSendFailed, error);
}

bool recv_exact_before(SocketHandle socket, std::uint8_t* buffer, std::size_t count,
                       SocketDeadline deadline, std::string& error) {
    return transfer_all(
        buffer, count, [&] { return arm_receive_deadline(socket, deadline); },
        [socket](std::uint8_t* at, std::size_t left) { return receive_some(socket, at, left); },
        kClosedWhileReceiving, error);
}

bool arm_receive_deadline(SocketHandle socket, SocketDeadline deadline) {
    const auto left = time_left(deadline);
    return left.count() > 0 && set_receive_timeout(socket, left);
}

}  // namespace qop::network
