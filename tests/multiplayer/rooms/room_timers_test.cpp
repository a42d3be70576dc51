#include <chrono>
#include <vector>

#include "hosted_room_fixture.hpp"

namespace qop::godot_adapter::testing {
namespace {

using namespace std::chrono_literals;

class RoomTimers : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(room.start_playing());
        room.pump_rounds(10);
    }

    std::size_t pings_from(std::uint8_t slot) { return room.envelopes_from(slot, kPing); }
    std::size_t announces_from_host() {
        return announces(room.relays().tcp().frames_from(1)).size();
    }

    // Moves the room's clock and lets every peer run its timers.
    void after(std::chrono::nanoseconds step) {
        room.clock().advance(step);
        room.pump_rounds(5);
    }

    // Waits until the relay has seen everything the peers wrote.
    bool relay_sees(const std::function<bool()>& done) { return room.pump_until(done, 10000ms); }

    HostedRoom room{Road::DataPlane};
};

// The room's clock stands 5 s after the connects: the nonce took that long to spread.
TEST_F(RoomTimers, PeersPingAtOnceThenEveryThirtySecondsAndTheHostAnnouncesEveryFive) {
    ASSERT_TRUE(relay_sees(
        [&] { return pings_from(2) == 1 && pings_from(3) == 1 && announces_from_host() == 2; }));
    const Bytes ping = {0x01, 0x0B, 0x00, 0x02, '{', '"', 't', 'r', 'a', 'n', 's', 'p',
                        'o',  'r',  't',  '"',  ':', '"', 't', 'c', 'p', '"', '}'};
    EXPECT_EQ(envelopes_of_kind(room.relays().tcp().frames_from(2), kPing).at(0), ping);
    const Bytes announce = announces(room.relays().tcp().frames_from(1)).at(0);
    Bytes expected = {0x00, 0x01, 0x01, 0x01, 'G',  'P',  'P',  'G', 'Q', 'O', 'P',
                      'G',  0x01, 0x01, 0x02, 0x00, 0x00, 0,    0,   0,   0,   0,
                      0,    0,    0,    0x00, 0x00, 0x00, 0x01, 0,   0,   0,   2};
    put_be(expected, announced_nonce(announce), 8);
    expected.push_back('{');
    expected.push_back('}');
    EXPECT_EQ(announce, expected);
    EXPECT_NE(announced_nonce(announce), 0u);

    after(4999ms);
    EXPECT_EQ(announces_from_host(), 2u);
    after(1ms);
    ASSERT_TRUE(relay_sees([&] { return announces_from_host() == 3; }));
    after(19999ms);
    EXPECT_EQ(pings_from(2), 1u);
    after(1ms);
    ASSERT_TRUE(relay_sees([&] { return pings_from(2) == 2 && pings_from(1) == 2; }));
    after(29s);
    EXPECT_EQ(pings_from(2), 2u);
    // Nobody treats a ping or an announce as data, and clients never announce.
    for (const std::uint8_t slot : room.slots()) {
        EXPECT_THAT(room.received(slot), IsEmpty());
    }
    EXPECT_THAT(announces(room.relays().tcp().frames_from(2)), IsEmpty());
}

TEST_F(RoomTimers, APartialMessageExpiresThirtySecondsAfterItsFirstFragment) {
    ASSERT_TRUE(relay_sees([&] { return announces_from_host() > 0; }));
    const std::uint64_t nonce = room.host_nonce();
    std::uint32_t message_id = 500;
    const auto frame_bytes = [&](std::uint32_t id, std::uint16_t index, std::uint16_t count,
                                 Bytes chunk, std::uint32_t total) {
        HandFrame frame;
        frame.message_id = id;
        frame.index = index;
        frame.count = count;
        frame.total = total;
        frame.nonce = nonce;
        frame.chunk = std::move(chunk);
        return qop::test::fake_relay_frame(hand_envelope(frame));
    };
    // Sends `bytes` to slot 2 followed by a one-frame marker packet and
    // returns what slot 2 received before the marker: the relay keeps order.
    const auto deliver = [&](Bytes bytes) {
        const Bytes marker = {0xEE, static_cast<std::uint8_t>(++message_id)};
        const Bytes framed_marker = frame_bytes(message_id, 0, 1, marker, 2);
        bytes.insert(bytes.end(), framed_marker.begin(), framed_marker.end());
        room.relays().tcp().send_raw(2, bytes);
        EXPECT_TRUE(room.pump_until(
            [&] { return !room.received(2).empty() && room.received(2).back().bytes == marker; }));
        std::vector<ReceivedPacket> before = room.received(2);
        before.pop_back();
        room.received(2).clear();
        return before;
    };
    struct Case {
        std::chrono::nanoseconds wait;
        bool delivered;
    };
    for (const Case& c : {Case{30s, true}, Case{30s + 1ns, false}}) {
        SCOPED_TRACE(c.wait.count());
        const std::uint32_t id = ++message_id;
        EXPECT_THAT(deliver(frame_bytes(id, 0, 2, {0, 0xAB}, 4)), IsEmpty());
        room.clock().advance(c.wait);
        const std::vector<ReceivedPacket> got = deliver(frame_bytes(id, 1, 2, {1, 0xAB}, 4));
        if (c.delivered) {
            ASSERT_EQ(got.size(), 1u);
            EXPECT_EQ(got[0].bytes, (Bytes{0, 0xAB, 1, 0xAB}));
            EXPECT_EQ(got[0].peer, 1);
        } else {
            EXPECT_THAT(got, IsEmpty());
        }
    }
}

}  // namespace
}  // namespace qop::godot_adapter::testing
