// The room peer's frames, control messages and keep-alive against bytes
// written out by hand from the wire layouts.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "multiplayer/peer_control_messages.hpp"
#include "multiplayer/peer_data_frame.hpp"
#include "support/wire_hex.hpp"

namespace qop::network {
namespace {

using Bytes = std::vector<std::uint8_t>;
using qop::test::to_hex;
using qop::test::wire_bytes;

TEST(PeerWireBytes, DataFrameHeaderIsBigEndianAndForeignFramesAreRefused) {
    const Bytes chunk = {'h', 'i'};
    const Bytes frame =
        encode_data_frame(chunk.data(), chunk.size(), /*mode=*/1, 0x0102, 0x03040506, 0x0708090A,
                          0x0001, 0x0002, 0x00000010, 0x1122334455667788ULL, /*kind=*/3);
    const Bytes expected = wire_bytes(R"("QOPG" 01 03 01  01 02  03 04 05 06  07 08 09 0A
                                         00 01  00 02  00 00 00 10
                                         11 22 33 44 55 66 77 88  "hi")");
    EXPECT_EQ(to_hex(frame), to_hex(expected));
    EXPECT_EQ(frame.capacity(), frame.size());
    ASSERT_EQ(expected.size(), kPeerFrameHeaderBytes + chunk.size());

    PeerFrameHeader header;
    ASSERT_TRUE(decode_peer_frame_header(expected.data(), kPeerFrameHeaderBytes, header));
    EXPECT_EQ(header.kind, 3);
    EXPECT_EQ(header.transfer_mode, 1);
    EXPECT_EQ(header.channel, 0x0102);
    EXPECT_EQ(header.sequence, 0x03040506u);
    EXPECT_EQ(header.message_id, 0x0708090Au);
    EXPECT_EQ(header.fragment_index, 1);
    EXPECT_EQ(header.fragment_count, 2);
    EXPECT_EQ(header.total_size, 16u);
    EXPECT_EQ(header.session_nonce, 0x1122334455667788ULL);

    struct Row {
        const char* name;
        std::size_t offset;
        std::uint8_t value;
    };
    const Row rows[] = {
        {"magic", 3, 'X'},
        {"version 0", 4, 0},
        {"version 2", 4, 2},
        {"transfer mode 3", 6, 3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes bad = expected;
        bad[row.offset] = row.value;
        EXPECT_FALSE(decode_peer_frame_header(bad.data(), bad.size(), header));
    }
    EXPECT_FALSE(decode_peer_frame_header(expected.data(), kPeerFrameHeaderBytes - 1, header));
    EXPECT_FALSE(decode_peer_frame_header(nullptr, 0, header));
}

TEST(PeerWireBytes, ControlFramesCarryOnlyKindAndNonce) {
    const char* const tail = R"(02  00 00  00 00 00 00  00 00 00 00  00 00  00 01  00 00 00 02
                                A1 B2 C3 D4 E5 F6 07 18  "{}")";
    EXPECT_EQ(to_hex(encode_control_frame(PeerFrameKind::SessionAnnounce, 0xA1B2C3D4E5F60718ULL)),
              to_hex(wire_bytes(std::string(R"("QOPG" 01 01 )") + tail)));
    EXPECT_EQ(to_hex(encode_control_frame(PeerFrameKind::Disconnect, 0xA1B2C3D4E5F60718ULL)),
              to_hex(wire_bytes(std::string(R"("QOPG" 01 04 )") + tail)));
}

TEST(PeerWireBytes, KeepaliveIsAPingToTheHost) {
    Bytes envelope;
    std::string error;
    ASSERT_TRUE(encode_keepalive_envelope(5, envelope, error)) << error;
    EXPECT_EQ(to_hex(envelope),
              to_hex(wire_bytes(R"(01 0B 00 05  7B 22 "transport" 22 3A 22 "tcp" 22 7D)")));

    EXPECT_FALSE(encode_keepalive_envelope(65, envelope, error));
    EXPECT_EQ(error, "DataPlaneEnvelope V1 header is invalid");
}

}  // namespace
}  // namespace qop::network
