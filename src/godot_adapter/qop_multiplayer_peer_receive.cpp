#include <utility>

#include "godot_adapter/qop_multiplayer_peer.hpp"

namespace qop::godot_adapter {

namespace {

constexpr char kDataPlaneDisconnected[] = "QOP data plane disconnected";
constexpr char kDisconnectedByServer[] = "Disconnected by multiplayer server";
constexpr std::size_t kKeptReceivedFrameSlots = 1024;

}  // namespace

void QOPMultiplayerPeer::pump_transport_frames(qop::network::NetworkTransport& transport,
                                               bool reliable) {
    // The peer's own list lends its capacity to this pass; a signal handler
    // that polls again meanwhile finds it empty and uses a fresh one.
    std::vector<std::vector<std::uint8_t>> frames;
    frames.swap(received_frames_);
    frames.clear();
    std::string error;
    if (!transport.poll(frames, error)) {
        handle_connection_failure(error.empty() ? kDataPlaneDisconnected : error, false);
    } else {
        for (const std::vector<std::uint8_t>& frame : frames) {
            // Once a frame has ended the connection the rest belong to nobody.
            if (!handle_relay_frame(frame, reliable)) {
                break;
            }
        }
    }
    frames.clear();
    // A flood's worth of slots is given back; a steady stream keeps reusing
    // the rest.
    if (frames.capacity() > kKeptReceivedFrameSlots) {
        std::vector<std::vector<std::uint8_t>> kept;
        kept.reserve(kKeptReceivedFrameSlots);
        frames.swap(kept);
    }
    received_frames_.swap(frames);
}

bool QOPMultiplayerPeer::handle_relay_frame(const std::vector<std::uint8_t>& frame, bool reliable) {
    const std::uint64_t generation = connection_generation_;
    const qop::network::InboundResult result = receive_path_.on_relay_frame(
        frame, reliable, receive_view(), steady_now_ns(), inbound_packets_);
    switch (result.control) {
        case qop::network::InboundControl::None:
            break;
        case qop::network::InboundControl::SessionAnnounce:
            learn_session_nonce(result.nonce);
            break;
        case qop::network::InboundControl::HostDisconnect:
            handle_connection_failure(kDisconnectedByServer, true);
            return false;
    }
    return generation == connection_generation_;
}

void QOPMultiplayerPeer::learn_session_nonce(std::uint64_t nonce) {
    session_nonce_ = nonce;
    // What waited for the nonce goes first: frames received meanwhile, then
    // the game's packets, before anything later in either direction.
    receive_path_.release_held(receive_view(), steady_now_ns(), inbound_packets_);
    release_held_outbound();
}

qop::network::PeerReceiveView QOPMultiplayerPeer::receive_view() const {
    return qop::network::PeerReceiveView{slots_, unique_id_, session_nonce_,
                                         active_context_.host_id};
}

godot::Error QOPMultiplayerPeer::_get_packet(const uint8_t** r_buffer, int32_t* r_buffer_size) {
    if (r_buffer == nullptr || r_buffer_size == nullptr) {
        return godot::ERR_INVALID_PARAMETER;
    }
    if (inbound_packets_.empty()) {
        return godot::ERR_UNAVAILABLE;
    }
    qop::network::InboundPacket packet = std::move(inbound_packets_.front());
    inbound_packets_.pop_front();
    last_packet_peer_ = packet.peer;
    last_packet_channel_ = packet.channel;
    last_packet_mode_ = packet.mode;
    // The engine reads the bytes until it asks for the next packet.
    packet_buffer_ = std::move(packet.bytes);
    *r_buffer = packet_buffer_.data();
    *r_buffer_size = static_cast<int32_t>(packet_buffer_.size());
    return godot::OK;
}

int32_t QOPMultiplayerPeer::_get_available_packet_count() const {
    return static_cast<int32_t>(inbound_packets_.size());
}

int32_t QOPMultiplayerPeer::_get_packet_channel() const {
    return inbound_packets_.empty() ? last_packet_channel_ : inbound_packets_.front().channel;
}

godot::MultiplayerPeer::TransferMode QOPMultiplayerPeer::_get_packet_mode() const {
    return static_cast<godot::MultiplayerPeer::TransferMode>(
        inbound_packets_.empty() ? last_packet_mode_ : inbound_packets_.front().mode);
}

int32_t QOPMultiplayerPeer::_get_packet_peer() const {
    return inbound_packets_.empty() ? last_packet_peer_ : inbound_packets_.front().peer;
}

}  // namespace qop::godot_adapter
