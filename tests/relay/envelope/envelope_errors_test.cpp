#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "relay/data_plane_envelope.hpp"

namespace qop::network {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct DecodeFailure {
    const char* name;
    Bytes wire;
    const char* error;
};

const DecodeFailure kDecodeFailures[] = {
    {"empty", {}, "DataPlaneEnvelope V1 base header is truncated"},
    {"three_bytes", {0x00, 0x02, 0x01}, "DataPlaneEnvelope V1 base header is truncated"},
    {"direct_without_target",
     {0x00, 0x02, 0x02, 0x01},
     "DataPlaneEnvelope V1 direct route is truncated"},
    {"mask_seven_bytes",
     {0x00, 0x02, 0x03, 0x01, 0, 0, 0, 0, 0, 0, 1},
     "DataPlaneEnvelope V1 target mask is truncated"},
    {"route_kind_4", {0x00, 0x02, 0x04, 0x01}, "DataPlaneEnvelope V1 route kind is invalid"},
    {"route_kind_255", {0x00, 0x02, 0xFF, 0x01}, "DataPlaneEnvelope V1 route kind is invalid"},
    {"custom_without_length",
     {0x00, 0x00, 0x01, 0x01},
     "DataPlaneEnvelope V1 custom type length is truncated"},
    {"custom_length_zero",
     {0x00, 0x00, 0x01, 0x01, 0x00, 'x'},
     "DataPlaneEnvelope V1 custom type is truncated"},
    {"custom_short",
     {0x00, 0x00, 0x01, 0x01, 0x03, 'a', 'b'},
     "DataPlaneEnvelope V1 custom type is truncated"},
    {"custom_length_255_short",
     {0x00, 0x00, 0x01, 0x01, 0xFF, 'a'},
     "DataPlaneEnvelope V1 custom type is truncated"},
    {"kind_25", {0x00, 0x19, 0x01, 0x01}, "DataPlaneEnvelope V1 message kind is invalid"},
    {"kind_255", {0x00, 0xFF, 0x00, 0x01}, "DataPlaneEnvelope V1 message kind is invalid"},
    {"p2p_three_metadata_bytes",
     {0x00, 0x01, 0x01, 0x01, 0, 0, 0},
     "DataPlaneEnvelope V1 P2P metadata is truncated"},
    {"p2p_fragment_20_of_24",
     {0x02, 0x01, 0x01, 0x01, 0,  0,  0,  0,  1,  2,  3, 4, 5, 6,
      7,    8,    9,    10,   11, 12, 13, 14, 15, 16, 0, 0, 0, 1},
     "DataPlaneEnvelope V1 fragment metadata is truncated"},
    {"p2p_fragment_flag_no_block",
     {0x02, 0x01, 0x01, 0x01, 0, 0, 0, 0},
     "DataPlaneEnvelope V1 fragment metadata is truncated"},
    {"flags_4", {0x04, 0x02, 0x01, 0x01}, "DataPlaneEnvelope V1 header is invalid"},
    {"sender_65", {0x00, 0x02, 0x01, 0x41}, "DataPlaneEnvelope V1 header is invalid"},
    {"direct_target_0", {0x00, 0x02, 0x02, 0x01, 0x00}, "DataPlaneEnvelope V1 route is invalid"},
    {"direct_target_65", {0x00, 0x02, 0x02, 0x01, 0x41}, "DataPlaneEnvelope V1 route is invalid"},
    {"mask_zero",
     {0x00, 0x02, 0x03, 0x01, 0, 0, 0, 0, 0, 0, 0, 0},
     "DataPlaneEnvelope V1 route is invalid"},
    {"ping_with_fragment_flag",
     {0x02, 0x0B, 0x01, 0x01},
     "DataPlaneEnvelope V1 fragment metadata is inconsistent"},
    {"custom_with_fragment_flag",
     {0x02, 0x00, 0x01, 0x01, 0x01, 'x'},
     "DataPlaneEnvelope V1 fragment metadata is inconsistent"},
    {"fragment_index_equals_count",
     {0x02, 0x01, 0x01, 0x01, 0,  0,  0,  0,  1, 2, 3, 4, 5, 6, 7, 8,
      9,    10,   11,   12,   13, 14, 15, 16, 0, 2, 0, 2, 0, 0, 0, 1},
     "DataPlaneEnvelope V1 fragment metadata is invalid"},
    {"fragment_count_zero",
     {0x02, 0x01, 0x01, 0x01, 0,  0,  0,  0,  1, 2, 3, 4, 5, 6, 7, 8,
      9,    10,   11,   12,   13, 14, 15, 16, 0, 0, 0, 0, 0, 0, 0, 1},
     "DataPlaneEnvelope V1 fragment metadata is invalid"},
    {"fragment_total_zero",
     {0x02, 0x01, 0x01, 0x01, 0,  0,  0,  0,  1, 2, 3, 4, 5, 6, 7, 8,
      9,    10,   11,   12,   13, 14, 15, 16, 0, 0, 0, 1, 0, 0, 0, 0},
     "DataPlaneEnvelope V1 fragment metadata is invalid"},
};

TEST(EnvelopeDecode, ReportsEachTruncationAndValidationFailure) {
    for (const DecodeFailure& c : kDecodeFailures) {
        SCOPED_TRACE(c.name);
        DataPlaneEnvelope envelope;
        std::string error;
        EXPECT_FALSE(decode_data_plane_envelope(c.wire, envelope, error));
        EXPECT_EQ(error, c.error);
        // Reading in place refuses the same bytes for the same reason.
        EnvelopePayloadView payload;
        std::string view_error;
        EXPECT_FALSE(decode_data_plane_envelope_view(c.wire.data(), c.wire.size(), envelope,
                                                     payload, view_error));
        EXPECT_EQ(view_error, c.error);
    }
}

TEST(EnvelopeDecode, ShortInputLeavesRecordUntouched) {
    DataPlaneEnvelope envelope;
    envelope.sender_slot = 9;
    envelope.payload = {1, 2, 3};
    std::string error;
    EXPECT_FALSE(decode_data_plane_envelope(Bytes{0, 2, 1}, envelope, error));
    EXPECT_EQ(envelope.sender_slot, 9);
    EXPECT_EQ(envelope.payload, (Bytes{1, 2, 3}));
}

TEST(EnvelopeDecode, FragmentFlagOnOtherKindIsNotReadAsBlock) {
    // Kind 2 with the fragment flag: the following bytes stay payload, and validation refuses.
    Bytes wire{0x02, 0x02, 0x01, 0x01};
    wire.resize(40, 0x01);
    DataPlaneEnvelope envelope;
    std::string error;
    EXPECT_FALSE(decode_data_plane_envelope(wire, envelope, error));
    EXPECT_EQ(error, "DataPlaneEnvelope V1 fragment metadata is inconsistent");
    EXPECT_EQ(envelope.payload.size(), 36u);
}

struct ValidationCase {
    const char* name;
    void (*mutate)(DataPlaneEnvelope&);
    const char* error;  // nullptr: valid
};

DataPlaneEnvelope valid_p2p() {
    DataPlaneEnvelope e;
    e.message_kind = static_cast<std::uint8_t>(DataPlaneMessageKind::PeerToPeer);
    e.route_kind = static_cast<std::uint8_t>(DataPlaneRouteKind::Broadcast);
    e.sender_slot = 2;
    return e;
}

const ValidationCase kValidationCases[] = {
    {"plain", [](DataPlaneEnvelope&) {}, nullptr},
    {"sender_0", [](DataPlaneEnvelope& e) { e.sender_slot = 0; }, nullptr},
    {"sender_64", [](DataPlaneEnvelope& e) { e.sender_slot = 64; }, nullptr},
    {"sender_65", [](DataPlaneEnvelope& e) { e.sender_slot = 65; },
     "DataPlaneEnvelope V1 header is invalid"},
    {"flags_1", [](DataPlaneEnvelope& e) { e.flags = 1; }, nullptr},
    {"flags_4", [](DataPlaneEnvelope& e) { e.flags = 4; },
     "DataPlaneEnvelope V1 header is invalid"},
    {"flags_255", [](DataPlaneEnvelope& e) { e.flags = 255; },
     "DataPlaneEnvelope V1 header is invalid"},
    {"broadcast_with_target", [](DataPlaneEnvelope& e) { e.target_slot = 3; },
     "DataPlaneEnvelope V1 route is invalid"},
    {"broadcast_with_mask", [](DataPlaneEnvelope& e) { e.target_mask = 1; },
     "DataPlaneEnvelope V1 route is invalid"},
    {"host_with_target",
     [](DataPlaneEnvelope& e) {
         e.route_kind = 0;
         e.target_slot = 1;
     },
     "DataPlaneEnvelope V1 route is invalid"},
    {"direct_0", [](DataPlaneEnvelope& e) { e.route_kind = 2; },
     "DataPlaneEnvelope V1 route is invalid"},
    {"direct_65",
     [](DataPlaneEnvelope& e) {
         e.route_kind = 2;
         e.target_slot = 65;
     },
     "DataPlaneEnvelope V1 route is invalid"},
    {"direct_64",
     [](DataPlaneEnvelope& e) {
         e.route_kind = 2;
         e.target_slot = 64;
     },
     nullptr},
    {"direct_with_mask",
     [](DataPlaneEnvelope& e) {
         e.route_kind = 2;
         e.target_slot = 4;
         e.target_mask = 8;
     },
     "DataPlaneEnvelope V1 route is invalid"},
    {"mask_zero", [](DataPlaneEnvelope& e) { e.route_kind = 3; },
     "DataPlaneEnvelope V1 route is invalid"},
    {"mask_with_target",
     [](DataPlaneEnvelope& e) {
         e.route_kind = 3;
         e.target_mask = 1;
         e.target_slot = 1;
     },
     "DataPlaneEnvelope V1 route is invalid"},
    {"route_4", [](DataPlaneEnvelope& e) { e.route_kind = 4; },
     "DataPlaneEnvelope V1 route is invalid"},
    {"custom_empty", [](DataPlaneEnvelope& e) { e.message_kind = 0; },
     "DataPlaneEnvelope V1 custom type is invalid"},
    {"custom_256",
     [](DataPlaneEnvelope& e) {
         e.message_kind = 0;
         e.custom_type.assign(256, 'a');
     },
     "DataPlaneEnvelope V1 custom type is invalid"},
    {"kind_24", [](DataPlaneEnvelope& e) { e.message_kind = 24; }, nullptr},
    {"kind_25", [](DataPlaneEnvelope& e) { e.message_kind = 25; },
     "DataPlaneEnvelope V1 message kind is invalid"},
    {"flag_without_block", [](DataPlaneEnvelope& e) { e.flags = 2; },
     "DataPlaneEnvelope V1 fragment metadata is inconsistent"},
    {"block_without_flag",
     [](DataPlaneEnvelope& e) {
         e.has_fragment = true;
         e.fragment_count = 1;
         e.fragment_total_bytes = 1;
     },
     "DataPlaneEnvelope V1 fragment metadata is inconsistent"},
    {"ping_with_block",
     [](DataPlaneEnvelope& e) {
         e.message_kind = 11;
         e.flags = 2;
         e.has_fragment = true;
         e.fragment_count = 1;
         e.fragment_total_bytes = 1;
     },
     "DataPlaneEnvelope V1 fragment metadata is inconsistent"},
    {"fragment_ok",
     [](DataPlaneEnvelope& e) {
         e.flags = 3;
         e.has_fragment = true;
         e.fragment_index = 65534;
         e.fragment_count = 65535;
         e.fragment_total_bytes = 1;
     },
     nullptr},
    {"fragment_index_at_count",
     [](DataPlaneEnvelope& e) {
         e.flags = 2;
         e.has_fragment = true;
         e.fragment_index = 3;
         e.fragment_count = 3;
         e.fragment_total_bytes = 10;
     },
     "DataPlaneEnvelope V1 fragment metadata is invalid"},
    {"fragment_total_zero",
     [](DataPlaneEnvelope& e) {
         e.flags = 2;
         e.has_fragment = true;
         e.fragment_count = 1;
     },
     "DataPlaneEnvelope V1 fragment metadata is invalid"},
};

TEST(EnvelopeValidate, TableOfRules) {
    for (const ValidationCase& c : kValidationCases) {
        SCOPED_TRACE(c.name);
        DataPlaneEnvelope envelope = valid_p2p();
        c.mutate(envelope);
        std::string error;
        const bool valid = validate_data_plane_envelope(envelope, error);
        EXPECT_EQ(valid, c.error == nullptr) << error;
        if (c.error != nullptr) {
            EXPECT_EQ(error, c.error);
        }

        // Encoding applies the same rules and leaves the output alone on failure.
        std::vector<std::uint8_t> out{0x55};
        std::string encode_error;
        EXPECT_EQ(encode_data_plane_envelope(envelope, out, encode_error), valid);
        if (!valid) {
            EXPECT_EQ(encode_error, error);
            EXPECT_EQ(out, (std::vector<std::uint8_t>{0x55}));
        }
    }
}

TEST(EnvelopeRequireBytes, CountsAndBounds) {
    const Bytes bytes(10, 0);
    std::string error;
    EXPECT_TRUE(require_envelope_bytes(bytes, 0, 10, "x", error));
    EXPECT_TRUE(require_envelope_bytes(bytes, 9, 1, "x", error));
    EXPECT_FALSE(require_envelope_bytes(bytes, 10, 1, "target mask", error));
    EXPECT_EQ(error, "DataPlaneEnvelope V1 target mask is truncated");
    EXPECT_FALSE(require_envelope_bytes(bytes, 0, 0, "custom type", error));
    EXPECT_EQ(error, "DataPlaneEnvelope V1 custom type is truncated");
    EXPECT_FALSE(require_envelope_bytes(bytes, 11, 1, "x", error));
    EXPECT_FALSE(require_envelope_bytes(bytes, 2, SIZE_MAX, "x", error));
}

}  // namespace
}  // namespace qop::network
