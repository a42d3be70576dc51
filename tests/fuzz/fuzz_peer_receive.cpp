// Feeds a room peer's receive path a stream of relay frames, as both relays
// would deliver them, with a test clock that the input advances. Reassembly
// and held frames carry over from one frame to the next. Whatever arrives,
// the limits hold and only well-formed packets from other players come out.
//
// Input: one setup byte, then steps of
//   [control] [length, 2 bytes big-endian] [length bytes of relay frame]
// setup bit 0: the local player is the host (slot 1), else a client (slot 2);
// setup bit 1: a client already knows the session nonce.
// control bit 0: the frame came over the reliable relay; bits 1-3: how far the
// clock moves first; bits 4-5: 1 forgets the player in slot 3, 2 clears.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "multiplayer/peer_receive_path.hpp"

namespace {

using namespace qop::network;

constexpr std::uint64_t kSessionNonce = 0x0102030405060708ULL;
constexpr std::int64_t kMillisecond = 1'000'000;
// Small enough that the fuzzer reaches every limit quickly.
constexpr ReassemblyLimits kReassemblyLimits{8, 65536, 30'000 * kMillisecond};
constexpr NonceWaitLimits kHoldLimits{16, 16384};

// How far the clock may move before a frame, around the 30 s reassembly limit.
const std::int64_t kClockStepsMs[8] = {0, 1, 100, 1'000, 5'000, 29'999, 30'001, 120'000};

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return position_ >= size_; }
    std::uint8_t byte() { return empty() ? 0 : data_[position_++]; }
    std::vector<std::uint8_t> bytes(std::size_t count) {
        const std::size_t available = size_ - position_;
        const std::size_t taken = count < available ? count : available;
        std::vector<std::uint8_t> out(data_ + position_, data_ + position_ + taken);
        position_ += taken;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

struct Room {
    PeerSlotTable slots;
    std::int32_t unique_id = 0;
    std::uint64_t nonce = 0;
    std::string host_id = "host";
    PeerReceivePath path{kReassemblyLimits, kHoldLimits};
    std::int64_t now_ns = 1'000'000 * kMillisecond;

    PeerReceiveView view() const { return PeerReceiveView{slots, unique_id, nonce, host_id}; }
};

void check_packets(const Room& room, const InboundPacketQueue& inbound, std::size_t from,
                   const bool* reliable) {
    for (std::size_t i = from; i < inbound.size(); ++i) {
        const InboundPacket& packet = inbound[i];
        require(room.nonce != 0);
        require(!packet.bytes.empty() && packet.bytes.size() <= kMaxPeerPacketBytes);
        require(packet.peer != room.unique_id && !room.slots.find_player(packet.peer).empty());
        require(packet.mode >= 0 && packet.mode <= kTransferModeReliable);
        require(packet.channel >= 0 && packet.channel <= 0xFFFF);
        if (reliable != nullptr) {
            require((packet.mode == kTransferModeReliable) == *reliable);
        }
    }
}

void check_limits(const Room& room) {
    require(room.path.reassembly().message_count() <= kReassemblyLimits.max_messages);
    require(room.path.reassembly().announced_bytes() <= kReassemblyLimits.max_announced_bytes);
    require(room.path.held_frame_count() <= kHoldLimits.max_items);
    require(room.nonce == 0 || room.path.held_frame_count() == 0);
}

void act_on(Room& room, const InboundResult& result, InboundPacketQueue& inbound) {
    switch (result.control) {
        case InboundControl::None:
            break;
        case InboundControl::SessionAnnounce: {
            require(room.unique_id != 1 && result.nonce != 0);
            room.nonce = result.nonce;
            const std::size_t before = inbound.size();
            room.path.release_held(room.view(), room.now_ns, inbound);
            check_packets(room, inbound, before, nullptr);
            break;
        }
        case InboundControl::HostDisconnect:
            require(room.nonce != 0 && result.nonce == room.nonce);
            // The connection ends; the next one starts from nothing.
            room.path.clear();
            room.nonce = room.unique_id == 1 ? kSessionNonce : 0;
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    const std::uint8_t setup = input.byte();
    Room room;
    const bool host = (setup & 0x01) != 0;
    room.slots.build(host ? 1 : 2, 1, {{"host", 1}, {"me", 2}, {"c", 3}, {"e", 5}},
                     host ? "host" : "me", room.unique_id);
    room.nonce = (host || (setup & 0x02) != 0) ? kSessionNonce : 0;

    InboundPacketQueue inbound;
    while (!input.empty()) {
        const std::uint8_t control = input.byte();
        const std::size_t length = (static_cast<std::size_t>(input.byte()) << 8) | input.byte();
        const std::vector<std::uint8_t> frame = input.bytes(length);
        const bool reliable = (control & 0x01) != 0;

        room.now_ns += kClockStepsMs[(control >> 1) & 0x07] * kMillisecond;
        room.path.expire(room.now_ns);
        switch ((control >> 4) & 0x03) {
            case 1:
                room.path.forget_peer(3, "c");
                break;
            case 2:
                room.path.clear();
                break;
            default:
                break;
        }

        const InboundResult result =
            room.path.on_relay_frame(frame, reliable, room.view(), room.now_ns, inbound);
        check_packets(room, inbound, 0, &reliable);
        act_on(room, result, inbound);
        check_limits(room);
        inbound.clear();
    }
    return 0;
}
