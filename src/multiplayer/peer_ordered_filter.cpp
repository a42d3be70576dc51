#include "multiplayer/peer_ordered_filter.hpp"

namespace qop::network {
namespace {

std::uint64_t key_of(std::int32_t peer, std::uint16_t channel) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(peer)) << 32) | channel;
}

// Serial-number order: `candidate` is newer when it lies less than half the
// number space ahead of `last`, so 0 follows 0xFFFFFFFF.
bool is_newer(std::uint32_t candidate, std::uint32_t last) {
    const std::uint32_t distance = candidate - last;
    return distance != 0 && distance < 0x80000000u;
}

}  // namespace

bool OrderedSequenceFilter::accept(std::int32_t peer, std::uint16_t channel,
                                   std::uint32_t sequence) {
    const auto inserted = last_accepted_.emplace(key_of(peer, channel), sequence);
    if (inserted.second) {
        return true;
    }
    std::uint32_t& last = inserted.first->second;
    if (!is_newer(sequence, last)) {
        return false;
    }
    last = sequence;
    return true;
}

void OrderedSequenceFilter::forget_peer(std::int32_t peer) {
    const std::uint64_t peer_bits = key_of(peer, 0);
    for (auto entry = last_accepted_.begin(); entry != last_accepted_.end();) {
        if ((entry->first & ~std::uint64_t{0xFFFFFFFF}) == peer_bits) {
            entry = last_accepted_.erase(entry);
        } else {
            ++entry;
        }
    }
}

void OrderedSequenceFilter::clear() {
    last_accepted_.clear();
}

}  // namespace qop::network
