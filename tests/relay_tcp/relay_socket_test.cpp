#include "network/relay_socket.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "support/fake_tcp_relay.hpp"
#include "tcp_test_room.hpp"

namespace qop::test {
namespace {

sockaddr_in loopback_address(const char* text, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, text, &address.sin_addr);
    return address;
}

addrinfo stream_entry(sockaddr_in& address, addrinfo* next) {
    addrinfo entry{};
    entry.ai_family = AF_INET;
    entry.ai_socktype = SOCK_STREAM;
    entry.ai_protocol = IPPROTO_TCP;
    entry.ai_addrlen = sizeof(address);
    entry.ai_addr = reinterpret_cast<sockaddr*>(&address);
    entry.ai_next = next;
    return entry;
}

TEST(RelaySocket, TheLastAddressThatAcceptsIsTheOneConnected) {
    FakeTcpRelay relay(three_seat_room());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    ASSERT_TRUE(network::start_socket_library());
    // Nothing listens on 127.0.0.2: it refuses at once.
    sockaddr_in refusing = loopback_address("127.0.0.2", relay.port());
    sockaddr_in also_refusing = loopback_address("127.0.0.3", relay.port());
    sockaddr_in listening = loopback_address("127.0.0.1", relay.port());
    addrinfo last = stream_entry(listening, nullptr);
    addrinfo middle = stream_entry(also_refusing, &last);
    addrinfo first = stream_entry(refusing, &middle);

    const network::SocketHandle socket = network::connect_first_address(&first, error);
    ASSERT_NE(socket, network::kInvalidSocket) << error;
    sockaddr_in peer{};
    socklen_t length = sizeof(peer);
    ASSERT_EQ(getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length), 0);
    EXPECT_EQ(std::memcmp(&peer.sin_addr, &listening.sin_addr, sizeof(peer.sin_addr)), 0);
    network::close_socket(socket);

    addrinfo only_refusing = stream_entry(refusing, nullptr);
    EXPECT_EQ(network::connect_first_address(&only_refusing, error), network::kInvalidSocket);
    EXPECT_EQ(error, "Transport connection failed");
}

// A listener that never accepts: once its queue is full, further connection
// requests go unanswered, like a relay behind a firewall that drops them.
class SilentListener {
public:
    SilentListener() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address = loopback_address("127.0.0.1", 0);
        socklen_t length = sizeof(address);
        if (listener_ == network::kInvalidSocket ||
            ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
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
    ~SilentListener() {
        for (const auto socket : fillers_) {
            network::close_socket(socket);
        }
        if (listener_ != network::kInvalidSocket) {
            network::close_socket(listener_);
        }
    }
    bool full() const { return full_; }
    std::uint16_t port() const { return port_; }

private:
    network::SocketHandle listener_ = network::kInvalidSocket;
    std::vector<network::SocketHandle> fillers_;
    std::uint16_t port_ = 0;
    bool full_ = false;
};

TEST(RelaySocket, ARelayThatNeverAnswersTheConnectIsGivenUpOnTime) {
    ASSERT_TRUE(network::start_socket_library());
    const SilentListener silent;
    if (!silent.full()) {
        GTEST_SKIP() << "this system answers every connection request";
    }
    network::TransportEndpoint endpoint;
    endpoint.host = "127.0.0.1";
    endpoint.port = silent.port();
    auto transport = network::make_tcp_transport(std::chrono::milliseconds(300));
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(transport->connect(endpoint, error));
    EXPECT_EQ(error, "Transport connection failed");
    // The system's own connect time-out is minutes long.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

TEST(RelaySocket, ZeroByteTransfersSucceedAtOnce) {
    std::string error;
    EXPECT_TRUE(network::send_all(network::kInvalidSocket, nullptr, 0, error));
    EXPECT_TRUE(network::recv_exact(network::kInvalidSocket, nullptr, 0, error));
    EXPECT_TRUE(error.empty());
}

TEST(RelaySocket, LocalhostResolvesAndConnects) {
    FakeTcpRelay relay(three_seat_room());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    network::TransportEndpoint endpoint = relay.endpoint("tok-host");
    endpoint.host = "localhost";
    const network::SocketHandle socket =
        network::open_socket(endpoint, SOCK_STREAM, IPPROTO_TCP, error);
    ASSERT_NE(socket, network::kInvalidSocket) << error;
    network::close_socket(socket);
}

// The host comes from the descriptor; a JSON "\u0000" must not let the
// resolver see a shorter name than the one given and connect there instead.
TEST(RelaySocket, AHostNameWithAnEmbeddedNulIsNotResolved) {
    FakeTcpRelay relay(three_seat_room());
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;
    network::TransportEndpoint endpoint = relay.endpoint("tok-host");
    constexpr char kCutShort[] = "127.0.0.1\0.elsewhere.example";
    endpoint.host = std::string(kCutShort, sizeof(kCutShort) - 1);
    const network::SocketHandle socket =
        network::open_socket(endpoint, SOCK_STREAM, IPPROTO_TCP, error);
    if (socket != network::kInvalidSocket) {
        network::close_socket(socket);
    }
    EXPECT_EQ(socket, network::kInvalidSocket);
    EXPECT_EQ(error, "Transport host could not be resolved");
}

}  // namespace
}  // namespace qop::test
