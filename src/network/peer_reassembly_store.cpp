#include "network/peer_reassembly_store.hpp"

#include <limits>

namespace qop::network {

struct ReassemblyStore::PartialMessage {
    std::uint32_t total_bytes = 0;
    std::uint32_t received_bytes = 0;
    std::uint16_t fragment_count = 0;
    std::uint16_t received_fragments = 0;
    // Fragments 0 to joined_fragments - 1, one after the other: the packet
    // grows here in place, so the last fragment completes it without a join.
    std::vector<std::uint8_t> joined;
    std::uint16_t joined_fragments = 0;
    // Fragments that came ahead of a missing one wait here until it arrives:
    // one slot per fragment index, made when the first such fragment comes.
    // A waiting chunk is never empty, so an empty slot holds nothing.
    std::vector<std::vector<std::uint8_t>> waiting;
    std::int64_t started_ns = 0;

    bool holds(std::uint16_t index) const {
        return index < joined_fragments || (!waiting.empty() && !waiting[index].empty());
    }
    void place(std::uint16_t index, const std::uint8_t* chunk, std::size_t chunk_size) {
        if (index != joined_fragments) {
            if (waiting.empty()) {
                waiting.resize(fragment_count);
            }
            waiting[index].assign(chunk, chunk + chunk_size);
            return;
        }
        if (joined.capacity() == 0) {
            joined.reserve(total_bytes);
        }
        joined.insert(joined.end(), chunk, chunk + chunk_size);
        ++joined_fragments;
        while (joined_fragments < fragment_count && !waiting.empty() &&
               !waiting[joined_fragments].empty()) {
            std::vector<std::uint8_t> next = std::move(waiting[joined_fragments]);
            joined.insert(joined.end(), next.begin(), next.end());
            ++joined_fragments;
        }
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
    if (chunk_size > message.total_bytes - message.received_bytes) {
        erase(entry);
        return false;
    }
    message.place(header.fragment_index, chunk, chunk_size);
    message.received_bytes += static_cast<std::uint32_t>(chunk_size);
    ++message.received_fragments;
    if (message.received_fragments < message.fragment_count) {
        return false;
    }

    // Every index is in, so every fragment has joined the packet in index order.
    const bool complete = message.joined.size() == message.total_bytes;
    if (complete) {
        packet = std::move(message.joined);
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

void ReassemblyStore::erase(std::map<Key, std::unique_ptr<PartialMessage>>::iterator entry) {
    const std::uint64_t total = entry->second->total_bytes;
    announced_bytes_ -= total < announced_bytes_ ? total : announced_bytes_;
    messages_.erase(entry);
}

}  // namespace qop::network
