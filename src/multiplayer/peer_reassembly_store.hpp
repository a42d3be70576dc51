#pragma once

// Reliable packets that arrive in several frames are put back together here,
// within fixed bounds on how many messages and how many announced bytes may
// be pending at once, and for how long.
//
// Memory: a pending message holds one buffer of its announced total, taken
// when its first fragment arrives; every fragment is written into it at its
// own offset (index times the message's chunk size), whatever order the
// fragments come in, and a bitmap of 512 bytes says which have arrived. So
// what waits is at most the announced totals (32 MiB) plus about 600 bytes
// of bookkeeping per message (about 150 KiB at 256 messages), however many
// fragments each announces and however small they are.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "multiplayer/peer_data_frame.hpp"

namespace qop::network {

struct ReassemblyLimits {
    std::size_t max_messages = 256;
    std::uint64_t max_announced_bytes = 33554432;  // 32 MiB of announced totals
    std::int64_t max_age_ns = 30'000'000'000;      // 30 s from the first fragment
};

class ReassemblyStore {
public:
    explicit ReassemblyStore(ReassemblyLimits limits = {});
    ~ReassemblyStore();

    // One fragment of a reliable message from `sender`. The caller has
    // checked the frame: fragment count 2..4096, index below it, total size
    // 1..16 MiB, a non-empty chunk no longer than the total. Returns true when
    // this fragment completed the message: `packet` then holds the joined
    // bytes. Fragments that cannot be used (no room, a mismatch, a duplicate,
    // too many bytes, a count above the total size) are dropped silently,
    // as the rules of each case say. Every fragment but the last carries the
    // message's chunk size and the last one the rest: a fragment whose length
    // does not fit the sizes seen before it is a mismatch and discards the
    // whole message.
    bool add_fragment(const std::string& sender, const PeerFrameHeader& header,
                      const std::uint8_t* chunk, std::size_t chunk_size, std::int64_t now_ns,
                      std::vector<std::uint8_t>& packet);

    // Drops every message whose first fragment came strictly before
    // now_ns - max_age_ns.
    void expire(std::int64_t now_ns);
    // Drops every message of `sender` (a player who left).
    void forget_sender(const std::string& sender);
    void clear();

    std::size_t message_count() const;
    std::uint64_t announced_bytes() const;
    // What the pending messages hold on the heap: their packet buffers and
    // their own bookkeeping.
    std::uint64_t held_bytes() const;

private:
    struct PartialMessage;
    using Key = std::pair<std::string, std::uint32_t>;

    void erase(std::map<Key, std::unique_ptr<PartialMessage>>::iterator entry);

    ReassemblyLimits limits_;
    std::map<Key, std::unique_ptr<PartialMessage>> messages_;
    std::uint64_t announced_bytes_ = 0;
};

}  // namespace qop::network
