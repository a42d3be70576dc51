#include "relay/relay_socket.hpp"

#include <algorithm>
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

// Waits in slices no longer than kCancelCheckInterval, so that a cancel from
// another thread is seen promptly without any wake-up shared with it.
bool wait_within(SocketHandle socket, SocketWait what, const ConnectLimits& limits) {
    for (;;) {
        if (limits.cancel_requested()) {
            return false;
        }
        const std::chrono::milliseconds left = time_left(limits.deadline);
        if (left.count() <= 0) {
            return false;
        }
        switch (wait_for_socket(socket, what, std::min(left, kCancelCheckInterval))) {
            case SocketWaitResult::Ready:
                return true;
            case SocketWaitResult::Failed:
                return false;
            case SocketWaitResult::TimedOut:
                break;
        }
    }
}

bool connect_within(SocketHandle socket, const addrinfo& address, const ConnectLimits& limits) {
    if (!set_non_blocking(socket)) {
        return false;
    }
    if (::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0) {
        return true;
    }
    return is_connect_in_progress(last_socket_error()) &&
           wait_within(socket, SocketWait::Writable, limits) && connect_succeeded(socket);
}

std::size_t count_addresses(const addrinfo* addresses) {
    std::size_t count = 0;
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        ++count;
    }
    return count;
}

// Moves `count` bytes with `step` (send_some or receive_some) on a
// non-blocking socket, waiting for `what` whenever the socket would block.
// Any failure, including a closed peer, the deadline or a cancel, is reported
// as `failure`.
template <typename Step, typename Byte>
bool transfer_all_before(SocketHandle socket, SocketWait what, Byte* bytes, std::size_t count,
                         const ConnectLimits& limits, Step step, const char* failure,
                         std::string& error) {
    std::size_t done = 0;
    while (done < count) {
        // Checked on every step too: a peer that always has a byte ready
        // would otherwise never let the wait see the deadline or a cancel.
        if (limits.cancel_requested() || limits.expired()) {
            error = failure;
            return false;
        }
        const std::int64_t moved = step(socket, bytes + done, count - done);
        if (moved > 0) {
            done += static_cast<std::size_t>(moved);
            continue;
        }
        if (moved < 0 && is_would_block(last_socket_error()) && wait_within(socket, what, limits)) {
            continue;
        }
        error = failure;
        return false;
    }
    return true;
}

// Moves `count` bytes with blocking calls of `step`.
template <typename Step, typename Byte>
bool transfer_all(SocketHandle socket, Byte* bytes, std::size_t count, Step step,
                  const char* failure, std::string& error) {
    std::size_t done = 0;
    while (done < count) {
        const std::int64_t moved = step(socket, bytes + done, count - done);
        if (moved <= 0) {
            error = failure;
            return false;
        }
        done += static_cast<std::size_t>(moved);
    }
    return true;
}

}  // namespace

ConnectLimits connect_limits_within(std::chrono::milliseconds budget,
                                    const std::atomic<bool>* cancelled) {
    return ConnectLimits{std::chrono::steady_clock::now() + budget, cancelled};
}

SocketHandle open_socket(const TransportEndpoint& endpoint, int socket_type, int protocol,
                         const ConnectLimits& limits, std::string& error) {
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
    return connect_first_address(list.get(), limits, error);
}

SocketHandle connect_first_address(const addrinfo* addresses, const ConnectLimits& limits,
                                   std::string& error) {
    std::size_t remaining = count_addresses(addresses);
    for (const addrinfo* address = addresses; address != nullptr;
         address = address->ai_next, --remaining) {
        if (limits.cancel_requested() || limits.expired()) {
            break;
        }
        const SocketHandle socket =
            ::socket(address->ai_family, address->ai_socktype, address->ai_protocol);
        if (socket == kInvalidSocket) {
            continue;
        }
        ConnectLimits attempt = limits;
        attempt.deadline =
            std::chrono::steady_clock::now() +
            (limits.deadline - std::chrono::steady_clock::now()) / static_cast<long>(remaining);
        if (connect_within(socket, *address, attempt)) {
            return socket;
        }
        close_socket(socket);
    }
    error = "Transport connection failed";
    return kInvalidSocket;
}

bool send_all(SocketHandle socket, const std::uint8_t* bytes, std::size_t count,
              std::string& error) {
    return transfer_all(socket, bytes, count, send_some, kSendFailed, error);
}

bool recv_exact(SocketHandle socket, std::uint8_t* buffer, std::size_t count, std::string& error) {
    return transfer_all(socket, buffer, count, receive_some, kClosedWhileReceiving, error);
}

bool send_all_before(SocketHandle socket, const std::uint8_t* bytes, std::size_t count,
                     const ConnectLimits& limits, std::string& error) {
    return transfer_all_before(socket, SocketWait::Writable, bytes, count, limits, send_some,
                               kSendFailed, error);
}

bool recv_exact_before(SocketHandle socket, std::uint8_t* buffer, std::size_t count,
                       const ConnectLimits& limits, std::string& error) {
    return transfer_all_before(socket, SocketWait::Readable, buffer, count, limits, receive_some,
                               kClosedWhileReceiving, error);
}

std::int64_t receive_one_before(SocketHandle socket, std::uint8_t* buffer, std::size_t capacity,
                                const ConnectLimits& limits) {
    for (;;) {
        if (limits.cancel_requested()) {
            return -1;
        }
        const std::int64_t received = receive_some(socket, buffer, capacity);
        if (received >= 0 || !is_would_block(last_socket_error()) ||
            !wait_within(socket, SocketWait::Readable, limits)) {
            return received;
        }
    }
}

}  // namespace qop::network
