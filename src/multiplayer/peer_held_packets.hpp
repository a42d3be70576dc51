#pragma once

// What a client holds while it does not yet know the room's session nonce
// (the host announces it every few seconds): the packets the game gives it,
// to be sent in order once the nonce is known, and the data frames other
// players send it, to be judged once the nonce is known. Both are bounded.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

namespace qop::network {

struct HeldOutboundPacket {
    std::int32_t target_peer = 0;
    std::int32_t transfer_mode = 0;
    std::int32_t channel = 0;
    std::vector<std::uint8_t> bytes;
};

struct HeldInboundFrame {
    std::string sender;  // player id
    bool reliable = false;
    std::vector<std::uint8_t> frame;  // the PeerDataFrame bytes
};

struct NonceWaitLimits {
    std::size_t max_items = 2048;
    std::uint64_t max_bytes = 33554432;
};

// A FIFO bounded by item count and bytes.
template <typename Item>
class BoundedHold {
public:
    explicit BoundedHold(NonceWaitLimits limits = {}) : limits_(limits) {}

    // False, holding nothing, when the item would pass either bound.
    bool hold(Item item, std::size_t size) {
        if (items_.size() >= limits_.max_items || size > limits_.max_bytes - bytes_) {
            return false;
        }
        items_.push_back(std::move(item));  // a failed allocation changes nothing
        bytes_ += size;
        return true;
    }
    std::deque<Item> take_all() {
        bytes_ = 0;
        return std::exchange(items_, {});
    }
    void clear() { take_all(); }
    bool empty() const { return items_.empty(); }
    std::size_t size() const { return items_.size(); }
    std::uint64_t bytes() const { return bytes_; }

private:
    NonceWaitLimits limits_;
    std::deque<Item> items_;
    std::uint64_t bytes_ = 0;
};

}  // namespace qop::network
