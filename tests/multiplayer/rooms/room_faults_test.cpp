// What a game may do to a room peer that a literal reading of its rules
// handles badly: each case here once lost data, hung, crashed or reported a
// failure as success.

#include <atomic>
#include <string>
#include <vector>

#include "hosted_room_fixture.hpp"
#include "multiplayer/peer_connect_worker.hpp"
#include "support/test_waits.hpp"

namespace qop::godot_adapter::testing {
namespace {

class RoomFaults : public ::testing::Test {
protected:
    void start(qop::test::FakeRoomOptions options = {}) {
        room = std::make_unique<HostedRoom>(Road::DataPlane, std::move(options));
        std::string error;
        ASSERT_TRUE(room->start(error)) << error;
    }
    void start_connected(qop::test::FakeRoomOptions options = {}) {
        room = std::make_unique<HostedRoom>(Road::DataPlane, std::move(options));
        ASSERT_TRUE(room->start_playing());
    }
    std::size_t data_from(std::uint8_t slot) { return room->envelopes_from(slot, kPeerToPeer); }

    std::unique_ptr<HostedRoom> room;
};

TEST_F(RoomFaults, ASuccessThatCloseDiscardedIsReportedAsClosedNotInstalled) {
    start();
    std::atomic<bool> worker_done{false};
    MultiplayerPeerSeams seams = room->seams_for(2);
    seams.connect.start_thread = [&](std::function<void()> body, std::thread& thread,
                                     std::string& error) {
        return qop::network::start_system_thread(
            [&worker_done, body = std::move(body)] {
                body();
                worker_done = true;
            },
            thread, error);
    };
    QOPMultiplayerPeer* peer = room->host().new_peer(std::move(seams));
    ASSERT_EQ(room->host().connect_data_plane(peer, room->relays().context_for("player-two")),
              godot::OK);
    ASSERT_TRUE(qop::test::wait_until([&] { return worker_done.load(); }));
    peer->_close();
    peer->_poll();
    EXPECT_EQ(peer->_get_connection_status(), MultiplayerPeer::CONNECTION_DISCONNECTED);
    EXPECT_EQ(room->host().last_error(peer), "Connection closed");
    EXPECT_THAT(room->host().signals_of(peer), IsEmpty());
    // And the peer can join afresh.
    ASSERT_EQ(room->host().connect_data_plane(peer, room->relays().context_for("player-two")),
              godot::OK);
    ASSERT_TRUE(qop::test::wait_until([&] {
        peer->_poll();
        return peer->_get_connection_status() == MultiplayerPeer::CONNECTION_CONNECTED;
    }));
}

TEST_F(RoomFaults, AHandlerThatClosesThePeerStopsTheAnnouncements) {
    start();
    QOPMultiplayerPeer* host_peer = room->host().new_peer(room->seams_for(1));
    room->host().engine().connect(host_peer, "peer_connected",
                                  [&](const std::vector<godot::Variant>&) { host_peer->_close(); });
    ASSERT_EQ(room->host().connect_data_plane(host_peer, room->relays().context_for("host-player")),
              godot::OK);
    ASSERT_TRUE(qop::test::wait_until([&] {
        host_peer->_poll();
        return room->host().signalled(host_peer, "peer_connected").size() == 1;
    }));
    host_peer->_poll();
    EXPECT_EQ(room->host().signalled(host_peer, "peer_connected").size(), 1u);
    EXPECT_EQ(host_peer->_get_connection_status(), MultiplayerPeer::CONNECTION_DISCONNECTED);
    EXPECT_EQ(host_peer->_get_unique_id(), 0);
    // The closed host sent no announce on its way out.
    EXPECT_TRUE(room->relays().tcp().wait_for_disconnect(1, std::chrono::seconds(10)));
    EXPECT_EQ(data_from(1), 0u);
}

TEST_F(RoomFaults, AHandlerThatReconnectsDuringTheFarewellsGetsANewSession) {
    start_connected();
    QOPMultiplayerPeer* peer = room->peer(2);
    int farewells = 0;
    room->host().engine().connect(
        peer, "peer_disconnected", [&](const std::vector<godot::Variant>&) {
            if (++farewells == 1) {
                EXPECT_EQ(
                    room->host().connect_data_plane(peer, room->relays().context_for("player-two")),
                    godot::OK);
            }
        });
    room->relays().tcp().send_raw_then_close(2, {});
    ASSERT_TRUE(room->pump_until([&] { return farewells > 0; }));
    EXPECT_EQ(farewells, 1);
    ASSERT_TRUE(room->pump_until_status(2, MultiplayerPeer::CONNECTION_CONNECTED));
    EXPECT_EQ(farewells, 1);
    EXPECT_EQ(peer->_get_unique_id(), 2);
}

TEST_F(RoomFaults, ADroppedSessionEndsAloneIsNotWorkedOnAndSaysGoodbyeOnce) {
    start_connected();
    QOPMultiplayerPeer* peer = room->peer(2);
    room->relays().tcp().send_raw_then_close(2, {});
    ASSERT_TRUE(room->pump_until_status(2, MultiplayerPeer::CONNECTION_DISCONNECTED));
    EXPECT_EQ(room->peer(1)->_get_connection_status(), MultiplayerPeer::CONNECTION_CONNECTED);
    // The game marks a new attempt; its closed transports stay unpolled.
    room->host().call(peer, "begin_connection");
    for (int i = 0; i < 20; ++i) {
        peer->_poll();
    }
    peer->_disconnect_peer(1, false);
    EXPECT_EQ(peer->_get_connection_status(), MultiplayerPeer::CONNECTION_CONNECTING);
    EXPECT_EQ(room->host().last_error(peer), "TCP transport closed");
    EXPECT_THAT(room->host().signalled(peer, "peer_disconnected"), UnorderedElementsAre(1, 3));
}

TEST_F(RoomFaults, NothingAfterTheHostsDisconnectNoticeInTheSameReadIsHandled) {
    start_connected();
    const std::uint64_t nonce = room->host_nonce();
    HandFrame before;
    before.sender = 3;
    before.nonce = nonce;
    before.message_id = 900;
    before.chunk = {'b'};
    HandFrame notice;
    notice.kind = 4;
    notice.total = 2;
    notice.message_id = 0;
    notice.sequence = 0;
    notice.nonce = nonce;
    notice.chunk = {'{', '}'};
    HandFrame after = before;
    after.message_id = 901;
    after.chunk = {'a'};
    Bytes stream;
    for (const HandFrame& frame : {before, notice, after}) {
        const Bytes framed = qop::test::fake_relay_frame(hand_envelope(frame));
        stream.insert(stream.end(), framed.begin(), framed.end());
    }
    room->relays().tcp().send_raw(2, stream);
    QOPMultiplayerPeer* peer = room->peer(2);
    ASSERT_TRUE(qop::test::wait_until([&] {
        peer->_poll();
        return peer->_get_connection_status() == MultiplayerPeer::CONNECTION_DISCONNECTED;
    }));
    EXPECT_EQ(room->host().last_error(peer), "Disconnected by multiplayer server");
    ASSERT_EQ(peer->_get_available_packet_count(), 1);
    const uint8_t* buffer = nullptr;
    int32_t size = 0;
    ASSERT_EQ(peer->_get_packet(&buffer, &size), godot::OK);
    EXPECT_EQ(Bytes(buffer, buffer + size), Bytes{'b'});
}

TEST_F(RoomFaults, AnUnreliablePacketOverTheRelaysLimitIsRefusedAndTheSessionStays) {
    qop::test::FakeRoomOptions generous_descriptor;
    generous_descriptor.descriptor_udp_payload_max_bytes = 4000;  // the relay settles on 1200
    start_connected(generous_descriptor);
    EXPECT_EQ(room->driver(2).send(1, Mode::TRANSFER_MODE_UNRELIABLE, 0, pattern_bytes(3000, 1)),
              godot::ERR_INVALID_PARAMETER);
    EXPECT_EQ(room->peer(2)->_get_connection_status(), MultiplayerPeer::CONNECTION_CONNECTED);
    EXPECT_EQ(room->host().last_error(room->peer(2)), "");
    ASSERT_EQ(room->driver(2).send(1, Mode::TRANSFER_MODE_UNRELIABLE, 0, pattern_bytes(1000, 2)),
              godot::OK);
    ASSERT_TRUE(room->pump_until([&] { return !room->received(1).empty(); }));
    EXPECT_TRUE(room->received(1)[0].bytes == pattern_bytes(1000, 2));
}

TEST_F(RoomFaults, PacketsSentBeforeTheNonceWaitAndArriveInOrder) {
    start();
    // The clients are in the room before the host, so its first announce
    // reaches them; but the host's greeting, sent from its peer_connected
    // handler, is on the wire before that announce.
    for (const std::uint8_t slot : {2, 3}) {
        ASSERT_EQ(room->connect(slot), godot::OK);
    }
    ASSERT_TRUE(room->pump_until([&] { return all_connected({room->peer(2), room->peer(3)}); }));
    // A client's packets wait for the nonce, in order, within the hold's bound.
    constexpr int kHeld = 2048;
    for (int i = 0; i < kHeld; ++i) {
        ASSERT_EQ(room->driver(2).send(1, Mode::TRANSFER_MODE_RELIABLE, 0,
                                       {std::uint8_t(i >> 8), std::uint8_t(i)}),
                  godot::OK);
    }
    EXPECT_EQ(room->driver(2).send(1, Mode::TRANSFER_MODE_RELIABLE, 0, {0}), godot::ERR_BUSY);

    ASSERT_EQ(room->connect(1), godot::OK);
    room->host().engine().connect(
        room->peer(1), "peer_connected", [&](const std::vector<godot::Variant>& arguments) {
            const int32_t id = static_cast<int32_t>(arguments[0]);
            room->peer(1)->_set_target_peer(id);
            room->peer(1)->_set_transfer_mode(Mode::TRANSFER_MODE_RELIABLE);
            const uint8_t hello[] = {'h', 'i', std::uint8_t(id)};
            EXPECT_EQ(room->peer(1)->_put_packet(hello, 3), godot::OK);
        });
    ASSERT_TRUE(room->pump_until([&] {
        return room->received(1).size() == kHeld && !room->received(2).empty() &&
               !room->received(3).empty();
    }));
    for (int i = 0; i < kHeld; ++i) {
        ASSERT_EQ(room->received(1)[i].bytes, (Bytes{std::uint8_t(i >> 8), std::uint8_t(i)}));
    }
    EXPECT_EQ(room->received(2)[0].bytes, (Bytes{'h', 'i', 2}));
    EXPECT_EQ(room->received(3)[0].bytes, (Bytes{'h', 'i', 3}));
}

}  // namespace
}  // namespace qop::godot_adapter::testing
