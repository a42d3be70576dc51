#include "bench_packets.hpp"

#include <cstring>
#include <vector>

#include "bench_report.hpp"

namespace qop::bench {
namespace {

// Offsets into the table run over this many bytes, so that consecutive
// packets differ everywhere.
constexpr std::size_t kPatternOffsets = 4096;

const std::uint8_t* pattern_table() {
    static const std::vector<std::uint8_t> table = [] {
        std::vector<std::uint8_t> bytes(kLargestPacket + kPatternOffsets);
        // xorshift64: no short period and no shift-invariance.
        std::uint64_t state = 0x9E3779B97F4A7C15ull;
        for (std::uint8_t& byte : bytes) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            byte = static_cast<std::uint8_t>(state >> 32);
        }
        return bytes;
    }();
    return table.data();
}

const std::uint8_t* pattern_of(std::uint32_t sequence) {
    return pattern_table() + (sequence * 2654435761u) % kPatternOffsets;
}

}  // namespace

void write_packet(std::uint8_t* packet, std::size_t size, PacketType type, std::uint32_t sequence) {
    const auto raw_type = static_cast<std::uint32_t>(type);
    std::memcpy(packet, &raw_type, 4);
    std::memcpy(packet + 4, &sequence, 4);
    std::memcpy(packet + kPacketHeaderBytes, pattern_of(sequence) + kPacketHeaderBytes,
                size - kPacketHeaderBytes);
}

PacketHead read_head(const std::uint8_t* packet) {
    std::uint32_t raw_type = 0;
    PacketHead head{};
    std::memcpy(&raw_type, packet, 4);
    std::memcpy(&head.sequence, packet + 4, 4);
    head.type = static_cast<PacketType>(raw_type);
    return head;
}

void set_type(std::uint8_t* packet, PacketType type) {
    const auto raw_type = static_cast<std::uint32_t>(type);
    std::memcpy(packet, &raw_type, 4);
}

void check_packet(const char* who, const std::uint8_t* packet, std::size_t length,
                  std::size_t size) {
    if (length < kPacketHeaderBytes) {
        fail("%s: packet of %zu bytes, sent %zu", who, length, size);
    }
    const PacketHead head = read_head(packet);
    if (length != size) {
        fail("%s: packet %u has %zu bytes, sent %zu", who, head.sequence, length, size);
    }
    const std::uint8_t* expected = pattern_of(head.sequence);
    if (std::memcmp(packet + kPacketHeaderBytes, expected + kPacketHeaderBytes,
                    length - kPacketHeaderBytes) != 0) {
        std::size_t at = kPacketHeaderBytes;
        while (packet[at] == expected[at]) {
            ++at;
        }
        fail("%s: packet %u corrupted at byte %zu of %zu", who, head.sequence, at, length);
    }
}

}  // namespace qop::bench
