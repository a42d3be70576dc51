#pragma once

#include <cstdint>
#include <vector>

namespace qop::network {

// The relays' wire formats carry their integers in network byte order.

inline std::uint16_t read_u16_be(const std::uint8_t* bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

inline std::uint32_t read_u32_be(const std::uint8_t* bytes) {
    return (static_cast<std::uint32_t>(bytes[0]) << 24) |
           (static_cast<std::uint32_t>(bytes[1]) << 16) |
           (static_cast<std::uint32_t>(bytes[2]) << 8) | static_cast<std::uint32_t>(bytes[3]);
}

inline std::uint64_t read_u64_be(const std::uint8_t* bytes) {
    return (static_cast<std::uint64_t>(read_u32_be(bytes)) << 32) | read_u32_be(bytes + 4);
}

inline void append_u16_be(std::vector<std::uint8_t>& bytes, std::uint16_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    bytes.push_back(static_cast<std::uint8_t>(value));
}

inline void append_u32_be(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
    append_u16_be(bytes, static_cast<std::uint16_t>(value >> 16));
    append_u16_be(bytes, static_cast<std::uint16_t>(value));
}

inline void append_u64_be(std::vector<std::uint8_t>& bytes, std::uint64_t value) {
    append_u32_be(bytes, static_cast<std::uint32_t>(value >> 32));
    append_u32_be(bytes, static_cast<std::uint32_t>(value));
}

}  // namespace qop::network
