#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "relay/data_plane_envelope.hpp"
#include "relay/network_transport.hpp"
#include "support/fake_tcp_relay.hpp"
#include "support/fake_udp_relay.hpp"
#include "support/test_waits.hpp"

namespace qop::network {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Frames = std::vector<Bytes>;

enum class Relay { Tcp, Udp };

const std::vector<test::FakeRelayPlayer> kRoom = {
    {"tok-host", "host-player", 1},
    {"tok-two", "player-two", 2},
    {"tok-three", "player-three", 3},
};

struct RouteCase {
    const char* name;
    std::uint8_t sender;
    DataPlaneRouteKind route;
    std::uint8_t target_slot;
    std::uint64_t target_mask;
    std::vector<std::uint8_t> receivers;
};

const RouteCase kRoutes[] = {
    {"guest_to_host", 2, DataPlaneRouteKind::Host, 0, 0, {1}},
    {"host_broadcast", 1, DataPlaneRouteKind::Broadcast, 0, 0, {2, 3}},
    {"guest_broadcast", 3, DataPlaneRouteKind::Broadcast, 0, 0, {1, 2}},
    {"direct_three_to_two", 3, DataPlaneRouteKind::Direct, 2, 0, {2}},
    {"direct_host_to_three", 1, DataPlaneRouteKind::Direct, 3, 0, {3}},
    {"mask_two_and_three", 1, DataPlaneRouteKind::TargetMask, 0, 0b110, {2, 3}},
    {"mask_three_only", 2, DataPlaneRouteKind::TargetMask, 0, 0b100, {3}},
    {"mask_host_and_two", 3, DataPlaneRouteKind::TargetMask, 0, 0b011, {1, 2}},
};

Bytes envelope_bytes(std::uint8_t sender, DataPlaneRouteKind route, std::uint8_t target_slot,
                     std::uint64_t target_mask, const std::string& marker) {
    DataPlaneEnvelope envelope;
    envelope.message_kind = static_cast<std::uint8_t>(DataPlaneMessageKind::PeerToPeer);
    envelope.route_kind = static_cast<std::uint8_t>(route);
    envelope.sender_slot = sender;
    envelope.target_slot = target_slot;
    envelope.target_mask = target_mask;
    envelope.p2p_metadata = 0xC0FFEE00u + sender;
    envelope.payload.assign(marker.begin(), marker.end());
    Bytes bytes;
    std::string error;
    EXPECT_TRUE(encode_data_plane_envelope(envelope, bytes, error)) << error;
    return bytes;
}

class ThreeClientRouting : public ::testing::TestWithParam<Relay> {
protected:
    void SetUp() override {
        std::string error;
        test::FakeTcpRelayOptions options;
        options.room = kRoom;
        tcp_relay_ = std::make_unique<test::FakeTcpRelay>(options);
        ASSERT_TRUE(tcp_relay_->start(error)) << error;
        std::vector<test::FakeUdpRelay::Player> udp_room;
        for (const test::FakeRelayPlayer& player : kRoom) {
            udp_room.push_back({player.token, player.player_id, player.slot});
        }
        udp_relay_ = std::make_unique<test::FakeUdpRelay>(udp_room);
        ASSERT_TRUE(udp_relay_->start(error)) << error;

        for (const test::FakeRelayPlayer& player : kRoom) {
            Client& client = clients_[player.slot];
            client.tcp = make_tcp_transport();
            ASSERT_TRUE(client.tcp->connect(tcp_relay_->endpoint(player.token), error)) << error;
            ASSERT_EQ(client.tcp->envelope_version(), 1);
            TransportEndpoint udp;
            udp.host = "127.0.0.1";
            udp.port = udp_relay_->port();
            udp.token = player.token;
            udp.envelope_version = client.tcp->envelope_version();
            client.udp = make_udp_transport();
            ASSERT_TRUE(client.udp->connect(udp, error)) << error;
            // Both relays must describe the same room.
            ASSERT_EQ(client.udp->player_slot(), client.tcp->player_slot());
            ASSERT_EQ(client.udp->player_slot(), player.slot);
            ASSERT_EQ(client.udp->slot_roster().size(), client.tcp->slot_roster().size());
        }
    }

