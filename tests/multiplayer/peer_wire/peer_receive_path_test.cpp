// The receive path from relay bytes to complete packets: envelope and frame
// checks, control frames, ordering, reassembly and the frames a client holds
// until it learns the session nonce.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "multiplayer/peer_receive_path.hpp"

namespace qop::network {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kNonce = 0x0102030405060708ULL;
constexpr std::uint64_t kOtherNonce = 0x0A0B0C0D0E0F1011ULL;

struct FrameSpec {
    std::uint8_t kind = 3;
    std::uint8_t mode = kTransferModeReliable;
    std::uint16_t channel = 0;
    std::uint32_t sequence = 1;
    std::uint32_t message_id = 1;
    std::uint16_t index = 0;
    std::uint16_t count = 1;
    std::int64_t total = -1;  // -1: the chunk's size
    std::uint64_t nonce = kNonce;
    Bytes chunk = {'x'};
};

// A broadcast PeerToPeer envelope from `slot`, written out by hand around a
// frame.
Bytes from_slot(std::uint8_t slot, const FrameSpec& spec) {
    Bytes envelope = {0x00, 0x01, 0x01, slot, 0x47, 0x50, 0x50, 0x47};
    const std::uint32_t total = spec.total < 0 ? static_cast<std::uint32_t>(spec.chunk.size())
                                               : static_cast<std::uint32_t>(spec.total);
    const Bytes frame = encode_data_frame(spec.chunk.data(), spec.chunk.size(), spec.mode,
                                          spec.channel, spec.sequence, spec.message_id, spec.index,
                                          spec.count, total, spec.nonce, spec.kind);
    envelope.insert(envelope.end(), frame.begin(), frame.end());
    return envelope;
}

// Host "host" in slot 1, "me" in slot 2, "c" in slot 3.
struct Room {
    explicit Room(std::int32_t local_slot = 2, std::uint64_t local_nonce = kNonce,
                  NonceWaitLimits hold_limits = {})
        : nonce(local_nonce), path(ReassemblyLimits{}, hold_limits) {
        const std::string local_player = local_slot == 1 ? "host" : "me";
        slots.build(static_cast<std::uint8_t>(local_slot), 1, {{"host", 1}, {"me", 2}, {"c", 3}},
                    local_player, unique_id);
    }

    PeerReceiveView view() const { return PeerReceiveView{slots, unique_id, nonce, host_id}; }

    InboundResult receive(const Bytes& frame, bool reliable, std::int64_t now_ns = 0) {
        return path.on_relay_frame(frame, reliable, view(), now_ns, inbound);
    }

