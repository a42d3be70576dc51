#pragma once

// Reliable packets that arrive in several frames are put back together here,
// within fixed bounds on how many messages and how many announced bytes may
// be pending at once, and for how long.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "network/peer_data_frame.hpp"

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
    // as the rules of each case say.
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

private:
    struct PartialMessage;
    using Key = std::pair<std::string, std::uint32_t>;

    void erase(std::map<Key, std::unique_ptr<PartialMessage>>::iterator entry);

    ReassemblyLimits limits_;
    std::map<Key, std::unique_ptr<PartialMessage>> messages_;
    std::uint64_t announced_bytes_ = 0;
};

}  // namespace qop::network