    NetworkTransport& transport(std::uint8_t slot) {
        Client& client = clients_.at(slot);
        return GetParam() == Relay::Tcp ? *client.tcp : *client.udp;
    }

    // Polls every client until each slot in `wanted` holds that many frames.
    bool pump_until(const std::map<std::uint8_t, std::size_t>& wanted) {
        bool healthy = true;
        const bool done = test::wait_until([&] {
            for (auto& [slot, client] : clients_) {
                std::string error;
                healthy = transport(slot).poll(client.received, error) && healthy;
                EXPECT_TRUE(healthy) << "slot " << int(slot) << ": " << error;
            }
            if (!healthy) {
                return true;
            }
            for (const auto& [slot, count] : wanted) {
                if (clients_.at(slot).received.size() < count) {
                    return false;
                }
            }
            return true;
        });
        return done && healthy;
    }

    struct Client {
        std::unique_ptr<NetworkTransport> tcp;
        std::unique_ptr<NetworkTransport> udp;
        Frames received;
        Frames expected;
    };

    std::unique_ptr<test::FakeTcpRelay> tcp_relay_;
    std::unique_ptr<test::FakeUdpRelay> udp_relay_;
    std::map<std::uint8_t, Client> clients_;
};

TEST_P(ThreeClientRouting, EveryRouteReachesExactlyItsTargetsByteForByte) {
    for (const RouteCase& c : kRoutes) {
        SCOPED_TRACE(c.name);
        const Bytes sent = envelope_bytes(c.sender, c.route, c.target_slot, c.target_mask, c.name);
        std::string error;
        ASSERT_EQ(transport(c.sender).send(sent, error), SendResult::Sent) << error;
        std::map<std::uint8_t, std::size_t> wanted;
        for (const std::uint8_t receiver : c.receivers) {
            clients_.at(receiver).expected.push_back(sent);
            wanted[receiver] = clients_.at(receiver).expected.size();
        }
        ASSERT_TRUE(pump_until(wanted));
    }

    // A last broadcast from every client travels behind anything a relay might have sent
    // astray, so once it is in, each client's frames must be exactly what was routed to it.
    for (auto& [slot, client] : clients_) {
        const Bytes fence = envelope_bytes(slot, DataPlaneRouteKind::Broadcast, 0, 0,
                                           "fence-" + std::to_string(slot));
        std::string error;
        ASSERT_EQ(transport(slot).send(fence, error), SendResult::Sent) << error;
        for (auto& [other_slot, other] : clients_) {
            if (other_slot != slot) {
                other.expected.push_back(fence);
            }
        }
    }
    std::map<std::uint8_t, std::size_t> wanted;
    for (const auto& [slot, client] : clients_) {
        wanted[slot] = client.expected.size();
    }
    ASSERT_TRUE(pump_until(wanted));

    for (const auto& [slot, client] : clients_) {
        SCOPED_TRACE("slot " + std::to_string(slot));
        // Fences from different senders may interleave; everything before them is ordered.
        const std::size_t fences = clients_.size() - 1;
        ASSERT_EQ(client.received.size(), client.expected.size());
        const std::size_t routed = client.expected.size() - fences;
        EXPECT_EQ(Frames(client.received.begin(), client.received.begin() + routed),
                  Frames(client.expected.begin(), client.expected.begin() + routed));
        Frames received_fences(client.received.begin() + routed, client.received.end());
        Frames expected_fences(client.expected.begin() + routed, client.expected.end());
        std::sort(received_fences.begin(), received_fences.end());
        std::sort(expected_fences.begin(), expected_fences.end());
        EXPECT_EQ(received_fences, expected_fences);
        for (const Bytes& frame : client.received) {
            DataPlaneEnvelope envelope;
            std::string error;
            EXPECT_TRUE(decode_data_plane_envelope(frame, envelope, error)) << error;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothRelays, ThreeClientRouting, ::testing::Values(Relay::Tcp, Relay::Udp),
                         [](const ::testing::TestParamInfo<Relay>& info) {
                             return info.param == Relay::Tcp ? std::string("Tcp")
                                                             : std::string("Udp");
                         });

}  // namespace
}  // namespace qop::network
