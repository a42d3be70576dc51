#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "shared/little_endian.hpp"

namespace qop::network {
namespace {

TEST(LittleEndianTest, FourBytesAndTheirValueMatchBothWays) {
    struct Case {
        std::array<std::uint8_t, 4> bytes;
        std::uint32_t value;
    };
    const Case cases[] = {
        {{0x00, 0x00, 0x00, 0x00}, 0},           {{0x01, 0x00, 0x00, 0x00}, 1},
        {{0x00, 0x00, 0x00, 0x01}, 0x01000000u}, {{0x2C, 0x01, 0x00, 0x00}, 300},
        {{0x78, 0x56, 0x34, 0x12}, 0x12345678u}, {{0x00, 0x00, 0x10, 0x00}, 1048576},
        {{0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFFu},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read_u32_le(c.bytes.data()), c.value) << c.value;
        std::array<std::uint8_t, 6> written = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
        write_u32_le(written.data() + 1, c.value);
        const std::array<std::uint8_t, 6> expected = {0xAA,       c.bytes[0], c.bytes[1],
                                                      c.bytes[2], c.bytes[3], 0xAA};
        EXPECT_EQ(written, expected) << c.value;
    }
}

}  // namespace
}  // namespace qop::network
