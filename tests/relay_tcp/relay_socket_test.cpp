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

}  // namespace
}  // namespace qop::test
