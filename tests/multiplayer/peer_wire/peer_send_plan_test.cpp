// How packets are cut and addressed: chunk sizes from the relay's frame
// limit, fragment counts, and the envelope routes against hand-written bytes.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "multiplayer/peer_send_plan.hpp"
#include "support/wire_hex.hpp"

namespace qop::network {
namespace {

using Bytes = std::vector<std::uint8_t>;
using qop::test::to_hex;
using qop::test::wire_bytes;

PlayerByPeer room_of(std::initializer_list<std::int32_t> slots) {
    PlayerByPeer room;
    for (const std::int32_t slot : slots) {
        room[slot] = "player-" + std::to_string(slot);
    }
    return room;
}

TEST(PeerWireBytes, EnvelopeRouteFollowsTheTarget) {
    struct Row {
        const char* name;
        std::int32_t target;
        const char* wire;
    };
    const PlayerByPeer room = room_of({1, 2, 3, 5});
    const Row rows[] = {
        {"broadcast", 0, "00 01 01 02  47 50 50 47  AA BB"},
        {"host", 1, "00 01 00 02  47 50 50 47  AA BB"},
        {"direct", 7, "00 01 02 02 07  47 50 50 47  AA BB"},
        {"all but 3", -3, "00 01 03 02  00 00 00 00 00 00 00 11  47 50 50 47  AA BB"},
        {"all but 9", -9, "00 01 03 02  00 00 00 00 00 00 00 15  47 50 50 47  AA BB"},
        {"lowest int excludes nobody", INT32_MIN,
         "00 01 03 02  00 00 00 00 00 00 00 15  47 50 50 47  AA BB"},
        {"direct to slot 64", 64, "00 01 02 02 40  47 50 50 47  AA BB"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes out;
        std::string error;
        ASSERT_TRUE(build_envelope_header(2, kRoomHostSlot, row.target, room, Bytes{0xAA, 0xBB},
                                          out, error))
            << error;
        EXPECT_EQ(to_hex(out), to_hex(wire_bytes(row.wire)));
    }
}

TEST(PeerWireBytes, RefusedRoutesLeaveTheBufferAsItWas) {
    EXPECT_EQ(target_mask_excluding(room_of({1, 2}), 1, 2), 0u);
    EXPECT_EQ(target_mask_excluding(room_of({0, 1, 64, 65, -4}), 1, 0), 0x8000000000000000ULL);
    struct Row {
        const char* name;
        std::uint8_t sender;
        std::int32_t target;
    };
    const Row rows[] = {{"mask that leaves nobody", 1, -2},
                        {"no slot 257 (would wrap to 1)", 2, 257}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes chunk = {0xAA};
        Bytes out = {0x55};
        std::string error;
        EXPECT_FALSE(build_envelope_header(row.sender, kRoomHostSlot, row.target, room_of({1, 2}),
                                           Bytes{chunk}, out, error));
        EXPECT_EQ(error, "DataPlaneEnvelope V1 route is invalid");
        DataPlaneEnvelope envelope;
        error.clear();
        EXPECT_FALSE(make_peer_envelope(row.sender, kRoomHostSlot, row.target, room_of({1, 2}),
                                        envelope, error));
        EXPECT_EQ(error, "DataPlaneEnvelope V1 route is invalid");
        EXPECT_FALSE(encode_peer_envelope(envelope, PeerFrameHeader{}, chunk.data(), chunk.size(),
                                          out, error));
        EXPECT_EQ(out, Bytes{0x55});
    }
}

TEST(PeerWireBytes, ReliableChunkSizeFollowsTheRelayFrameLimit) {
    struct Row {
        std::uint32_t frame_limit;
        bool usable;
        std::uint32_t chunk;
    };
    const Row rows[] = {
        {0, false, 0},        {2048, false, 0},          {2049, false, 0},     {2093, false, 0},
        {2094, true, 1},      {16384, true, 10719},      {45782, true, 32767}, {45783, true, 32768},
        {65536, true, 32768}, {0xFFFFFFFF, true, 32768},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.frame_limit);
        std::uint32_t chunk = 0;
        EXPECT_EQ(reliable_chunk_size(row.frame_limit, chunk), row.usable);
        if (row.usable) {
            EXPECT_EQ(chunk, row.chunk);
        }
    }
}

TEST(PeerWireBytes, FragmentCountRoundsUp) {
    EXPECT_EQ(fragment_count_for(100000, 32768), 4u);
    EXPECT_EQ(fragment_count_for(4096, 1), 4096u);
    EXPECT_EQ(fragment_count_for(4097, 1), 4097u);
    EXPECT_EQ(fragment_count_for(32768, 32768), 1u);
    EXPECT_EQ(fragment_count_for(32769, 32768), 2u);
    EXPECT_EQ(fragment_count_for(0, 32768), 0u);
    EXPECT_EQ(fragment_count_for(10, 0), 0u);
    EXPECT_EQ(fragment_count_for(UINT64_MAX, 2), UINT64_MAX / 2 + 1);
}

// The envelope written in place must be the very bytes of the frame encoded
// on its own and then wrapped, for every route and for chunk sizes up to the
// largest reliable chunk; the one buffer is reused from row to row, largest
// first, so that leftovers of a longer envelope would show.
TEST(PeerWireBytes, InPlaceEnvelopeEqualsTheFrameWrappedAfterwards) {
    const PlayerByPeer room = room_of({1, 2, 3, 5});
    const std::int32_t targets[] = {0, 1, 3, 5, 64, -3, -9};
    const std::size_t sizes[] = {32768, 1024, 16, 1};
    Bytes packet(32768);
    for (std::size_t i = 0; i < packet.size(); ++i) {
        packet[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    }
    PeerFrameHeader header;
    header.kind = static_cast<std::uint8_t>(PeerFrameKind::Data);
    header.transfer_mode = kTransferModeReliable;
    header.channel = 0xBEEF;
    header.sequence = 0x01020304;
    header.message_id = 0xA0B0C0D0;
    header.fragment_index = 3;
    header.fragment_count = 9;
    header.total_size = 0x00FF00FF;
    header.session_nonce = 0x1122334455667788ULL;
    Bytes reused;
    for (const std::size_t size : sizes) {
        for (const std::int32_t target : targets) {
            SCOPED_TRACE("size " + std::to_string(size) + " target " + std::to_string(target));
            Bytes wrapped;
            std::string error;
            ASSERT_TRUE(build_envelope_header(
                2, kRoomHostSlot, target, room,
                encode_data_frame(packet.data(), size, header.transfer_mode, header.channel,
                                  header.sequence, header.message_id, header.fragment_index,
                                  header.fragment_count, header.total_size, header.session_nonce,
                                  header.kind),
                wrapped, error))
                << error;

            DataPlaneEnvelope envelope;
            ASSERT_TRUE(make_peer_envelope(2, kRoomHostSlot, target, room, envelope, error));
            EXPECT_EQ(data_plane_envelope_header_size(envelope) + kPeerFrameHeaderBytes + size,
                      wrapped.size());
            ASSERT_TRUE(encode_peer_envelope(envelope, header, packet.data(), size, reused, error));
            EXPECT_EQ(to_hex(reused), to_hex(wrapped));
        }
    }
}

}  // namespace
}  // namespace qop::network
