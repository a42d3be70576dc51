#pragma once

// The packets the room benches send: a u32 type, a u32 sequence number, then
// bytes of a pseudo-random table at an offset that depends on the sequence
// number. The receiver checks the size, the type, the order and every byte,
// so a lost, duplicated, reordered, truncated or corrupted packet fails the
// run instead of being timed.

#include <cstddef>
#include <cstdint>

namespace qop::bench {

enum class PacketType : std::uint32_t { Probe = 1, Echo = 2, Data = 3, Credit = 4 };

inline constexpr std::size_t kPacketHeaderBytes = 8;
inline constexpr std::size_t kLargestPacket = 16u * 1024 * 1024;

struct PacketHead {
    PacketType type;
    std::uint32_t sequence;
};

// Fills `size` bytes (at least kPacketHeaderBytes).
void write_packet(std::uint8_t* packet, std::size_t size, PacketType type, std::uint32_t sequence);
PacketHead read_head(const std::uint8_t* packet);
void set_type(std::uint8_t* packet, PacketType type);

// Fails the run unless the packet has `size` bytes and the pattern of its
// sequence number after the header; `who` names the receiver in the message.
void check_packet(const char* who, const std::uint8_t* packet, std::size_t length,
                  std::size_t size);

}  // namespace qop::bench
