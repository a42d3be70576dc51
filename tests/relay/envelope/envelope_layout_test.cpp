#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "relay/data_plane_envelope.hpp"
#include "shared/big_endian.hpp"

namespace qop::network {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

DataPlaneEnvelope envelope_of(std::uint8_t flags, std::uint8_t kind, std::uint8_t route,
                              std::uint8_t sender) {
    DataPlaneEnvelope envelope;
    envelope.flags = flags;
    envelope.message_kind = kind;
    envelope.route_kind = route;
    envelope.sender_slot = sender;
    return envelope;
}

struct LayoutCase {
    const char* name;
    DataPlaneEnvelope envelope;
    Bytes wire;
};

std::vector<LayoutCase> layout_cases() {
    std::vector<LayoutCase> cases;
    {
        DataPlaneEnvelope e = envelope_of(0, 2, 1, 3);
        cases.push_back({"broadcast_kind2_empty_payload", e, {0x00, 0x02, 0x01, 0x03}});
    }
    {
        DataPlaneEnvelope e = envelope_of(0x01, 11, 0, 0);
        e.payload = {0xAA};
        cases.push_back({"host_ping_flag0_carried", e, {0x01, 0x0B, 0x00, 0x00, 0xAA}});
    }
    {
        DataPlaneEnvelope e = envelope_of(0, 24, 2, 64);
        e.target_slot = 7;
        e.payload = {0x01, 0x02};
        cases.push_back({"direct_kind24", e, {0x00, 0x18, 0x02, 0x40, 0x07, 0x01, 0x02}});
    }
    {
        DataPlaneEnvelope e = envelope_of(0, 5, 3, 1);
        e.target_mask = 0x8000000000000005ULL;
        cases.push_back({"target_mask_big_endian",
                         e,
                         {0x00, 0x05, 0x03, 0x01, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05}});
    }
    {
        DataPlaneEnvelope e = envelope_of(0, 0, 1, 2);
        e.custom_type = "chat";
        e.payload = {0x7F};
        cases.push_back(
            {"custom_broadcast", e, {0x00, 0x00, 0x01, 0x02, 0x04, 'c', 'h', 'a', 't', 0x7F}});
    }
    {
        DataPlaneEnvelope e = envelope_of(0, 0, 2, 2);
        e.target_slot = 1;
        e.custom_type = std::string(255, 'x');
        cases.push_back({"custom_direct_255_byte_type", e,
                         concat({{0x00, 0x00, 0x02, 0x02, 0x01, 0xFF}, Bytes(255, 'x')})});
    }
    {
        DataPlaneEnvelope e = envelope_of(0, 1, 0, 4);
        e.p2p_metadata = 0x01020304;
        e.payload = {0x10, 0x20};
        cases.push_back(
            {"p2p_to_host", e, {0x00, 0x01, 0x00, 0x04, 0x01, 0x02, 0x03, 0x04, 0x10, 0x20}});
    }
    {
        DataPlaneEnvelope e = envelope_of(0x03, 1, 3, 9);
        e.target_mask = 0x3;
        e.p2p_metadata = 0xFFFFFFFF;
        for (std::uint8_t i = 0; i < 16; ++i) {
            e.fragment_id[i] = static_cast<std::uint8_t>(0xA0 + i);
        }
        e.fragment_index = 0x0102;
        e.fragment_count = 0x0304;
        e.fragment_total_bytes = 0x05060708;
        e.has_fragment = true;
        e.payload = {0xEE};
        Bytes id;
        for (std::uint8_t i = 0; i < 16; ++i) {
            id.push_back(static_cast<std::uint8_t>(0xA0 + i));
        }
        cases.push_back(
            {"p2p_fragment_target_mask", e,
             concat({{0x03, 0x01, 0x03, 0x09, 0, 0, 0, 0, 0, 0, 0, 0x03, 0xFF, 0xFF, 0xFF, 0xFF},
                     id,
                     {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0xEE}})});
    }
    return cases;
}

TEST(EnvelopeLayout, DecodesHandMadeBytesAndEncodesThemBack) {
    for (const LayoutCase& c : layout_cases()) {
        SCOPED_TRACE(c.name);
        DataPlaneEnvelope decoded;
        std::string error;
        ASSERT_TRUE(decode_data_plane_envelope(c.wire, decoded, error)) << error;
        EXPECT_TRUE(decoded == c.envelope);
        Bytes encoded;
        ASSERT_TRUE(encode_data_plane_envelope(c.envelope, encoded, error)) << error;
        EXPECT_EQ(encoded, c.wire);

        // Read in place, the payload is the tail of the very input bytes.
        DataPlaneEnvelope header;
        EnvelopePayloadView payload;
        ASSERT_TRUE(
            decode_data_plane_envelope_view(c.wire.data(), c.wire.size(), header, payload, error))
            << error;
        EXPECT_TRUE(header.payload.empty());
        const std::size_t header_bytes = c.wire.size() - c.envelope.payload.size();
        EXPECT_EQ(payload.data, c.wire.data() + header_bytes);
        EXPECT_EQ(payload.size, c.envelope.payload.size());
        header.payload = c.envelope.payload;
        EXPECT_TRUE(header == c.envelope);

        // The header alone, with room kept for the payload the caller appends.
        EXPECT_EQ(data_plane_envelope_header_size(c.envelope), header_bytes);
        Bytes header_only = {0xEE};
        ASSERT_TRUE(encode_data_plane_envelope_header(c.envelope, c.envelope.payload.size(),
                                                      header_only, error))
            << error;
        EXPECT_EQ(header_only, Bytes(c.wire.begin(), c.wire.begin() + header_bytes));
        EXPECT_GE(header_only.capacity(), c.wire.size());
    }
}

TEST(EnvelopeLayout, FieldsOutsideKindAndRouteAreNotWritten) {
    DataPlaneEnvelope e = envelope_of(0, 11, 1, 2);
    e.custom_type = "ignored";
    e.p2p_metadata = 0xDEADBEEF;
    e.fragment_total_bytes = 9;  // no fragment flag: not written either
    Bytes encoded;
    std::string error;
    ASSERT_TRUE(encode_data_plane_envelope(e, encoded, error)) << error;
    EXPECT_EQ(encoded, (Bytes{0x00, 0x0B, 0x01, 0x02}));

    DataPlaneEnvelope back;
    ASSERT_TRUE(decode_data_plane_envelope(encoded, back, error)) << error;
    EXPECT_TRUE(back.custom_type.empty());
    EXPECT_EQ(back.p2p_metadata, 0u);
    EXPECT_EQ(back.fragment_total_bytes, 0u);
}

TEST(EnvelopeLayout, FreshRecordHasBroadcastRoute) {
    const DataPlaneEnvelope fresh;
    EXPECT_EQ(fresh.route_kind, static_cast<std::uint8_t>(DataPlaneRouteKind::Broadcast));
    EXPECT_EQ(fresh.message_kind, static_cast<std::uint8_t>(DataPlaneMessageKind::Custom));
    EXPECT_FALSE(fresh.has_fragment);
}

TEST(EnvelopeLayout, AppendHelpersWriteMostSignificantByteFirst) {
    Bytes bytes{0x99};
    append_u16_be(bytes, 0xABCD);
    append_u32_be(bytes, 0x01020304);
    EXPECT_EQ(bytes, (Bytes{0x99, 0xAB, 0xCD, 0x01, 0x02, 0x03, 0x04}));
}

}  // namespace
}  // namespace qop::network
