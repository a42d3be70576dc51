#pragma once

// Unreliable-ordered delivery: per sender and channel only a sequence newer
// than the last one accepted gets through. "Newer" is judged in 32-bit serial
// arithmetic, so a channel keeps delivering after its counter wraps.

#include <cstdint>
#include <unordered_map>

namespace qop::network {

class OrderedSequenceFilter {
public:
    // True, remembering `sequence`, when it is newer than the last sequence
    // accepted from `peer` on `channel` (any sequence is newer than none).
    bool accept(std::int32_t peer, std::uint16_t channel, std::uint32_t sequence);
    // Forgets a peer that left (its slot may be reused by someone else).
    void forget_peer(std::int32_t peer);
    void clear();

private:
    // (peer << 32) | channel -> last accepted sequence
    std::unordered_map<std::uint64_t, std::uint32_t> last_accepted_;
};

}  // namespace qop::network
