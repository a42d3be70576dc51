// An unreliable packet is judged at the put by every limit it meets on the
// way: the datagram relay's negotiated limit and what one UDP datagram can
// carry. Whether it goes out at once or waits for the nonce, a packet is
// refused there or delivered, never accepted and then lost.

#include <string>

#include "hosted_room_fixture.hpp"

namespace qop::godot_adapter::testing {
namespace {

// Client 2's data datagram: 8 header bytes and its 15-byte session id
// ("udp-session-2##"); its envelope to the host: 8 bytes; the frame header: 33.
constexpr std::size_t kLargestPacketInADatagram = 65507 - 8 - 15 - 8 - 33;

TEST(RoomDatagramLimits, AnUnreliablePacketIsRefusedAtThePutOrDelivered) {
    struct Row {
        const char* name;
        std::uint32_t relay_limit;
        std::uint32_t descriptor_limit;  // 0: the relay's
        std::size_t size;
        godot::Error put;
    };
    const Row rows[] = {
        {"over the relay's limit, which the descriptor allowed", 1200, 4000, 3000,
         godot::ERR_INVALID_PARAMETER},
        {"within the limit, beyond one datagram", 70000, 0, 66000, godot::ERR_INVALID_PARAMETER},
        {"one byte beyond one datagram", 70000, 0, kLargestPacketInADatagram + 1,
         godot::ERR_INVALID_PARAMETER},
        {"the largest that one datagram carries", 70000, 0, kLargestPacketInADatagram, godot::OK},
    };
    for (const Row& row : rows) {
        for (const bool before_nonce : {true, false}) {
            SCOPED_TRACE(std::string(row.name) + (before_nonce ? ", held for the nonce" : ""));
            qop::test::FakeRoomOptions options = qop::test::two_player_room();
            options.udp_payload_max_bytes = row.relay_limit;
            options.descriptor_udp_payload_max_bytes = row.descriptor_limit;
            HostedRoom room(Road::DataPlane, options);
            if (before_nonce) {
                // The client joins after the host's first announce.
                std::string error;
                ASSERT_TRUE(room.start(error)) << error;
                for (const std::uint8_t slot : {1, 2}) {
                    ASSERT_EQ(room.connect(slot), godot::OK);
                    ASSERT_TRUE(
                        room.pump_until_status(slot, MultiplayerPeer::CONNECTION_CONNECTED));
                }
            } else {
                ASSERT_TRUE(room.start_playing());
            }
            const Bytes packet = pattern_bytes(row.size, 5);
            EXPECT_EQ(room.driver(2).send(1, Mode::TRANSFER_MODE_UNRELIABLE, 0, packet), row.put);
            ASSERT_EQ(room.driver(2).send(1, Mode::TRANSFER_MODE_UNRELIABLE, 0, {9}), godot::OK);
            room.clock().advance(std::chrono::seconds(5));  // the nonce reaches a waiting client
            ASSERT_TRUE(room.pump_until([&] {
                return !room.received(1).empty() && room.received(1).back().bytes == Bytes{9};
            }));
            EXPECT_EQ(room.received(1).size(), row.put == godot::OK ? 2u : 1u);
            if (row.put == godot::OK) {
                EXPECT_TRUE(room.received(1)[0].bytes == packet);
            }
            EXPECT_EQ(room.peer(2)->_get_connection_status(),
                      MultiplayerPeer::CONNECTION_CONNECTED);
            EXPECT_EQ(room.host().last_error(room.peer(2)), "");
        }
    }
}

}  // namespace
}  // namespace qop::godot_adapter::testing
