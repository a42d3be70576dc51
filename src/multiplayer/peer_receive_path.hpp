#pragma once

// Everything a room peer does with what the relays deliver: unwrap the
// envelope, find the sending player, check the frame, filter unreliable
// ordered packets, reassemble fragmented reliable ones, and hold data that
// arrives before a client has learnt the session nonce. Complete packets go to
// the caller's queue; control frames come back as a request to the caller.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "multiplayer/peer_inbound_queue.hpp"
#include "multiplayer/peer_held_packets.hpp"
#include "multiplayer/peer_ordered_filter.hpp"
#include "multiplayer/peer_reassembly_store.hpp"
#include "multiplayer/peer_slot_table.hpp"

namespace qop::network {

// What the connection looks like to the receiver at the moment a frame is
// handled. The references must outlive the call.
struct PeerReceiveView {
    const PeerSlotTable& slots;
    std::int32_t unique_id = 0;
    std::uint64_t session_nonce = 0;
    const std::string& host_player_id;  // the room host's player id
};

enum class InboundControl {
    None,
    // The host announced its session nonce (result.nonce); only reported to a
    // client, for a non-zero nonce sent from slot 1.
    SessionAnnounce,
    // The host told this player to leave (sender is the host, nonce is ours),
    // or announced the nonce of a notice that came before the nonce was known.
    HostDisconnect,
};

struct InboundResult {
    InboundControl control = InboundControl::None;
    std::uint64_t nonce = 0;
};

class PeerReceivePath {
public:
    explicit PeerReceivePath(ReassemblyLimits reassembly_limits = {},
                             NonceWaitLimits hold_limits = {});

    // One frame as a relay transport delivered it. Complete packets are
    // appended to `inbound`. Malformed, foreign, stale, duplicate or
    // over-limit input is dropped without a word.
    InboundResult on_relay_frame(const std::vector<std::uint8_t>& frame, bool reliable,
                                 const PeerReceiveView& view, std::int64_t now_ns,
                                 InboundPacketQueue& inbound);

    // A client that has just learnt the nonce (in `view`) judges the data
    // frames it held meanwhile, in arrival order: those carrying the nonce are
    // delivered, the rest dropped.
    void release_held(const PeerReceiveView& view, std::int64_t now_ns,
                      InboundPacketQueue& inbound);

    // Drops partial messages older than the age limit.
    void expire(std::int64_t now_ns);
    // A player left: forget its ordering state, partial messages and held frames.
    void forget_peer(std::int32_t peer, const std::string& player_id);
    // A connection ended: nothing of it may reach the next one.
    void clear();

    const ReassemblyStore& reassembly() const { return reassembly_; }
    std::size_t held_frame_count() const { return held_.size(); }

private:
    // The checks and actions of one PeerDataFrame from `sender` (a player id).
    InboundResult handle_inbound_data(const std::string& sender, const std::uint8_t* bytes,
                                      std::size_t size, bool reliable, const PeerReceiveView& view,
                                      std::int64_t now_ns, InboundPacketQueue& inbound);
    // Game data: `bytes` is the whole frame, whose header is `header`.
    void handle_data(const std::string& sender, const PeerFrameHeader& header,
                     const std::uint8_t* bytes, std::size_t size, bool reliable,
                     const PeerReceiveView& view, std::int64_t now_ns, InboundPacketQueue& inbound);

    ReassemblyStore reassembly_;
    OrderedSequenceFilter ordered_;
    BoundedHold<HeldInboundFrame> held_;
    // The nonce of the host's last Disconnect notice that came while the
    // nonce was unknown (0: none); honoured if the host announces that nonce.
    std::uint64_t kept_notice_nonce_ = 0;
};

}  // namespace qop::network
