#include "multiplayer/peer_reassembly_store.hpp"

#include <array>
#include <cstring>
#include <limits>

namespace qop::network {

struct ReassemblyStore::PartialMessage {
    std::uint32_t total_bytes = 0;
    std::uint32_t received_bytes = 0;
    std::uint16_t fragment_count = 0;
    std::uint16_t received_fragments = 0;
    // Every fragment but the last carries this many bytes, and fragment i
    // starts at i * chunk_bytes; 0 until the first fragment has shown it.
    std::uint32_t chunk_bytes = 0;
    // The packet itself, with room for the announced total from the first
    // fragment on. It holds bytes up to the end of the furthest fragment
    // stored: in-order fragments are appended, one that comes ahead of a
    // missing one is written at its offset and the gap before it is filled
    // when the missing ones arrive. Nothing is joined at the end.
    std::vector<std::uint8_t> packet;
    // One bit per fragment index that has been stored.
    std::array<std::uint64_t, (kMaxPeerFragments + 63) / 64> stored{};
    std::int64_t started_ns = 0;

    bool holds(std::uint16_t index) const {
        return ((stored[index / 64] >> (index % 64)) & 1u) != 0;
    }
    // Learns the chunk size from the first fragment and checks every later
    // one against it: the fragments of one message tile its bytes exactly,
    // so a fragment that does not fit the layout cannot belong to it.
    bool fits_layout(std::uint16_t index, std::size_t chunk_size) {
        const std::uint64_t before_last = fragment_count - 1u;
        const bool last = index == before_last;
        if (chunk_bytes == 0) {
            std::uint64_t chunk = chunk_size;
            if (last && before_last > 0) {
                // The last fragment alone: what comes before it splits evenly.
                const std::uint64_t rest = total_bytes - chunk_size;
                if (rest == 0 || rest % before_last != 0) {
                    return false;
                }
                chunk = rest / before_last;
            }
            // Every fragment but the last is full and the last is not empty.
            if (before_last * chunk >= total_bytes || total_bytes - before_last * chunk > chunk) {
                return false;
            }
            chunk_bytes = static_cast<std::uint32_t>(chunk);
            return true;
        }
        const std::uint64_t expected =
            last ? total_bytes - before_last * chunk_bytes : std::uint64_t{chunk_bytes};
        return chunk_size == expected;
    }
    void place(std::uint16_t index, const std::uint8_t* chunk, std::size_t chunk_size) {
        if (packet.capacity() == 0) {
            packet.reserve(total_bytes);
        }
        const std::size_t offset = static_cast<std::size_t>(index) * chunk_bytes;
        if (offset == packet.size()) {
            packet.insert(packet.end(), chunk, chunk + chunk_size);
        } else {
            // Within the reserved total: no reallocation, and each byte is
            // zeroed at most once before its fragment overwrites it.
            if (offset + chunk_size > packet.size()) {
                packet.resize(offset + chunk_size);
            }
            std::memcpy(packet.data() + offset, chunk, chunk_size);
        }
        stored[index / 64] |= std::uint64_t{1} << (index % 64);
    }
};

namespace {

// What the caller promises; checked again so that no frame can index past
// the slots or announce what the store cannot hold.
bool fragment_is_well_formed(const PeerFrameHeader& header, std::size_t chunk_size) {
    return header.fragment_count >= 1 && header.fragment_count <= kMaxPeerFragments &&
           header.fragment_index < header.fragment_count && header.total_size >= 1 &&
           header.total_size <= kMaxPeerPacketBytes && chunk_size >= 1 &&
           chunk_size <= header.total_size;
}

}  // namespace

ReassemblyStore::ReassemblyStore(ReassemblyLimits limits) : limits_(limits) {}

ReassemblyStore::~ReassemblyStore() = default;

bool ReassemblyStore::add_fragment(const std::string& sender, const PeerFrameHeader& header,
                                   const std::uint8_t* chunk, std::size_t chunk_size,
                                   std::int64_t now_ns, std::vector<std::uint8_t>& packet) {
    if (chunk == nullptr || !fragment_is_well_formed(header, chunk_size)) {
        return false;
    }
    Key key(sender, header.message_id);
    auto entry = messages_.find(key);
    if (entry == messages_.end()) {
        // Every fragment carries at least one byte, so a message announcing
        // more fragments than bytes could never complete; it would only hold
        // room until it expired.
        if (messages_.size() >= limits_.max_messages ||
            header.total_size > limits_.max_announced_bytes - announced_bytes_ ||
            header.fragment_count > header.total_size) {
            return false;
        }
        auto message = std::make_unique<PartialMessage>();
        message->total_bytes = header.total_size;
        message->fragment_count = header.fragment_count;
        message->started_ns = now_ns;
        announced_bytes_ += header.total_size;
        entry = messages_.emplace(std::move(key), std::move(message)).first;
    }
    PartialMessage& message = *entry->second;
    if (message.fragment_count != header.fragment_count ||
        message.total_bytes != header.total_size) {
        erase(entry);
        return false;
    }
    if (message.holds(header.fragment_index)) {
        return false;
    }
    if (chunk_size > message.total_bytes - message.received_bytes ||
        !message.fits_layout(header.fragment_index, chunk_size)) {
        erase(entry);
        return false;
    }
    message.place(header.fragment_index, chunk, chunk_size);
    message.received_bytes += static_cast<std::uint32_t>(chunk_size);
    ++message.received_fragments;
    if (message.received_fragments < message.fragment_count) {
        return false;
    }

    // Every index is in at its own offset, so the packet is whole.
    const bool complete = message.packet.size() == message.total_bytes;
    if (complete) {
        packet = std::move(message.packet);
    }
    erase(entry);
    return complete;
}

void ReassemblyStore::expire(std::int64_t now_ns) {
    // Nothing can be older than the age limit before the clock has run that
    // long; the subtraction below would overflow.
    if (now_ns < std::numeric_limits<std::int64_t>::min() + limits_.max_age_ns) {
        return;
    }
    const std::int64_t oldest_kept = now_ns - limits_.max_age_ns;
    for (auto entry = messages_.begin(); entry != messages_.end();) {
        auto next = std::next(entry);
        if (entry->second->started_ns < oldest_kept) {
            erase(entry);
        }
        entry = next;
    }
}

void ReassemblyStore::forget_sender(const std::string& sender) {
    auto entry = messages_.lower_bound(Key(sender, 0));
    while (entry != messages_.end() && entry->first.first == sender) {
        auto next = std::next(entry);
        erase(entry);
        entry = next;
    }
}

void ReassemblyStore::clear() {
    messages_.clear();
    announced_bytes_ = 0;
}

std::size_t ReassemblyStore::message_count() const {
    return messages_.size();
}

std::uint64_t ReassemblyStore::announced_bytes() const {
    return announced_bytes_;
}

std::uint64_t ReassemblyStore::held_bytes() const {
    std::uint64_t held = 0;
    for (const auto& entry : messages_) {
        held += sizeof(PartialMessage) + entry.second->packet.capacity();
    }
    return held;
}

void ReassemblyStore::erase(std::map<Key, std::unique_ptr<PartialMessage>>::iterator entry) {
    const std::uint64_t total = entry->second->total_bytes;
    announced_bytes_ -= total < announced_bytes_ ? total : announced_bytes_;
    messages_.erase(entry);
}

}  // namespace qop::network
