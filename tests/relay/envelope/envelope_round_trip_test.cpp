#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "relay/data_plane_envelope.hpp"

namespace qop::network {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Builds inputs that are biased towards plausible headers so that a good share decodes.
Bytes plausible_wire(std::mt19937& random) {
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> small(0, 5);
    Bytes wire;
    wire.push_back(static_cast<std::uint8_t>(small(random) % 5));                      // flags 0..4
    wire.push_back(static_cast<std::uint8_t>(random() % 3 == 0 ? 1 : random() % 27));  // kind
    wire.push_back(static_cast<std::uint8_t>(small(random)));                          // route 0..5
    wire.push_back(static_cast<std::uint8_t>(random() % 67));                          // sender
    const std::size_t extra = random() % 64;
    for (std::size_t i = 0; i < extra; ++i) {
        const bool slotish = random() % 2 == 0;
        wire.push_back(static_cast<std::uint8_t>(slotish ? random() % 66 : byte(random)));
    }
    return wire;
}

TEST(EnvelopeRoundTrip, EverySuccessfulDecodeEncodesToTheSameBytes) {
    std::mt19937 random(20261209);
    int decoded_count = 0;
    for (int i = 0; i < 50000; ++i) {
        const Bytes wire = plausible_wire(random);
        DataPlaneEnvelope envelope;
        std::string error;
        if (!decode_data_plane_envelope(wire, envelope, error)) {
            EXPECT_FALSE(error.empty());
            continue;
        }
        ++decoded_count;
        Bytes encoded;
        ASSERT_TRUE(encode_data_plane_envelope(envelope, encoded, error)) << error;
        ASSERT_EQ(encoded, wire) << "input " << i;
    }
    EXPECT_GT(decoded_count, 5000);
}

TEST(EnvelopeRoundTrip, EncodedValidRecordsDecodeToThemselves) {
    std::mt19937 random(7);
    for (int i = 0; i < 20000; ++i) {
        DataPlaneEnvelope e;
        e.flags = static_cast<std::uint8_t>(random() % 2);
        e.route_kind = static_cast<std::uint8_t>(random() % 4);
        e.sender_slot = static_cast<std::uint8_t>(random() % 65);
        if (e.route_kind == 2) {
            e.target_slot = static_cast<std::uint8_t>(1 + random() % 64);
        } else if (e.route_kind == 3) {
            e.target_mask = (static_cast<std::uint64_t>(random()) << 32 | random()) | 1;
        }
        e.message_kind = static_cast<std::uint8_t>(random() % 25);
        if (e.message_kind == 0) {
            e.custom_type.assign(1 + random() % 255, static_cast<char>('a' + random() % 26));
        } else if (e.message_kind == 1) {
            e.p2p_metadata = static_cast<std::uint32_t>(random());
            if (random() % 2 == 0) {
                e.flags |= kEnvelopeFlagFragment;
                e.has_fragment = true;
                e.fragment_id[random() % 16] = static_cast<std::uint8_t>(random());
                e.fragment_count = static_cast<std::uint16_t>(1 + random() % 65535);
                e.fragment_index = static_cast<std::uint16_t>(random() % e.fragment_count);
                e.fragment_total_bytes = static_cast<std::uint32_t>(1 + random() % 100000);
            }
        }
        e.payload.assign(random() % 40, static_cast<std::uint8_t>(random()));
        Bytes encoded;
        std::string error;
        ASSERT_TRUE(encode_data_plane_envelope(e, encoded, error)) << error;
        DataPlaneEnvelope back;
        ASSERT_TRUE(decode_data_plane_envelope(encoded, back, error)) << error;
        ASSERT_TRUE(back == e) << "record " << i;
    }
}

}  // namespace
}  // namespace qop::network
