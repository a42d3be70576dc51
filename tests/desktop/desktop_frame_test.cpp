// Framing of the desktop session pipe: the 4-byte little-endian length.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "desktop/desktop_session_codec.hpp"
#include "support/wire_hex.hpp"

namespace {

using qop::desktop::frame_with_length_prefix;
using qop::desktop::read_frame_length;
using qop::test::to_hex;
using qop::test::wire_bytes;

struct LengthCase {
    std::array<std::uint8_t, 4> header;
    std::uint32_t length;
    bool valid;
};

const LengthCase kLengthCases[] = {
    {{0x00, 0x00, 0x00, 0x00}, 0, false},           {{0x01, 0x00, 0x00, 0x00}, 1, true},
    {{0x2C, 0x01, 0x00, 0x00}, 300, true},          {{0xFF, 0xFF, 0xFF, 0x00}, 16777215, true},
    {{0x00, 0x00, 0x00, 0x01}, 16777216, true},     {{0x01, 0x00, 0x00, 0x01}, 16777217, false},
    {{0x78, 0x56, 0x34, 0x12}, 0x12345678u, false}, {{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFFu, false},
};

TEST(DesktopFrame, LengthIsLittleEndianAndBoundedToSixteenMebibytes) {
    for (const LengthCase& c : kLengthCases) {
        std::uint32_t length = 7;
        EXPECT_EQ(read_frame_length(c.header, length), c.valid) << c.length;
        // Stored also when out of range, so that the caller can report it.
        EXPECT_EQ(length, c.length);
    }
}

TEST(DesktopFrame, PrefixIsThePayloadSizeLittleEndian) {
    EXPECT_EQ(to_hex(frame_with_length_prefix({})), "00 00 00 00");
    EXPECT_EQ(to_hex(frame_with_length_prefix(wire_bytes("0A 00"))), "02 00 00 00 0A 00");
    const std::vector<std::uint8_t> payload(300, 0xAB);
    const std::vector<std::uint8_t> frame = frame_with_length_prefix(payload);
    ASSERT_EQ(frame.size(), 304u);
    EXPECT_EQ(to_hex(std::vector<std::uint8_t>(frame.begin(), frame.begin() + 5)),
              "2C 01 00 00 AB");
    EXPECT_EQ(frame.back(), 0xAB);
}

TEST(DesktopFrame, PrefixOfALargePayloadUsesAllFourBytes) {
    const std::vector<std::uint8_t> payload(0x01020304u, 0);
    const std::vector<std::uint8_t> frame = frame_with_length_prefix(payload);
    EXPECT_EQ(to_hex(std::vector<std::uint8_t>(frame.begin(), frame.begin() + 4)), "04 03 02 01");
    EXPECT_EQ(frame.size(), payload.size() + 4);
}

}  // namespace
