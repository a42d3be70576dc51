#pragma once

// Relay traffic of the room peers written and read by hand, byte by byte, so
// that the tests never trust the peer's own encoders: PeerToPeer envelopes
// around "QOPG" frames, and the host's nonce read out of its announce.

#include <cstdint>
#include <string>
#include <vector>

namespace qop::godot_adapter::testing {

using Bytes = std::vector<std::uint8_t>;

// Envelope kinds (byte 1).
constexpr std::uint8_t kPeerToPeer = 0x01;
constexpr std::uint8_t kPing = 0x0B;

struct HandFrame {
    std::uint8_t sender = 1;
    std::uint8_t target = 2;  // a Direct route to this slot
    std::uint8_t kind = 3;
    std::uint8_t mode = 2;
    std::uint16_t channel = 0;
    std::uint32_t sequence = 1;
    std::uint32_t message_id = 1;
    std::uint16_t index = 0;
    std::uint16_t count = 1;
    std::uint32_t total = 0;  // 0: the chunk's size
    std::uint64_t nonce = 0;
    Bytes chunk;
};

inline void put_be(Bytes& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

inline std::uint64_t get_be(const Bytes& in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = (value << 8) | in.at(at + static_cast<std::size_t>(i));
    }
    return value;
}

// flags 0, kind PeerToPeer, route Direct, sender, target, "GPPG", then the frame.
inline Bytes hand_envelope(const HandFrame& f) {
    Bytes out = {0x00, 0x01, 0x02, f.sender, f.target, 'G',  'P',    'P',
                 'G',  'Q',  'O',  'P',      'G',      0x01, f.kind, f.mode};
    put_be(out, f.channel, 2);
    put_be(out, f.sequence, 4);
    put_be(out, f.message_id, 4);
    put_be(out, f.index, 2);
    put_be(out, f.count, 2);
    put_be(out, f.total != 0 ? f.total : f.chunk.size(), 4);
    put_be(out, f.nonce, 8);
    out.insert(out.end(), f.chunk.begin(), f.chunk.end());
    return out;
}

// Envelopes of `kind` (byte 1) among relay frames.
inline std::vector<Bytes> envelopes_of_kind(const std::vector<Bytes>& frames, std::uint8_t kind) {
    std::vector<Bytes> found;
    for (const Bytes& frame : frames) {
        if (frame.size() >= 4 && frame[1] == kind) {
            found.push_back(frame);
        }
    }
    return found;
}

// The host's announces: Broadcast envelopes (8-byte header) whose frame is of kind 1.
inline std::vector<Bytes> announces(const std::vector<Bytes>& frames) {
    std::vector<Bytes> found;
    for (const Bytes& frame : envelopes_of_kind(frames, kPeerToPeer)) {
        if (frame.size() >= 8 + 33 && frame[2] == 0x01 && frame[8 + 5] == 0x01) {
            found.push_back(frame);
        }
    }
    return found;
}

inline std::uint64_t announced_nonce(const Bytes& announce) {
    return get_be(announce, 8 + 25, 8);
}

}  // namespace qop::godot_adapter::testing
