// How packets are cut and addressed: chunk sizes from the relay's frame
// limit, fragment counts, and the envelope routes against hand-written bytes.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "network/peer_send_plan.hpp"
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
        const char* wire;  // empty: refused
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
        {"no such slot (would wrap to 1)", 257, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes out;
        std::string error;
        const bool built = build_envelope_header(2, kRoomHostSlot, row.target, room,
                                                 Bytes{0xAA, 0xBB}, out, error);
        if (std::string(row.wire).empty()) {
            EXPECT_FALSE(built);
            EXPECT_EQ(error, "DataPlaneEnvelope V1 route is invalid");
        } else {
            ASSERT_TRUE(built) << error;
            EXPECT_EQ(to_hex(out), to_hex(wire_bytes(row.wire)));
        }
    }
}

TEST(PeerWireBytes, MaskThatLeavesNobodyIsRefused) {
    Bytes out = {0x55};
    std::string error;
    EXPECT_EQ(target_mask_excluding(room_of({1, 2}), 1, 2), 0u);
    EXPECT_FALSE(
        build_envelope_header(1, kRoomHostSlot, -2, room_of({1, 2}), Bytes{0xAA}, out, error));
    EXPECT_EQ(error, "DataPlaneEnvelope V1 route is invalid");
    EXPECT_EQ(out, Bytes{0x55});
}

TEST(PeerWireBytes, MaskSkipsSlotsOutsideTheRoomRange) {
    EXPECT_EQ(target_mask_excluding(room_of({0, 1, 64, 65, -4}), 1, 0), 0x8000000000000000ULL);
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
    std::uint32_t chunk = 0;
    ASSERT_TRUE(reliable_chunk_size(65536, chunk));
    ASSERT_EQ(fragment_count_for(100000, chunk), 4u);
    EXPECT_EQ(100000 - 3 * chunk, 1696u);

    EXPECT_EQ(fragment_count_for(4096, 1), 4096u);
    EXPECT_EQ(fragment_count_for(4097, 1), 4097u);
    EXPECT_EQ(fragment_count_for(32768, 32768), 1u);
    EXPECT_EQ(fragment_count_for(32769, 32768), 2u);
    EXPECT_EQ(fragment_count_for(0, 32768), 0u);
    EXPECT_EQ(fragment_count_for(10, 0), 0u);
    EXPECT_EQ(fragment_count_for(UINT64_MAX, 2), UINT64_MAX / 2 + 1);
}

}  // namespace
}  // namespace qop::network
