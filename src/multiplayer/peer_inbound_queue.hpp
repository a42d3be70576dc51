#pragma once

// The complete packets a room peer holds for the engine, first in first out.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "multiplayer/peer_data_frame.hpp"

namespace qop::network {

// A complete packet waiting for the engine.
struct InboundPacket {
    std::vector<std::uint8_t> bytes;
    std::int32_t peer = 0;
    std::int32_t channel = 0;
    std::int32_t mode = kTransferModeReliable;
};

// A FIFO that keeps its storage: std::deque frees a block each time its front
// passes one and allocates another as its back reaches the next, so a steady
// stream of packets costs an allocation every dozen packets. Here the storage
// is reused once the engine has read everything, and a read part of at least
// half is dropped when the storage would otherwise have to grow (so each
// packet is moved at most a few times however the engine reads). A burst
// that grew it past kKeptSlots gives the rest back once it has been read.
class InboundPacketQueue {
public:
    // Packets' worth of storage kept across drains, enough for the steady
    // traffic of many frames without an allocation.
    static constexpr std::size_t kKeptSlots = 1024;

    bool empty() const { return head_ == items_.size(); }
    std::size_t size() const { return items_.size() - head_; }
    // The oldest packet first; `index` counts from it.
    InboundPacket& operator[](std::size_t index) { return items_[head_ + index]; }
    const InboundPacket& operator[](std::size_t index) const { return items_[head_ + index]; }
    InboundPacket& front() { return items_[head_]; }
    const InboundPacket& front() const { return items_[head_]; }
    std::vector<InboundPacket>::const_iterator begin() const {
        return items_.begin() + static_cast<std::ptrdiff_t>(head_);
    }
    std::vector<InboundPacket>::const_iterator end() const { return items_.end(); }

    void push_back(InboundPacket packet) {
        if (head_ > 0 && items_.size() == items_.capacity() && head_ * 2 >= items_.size()) {
            items_.erase(items_.begin(), items_.begin() + static_cast<std::ptrdiff_t>(head_));
            head_ = 0;
        }
        items_.push_back(std::move(packet));
    }
    void pop_front() {
        // Whatever the caller did not move out is released now, not when the
        // slot is reused.
        items_[head_] = InboundPacket{};
        if (++head_ == items_.size()) {
            clear();
        }
    }
    void clear() {
        items_.clear();
        head_ = 0;
        if (items_.capacity() > kKeptSlots) {
            std::vector<InboundPacket> kept;
            kept.reserve(kKeptSlots);
            items_.swap(kept);
        }
    }
    std::size_t capacity() const { return items_.capacity(); }

private:
    std::vector<InboundPacket> items_;
    std::size_t head_ = 0;  // packets before it have been read
};

}  // namespace qop::network