    PeerSlotTable slots;
    std::int32_t unique_id = 0;
    std::uint64_t nonce = 0;
    std::string host_id = "host";
    PeerReceivePath path;
    InboundPacketQueue inbound;
};

TEST(PeerReceivePath, DataFrameChecks) {
    struct Row {
        const char* name;
        std::uint8_t slot;
        bool reliable;
        std::uint8_t kind, mode;
        std::uint16_t index, count;
        std::int64_t total;
        std::uint64_t nonce;
        std::size_t chunk_size;
        bool delivered;
    };
    const Row rows[] = {
        {"reliable from the host", 1, true, 3, 2, 0, 1, 1, kNonce, 1, true},
        {"unreliable", 3, false, 3, 0, 0, 1, 1, kNonce, 1, true},
        {"unreliable ordered", 3, false, 3, 1, 0, 1, 1, kNonce, 1, true},
        {"reliable frame over the unreliable relay", 3, false, 3, 2, 0, 1, 1, kNonce, 1, false},
        {"unreliable frame over the reliable relay", 3, true, 3, 0, 0, 1, 1, kNonce, 1, false},
        {"unknown sender slot", 4, true, 3, 2, 0, 1, 1, kNonce, 1, false},
        {"sender slot 0", 0, true, 3, 2, 0, 1, 1, kNonce, 1, false},
        {"own slot", 2, true, 3, 2, 0, 1, 1, kNonce, 1, false},
        {"nonce 0", 3, true, 3, 2, 0, 1, 1, 0, 1, false},
        {"another session's nonce", 3, true, 3, 2, 0, 1, 1, kOtherNonce, 1, false},
        {"fragment count 0", 3, true, 3, 2, 0, 0, 1, kNonce, 1, false},
        {"index past the count", 3, true, 3, 2, 2, 2, 4, kNonce, 1, false},
        {"more than 4096 fragments", 3, true, 3, 2, 0, 4097, 5000, kNonce, 1, false},
        {"total size 0", 3, true, 3, 2, 0, 1, 0, kNonce, 1, false},
        {"total above 16 MiB", 3, true, 3, 2, 0, 2, 16777217, kNonce, 1, false},
        {"empty chunk", 3, true, 3, 2, 0, 2, 1, kNonce, 0, false},
        {"chunk longer than the packet", 3, true, 3, 2, 0, 2, 1, kNonce, 2, false},
        {"single fragment short of its total", 3, true, 3, 2, 0, 1, 2, kNonce, 1, false},
        {"unreliable in fragments", 3, false, 3, 0, 0, 2, 2, kNonce, 1, false},
        {"unknown frame kind", 3, true, 2, 2, 0, 1, 1, kNonce, 1, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Room room;
        FrameSpec spec;
        spec.kind = row.kind;
        spec.mode = row.mode;
        spec.channel = 9;
        spec.index = row.index;
        spec.count = row.count;
        spec.total = row.total;
        spec.nonce = row.nonce;
        spec.chunk.assign(row.chunk_size, 'x');
        const InboundResult result = room.receive(from_slot(row.slot, spec), row.reliable);
        EXPECT_EQ(result.control, InboundControl::None);
        ASSERT_EQ(room.inbound.size(), row.delivered ? 1u : 0u);
        if (row.delivered) {
            EXPECT_EQ(room.inbound[0].bytes, Bytes{'x'});
            EXPECT_EQ(room.inbound[0].peer, row.slot);
            EXPECT_EQ(room.inbound[0].channel, 9);
            EXPECT_EQ(room.inbound[0].mode, row.mode);
        }
    }
}

TEST(PeerReceivePath, EnvelopesThatAreNotPeerFramesAreDropped) {
    const Bytes frame = from_slot(3, FrameSpec{});
    const Bytes peer_frame(frame.begin() + 8, frame.end());
    Bytes ping = {0x01, 0x0B, 0x00, 0x03};
    ping.insert(ping.end(), peer_frame.begin(), peer_frame.end());
    Bytes truncated_frame = frame;
    truncated_frame.resize(8 + kPeerFrameHeaderBytes - 1);
    const std::vector<Bytes> inputs = {{}, {0x00, 0x01, 0x01}, ping, truncated_frame};
    Room room;
    for (const Bytes& input : inputs) {
        room.receive(input, true);
    }
    EXPECT_TRUE(room.inbound.empty());
}

TEST(PeerReceivePath, ControlFramesBecomeRequests) {
    struct Row {
        const char* name;
        std::int32_t local_slot;
        std::uint64_t local_nonce;
        std::uint8_t sender_slot;
        std::uint8_t kind;
        std::uint64_t frame_nonce;
        bool reliable;
        InboundControl control;
    };
    const Row rows[] = {
        {"announce to a client", 2, 0, 1, 1, kNonce, true, InboundControl::SessionAnnounce},
        {"announce replaces a known nonce", 2, kOtherNonce, 1, 1, kNonce, true,
         InboundControl::SessionAnnounce},
        {"announce from another slot", 2, 0, 3, 1, kNonce, true, InboundControl::None},
        {"announce of nonce 0", 2, 0, 1, 1, 0, true, InboundControl::None},
        {"announce reaching the host", 1, kOtherNonce, 1, 1, kNonce, true, InboundControl::None},
        {"announce over the unreliable relay", 2, 0, 1, 1, kNonce, false, InboundControl::None},
        {"disconnect from the host", 2, kNonce, 1, 4, kNonce, true, InboundControl::HostDisconnect},
        {"disconnect of an earlier session", 2, kNonce, 1, 4, kOtherNonce, true,
         InboundControl::None},
        {"disconnect from another player", 2, kNonce, 3, 4, kNonce, true, InboundControl::None},
        {"disconnect before the nonce is known", 2, 0, 1, 4, 0, true, InboundControl::None},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Room room(row.local_slot, row.local_nonce);
        FrameSpec spec;
        spec.kind = row.kind;
        spec.nonce = row.frame_nonce;
        spec.chunk = {'{', '}'};
        const InboundResult result = room.receive(from_slot(row.sender_slot, spec), row.reliable);
        EXPECT_EQ(result.control, row.control);
        if (row.control != InboundControl::None) {
            EXPECT_EQ(result.nonce, row.frame_nonce);
        }
        EXPECT_TRUE(room.inbound.empty());
        EXPECT_EQ(room.path.held_frame_count(), 0u);
    }
}

// A notice that comes before the nonce is kept; the host's next announce
// dates it: this session's ends the session, any other is dropped.
TEST(PeerReceivePath, ANoticeBeforeTheNonceIsDatedByTheNextAnnounce) {
    struct Row {
        const char* name;
        std::uint8_t notice_slot;
        std::uint64_t notice_nonce;
        InboundControl on_announce;
    };
    const Row rows[] = {
        {"this session's notice", 1, kNonce, InboundControl::HostDisconnect},
        {"an earlier session's notice", 1, kOtherNonce, InboundControl::SessionAnnounce},
        {"a notice from another player", 3, kNonce, InboundControl::SessionAnnounce},
        {"a notice of nonce 0", 1, 0, InboundControl::SessionAnnounce},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Room room(2, 0);
        FrameSpec control;
        control.kind = 4;
        control.nonce = row.notice_nonce;
        control.chunk = {'{', '}'};
        EXPECT_EQ(room.receive(from_slot(row.notice_slot, control), true).control,
                  InboundControl::None);
        control.kind = 1;
        control.nonce = kNonce;
        const InboundResult result = room.receive(from_slot(1, control), true);
        EXPECT_EQ(result.control, row.on_announce);
        EXPECT_EQ(result.nonce, kNonce);
        // A notice is dated once.
        EXPECT_EQ(room.receive(from_slot(1, control), true).control,
                  InboundControl::SessionAnnounce);
    }
}

// Only unreliable ordered frames go through the sequence filter; fragments
// leave as one packet that keeps its sender, channel and mode.
TEST(PeerReceivePath, FiltersOnlyOrderedFramesAndJoinsFragments) {
    Room room;
    for (const std::uint8_t sequence : {5, 4, 5, 6, 3}) {
        FrameSpec spec;
        spec.mode = sequence == 3 ? kTransferModeUnreliable : kTransferModeUnreliableOrdered;
        spec.sequence = sequence;
        spec.chunk = {sequence};
        room.receive(from_slot(3, spec), false);
    }
    const Bytes chunks[] = {{'a', 'b'}, {'c', 'd'}, {'e'}};
    for (const std::uint16_t index : {0, 2, 1}) {
        FrameSpec spec;
        spec.channel = 4;
        spec.message_id = 7;
        spec.index = index;
        spec.count = 3;
        spec.total = 5;
        spec.chunk = chunks[index];
        room.receive(from_slot(3, spec), true);
    }
    ASSERT_EQ(room.inbound.size(), 4u);
    EXPECT_EQ(room.inbound[0].bytes, Bytes{5});
    EXPECT_EQ(room.inbound[1].bytes, Bytes{6});
    EXPECT_EQ(room.inbound[2].bytes, Bytes{3});
    EXPECT_EQ(room.inbound[3].bytes, (Bytes{'a', 'b', 'c', 'd', 'e'}));
    EXPECT_EQ(room.inbound[3].peer, 3);
    EXPECT_EQ(room.inbound[3].channel, 4);
    EXPECT_EQ(room.inbound[3].mode, kTransferModeReliable);
}

TEST(PeerReceivePath, ClientHoldsDataUntilItLearnsTheNonce) {
    Room room(2, 0);
    auto data = [](std::uint8_t first, std::uint64_t nonce, std::uint16_t index = 0,
                   std::uint16_t count = 1) {
        FrameSpec spec;
        spec.nonce = nonce;
        spec.message_id = 40;
        spec.index = index;
        spec.count = count;
        spec.total = count;
        spec.chunk = {first};
        return spec;
    };
    room.receive(from_slot(1, data('h', kNonce)), true);
    room.receive(from_slot(3, data('c', kNonce)), true);
    room.receive(from_slot(3, data('s', kOtherNonce)), true);  // a stale session's
    room.receive(from_slot(3, data('z', 0)), true);            // never data
    room.receive(from_slot(4, data('u', kNonce)), true);       // nobody holds slot 4
    room.receive(from_slot(3, data('2', kNonce, 1, 2)), true);
    room.receive(from_slot(3, data('1', kNonce, 0, 2)), true);
    EXPECT_TRUE(room.inbound.empty());
    EXPECT_EQ(room.path.held_frame_count(), 5u);

    room.path.release_held(room.view(), 0, room.inbound);  // still no nonce
    EXPECT_EQ(room.path.held_frame_count(), 5u);

    FrameSpec announce;
    announce.kind = 1;
    announce.chunk = {'{', '}'};
    const InboundResult result = room.receive(from_slot(1, announce), true);
    ASSERT_EQ(result.control, InboundControl::SessionAnnounce);
    room.nonce = result.nonce;
    room.path.release_held(room.view(), 0, room.inbound);
    EXPECT_EQ(room.path.held_frame_count(), 0u);
    ASSERT_EQ(room.inbound.size(), 3u);
    EXPECT_EQ(room.inbound[0].bytes, Bytes{'h'});
    EXPECT_EQ(room.inbound[0].peer, 1);
    EXPECT_EQ(room.inbound[1].bytes, Bytes{'c'});
    EXPECT_EQ(room.inbound[2].bytes, (Bytes{'1', '2'}));
}

TEST(PeerReceivePath, HoldIsBoundedAndForgetsPlayersWhoLeft) {
    Room room(2, 0, NonceWaitLimits{3, 1 << 20});
    FrameSpec spec;
    for (int i = 0; i < 2; ++i) {
        room.receive(from_slot(1, spec), true);
        room.receive(from_slot(3, spec), true);
    }
    EXPECT_EQ(room.path.held_frame_count(), 3u);
    room.path.forget_peer(3, "c");
    EXPECT_EQ(room.path.held_frame_count(), 2u);
    room.path.clear();
    EXPECT_EQ(room.path.held_frame_count(), 0u);

    Room host(1, 0);
    host.receive(from_slot(3, spec), true);
    EXPECT_EQ(host.path.held_frame_count(), 0u);
}

}  // namespace
}  // namespace qop::network
