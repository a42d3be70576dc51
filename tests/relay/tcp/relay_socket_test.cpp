#include "relay/relay_socket.hpp"

#include <gtest/gtest.h>

#include <cstring>

#include "support/fake_silent_relays.hpp"
#include "support/fake_tcp_relay.hpp"
#include "tcp_test_room.hpp"

namespace qop::test {
namespace {

using std::chrono::milliseconds;

network::ConnectLimits handshake_limits() {
    return network::connect_limits_within(network::kRelayHandshakeDeadline);
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

    const network::SocketHandle socket =
        network::connect_first_address(&first, handshake_limits(), error);
    ASSERT_NE(socket, network::kInvalidSocket) << error;
    sockaddr_in peer{};
    socklen_t length = sizeof(peer);
    ASSERT_EQ(getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length), 0);
    EXPECT_EQ(std::memcmp(&peer.sin_addr, &listening.sin_addr, sizeof(peer.sin_addr)), 0);
    network::close_socket(socket);

    addrinfo only_refusing = stream_entry(refusing, nullptr);
    EXPECT_EQ(network::connect_first_address(&only_refusing, handshake_limits(), error),
              network::kInvalidSocket);
    EXPECT_EQ(error, "Transport connection failed");
}

TEST(RelaySocket, ARelayThatNeverAnswersTheConnectIsGivenUpOnTime) {
    ASSERT_TRUE(network::start_socket_library());
    const UnansweringTcpListener silent;
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

// Entries linked in the order given; `addresses` must outlive them.
std::vector<addrinfo> stream_chain(std::vector<sockaddr_in>& addresses) {
    std::vector<addrinfo> entries(addresses.size());
    for (std::size_t i = addresses.size(); i-- > 0;) {
        entries[i] = stream_entry(addresses[i], i + 1 < entries.size() ? &entries[i + 1] : nullptr);
    }
    return entries;
}

TEST(RelaySocket, AddressesThatNeverAnswerShareOneDeadlineAndLeaveTimeForTheNextOne) {
    ASSERT_TRUE(network::start_socket_library());
    const UnansweringTcpListener silent;
    if (!silent.full()) {
        GTEST_SKIP() << "this system answers every connection request";
    }
    std::vector<sockaddr_in> all_silent(8, loopback_address("127.0.0.1", silent.port()));
    std::vector<addrinfo> entries = stream_chain(all_silent);
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(network::connect_first_address(
                  entries.data(), network::connect_limits_within(milliseconds(400)), error),
              network::kInvalidSocket);
    EXPECT_EQ(error, "Transport connection failed");
    // The deadline once per address would be 3.2 s.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));

    FakeTcpRelay relay(three_seat_room());
    ASSERT_TRUE(relay.start(error)) << error;
    std::vector<sockaddr_in> silent_first = {loopback_address("127.0.0.1", silent.port()),
                                             loopback_address("127.0.0.1", relay.port())};
    entries = stream_chain(silent_first);
    const network::SocketHandle socket = network::connect_first_address(
        entries.data(), network::connect_limits_within(milliseconds(1200)), error);
    ASSERT_NE(socket, network::kInvalidSocket) << error;
    sockaddr_in peer{};
    socklen_t length = sizeof(peer);
    ASSERT_EQ(getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length), 0);
    EXPECT_EQ(ntohs(peer.sin_port), relay.port());
    network::close_socket(socket);
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
        network::open_socket(endpoint, SOCK_STREAM, IPPROTO_TCP, handshake_limits(), error);
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
        network::open_socket(endpoint, SOCK_STREAM, IPPROTO_TCP, handshake_limits(), error);
    if (socket != network::kInvalidSocket) {
        network::close_socket(socket);
    }
    EXPECT_EQ(socket, network::kInvalidSocket);
    EXPECT_EQ(error, "Transport host could not be resolved");
}

}  // namespace
}  // namespace qop::test
