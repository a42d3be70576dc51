#include <exception>
#include <string>
#include <utility>

#include "godot_adapter/qop_multiplayer_peer.hpp"
#include "multiplayer/peer_control_messages.hpp"
#include "multiplayer/peer_send_plan.hpp"

namespace qop::godot_adapter {

namespace {

using godot::MultiplayerPeer;
using qop::network::kRoomHostSlot;
using qop::network::PeerFrameKind;
using qop::network::SendOutcome;
using qop::network::SendResult;

}  // namespace

godot::Error QOPMultiplayerPeer::_put_packet(const uint8_t* p_buffer, int32_t p_buffer_size) {
    if (!is_connected() || p_buffer == nullptr || p_buffer_size < 1) {
        return godot::ERR_UNCONFIGURED;
    }
    // Holding a copy of the packet or queuing its frames may fail to
    // allocate: the packet is refused; the engine cannot take an exception.
    try {
        const qop::network::OutboundPacketSpec spec{target_peer_, transfer_mode_,
                                                    transfer_channel_};
        std::string error;
        const SendOutcome outcome = send_path_.put_packet(
            send_view(), spec, p_buffer, static_cast<std::uint64_t>(p_buffer_size), error);
        return error_of(outcome, error);
    } catch (const std::exception&) {
        return godot::ERR_OUT_OF_MEMORY;
    }
}

godot::Error QOPMultiplayerPeer::error_of(SendOutcome outcome, const std::string& error) {
    switch (outcome) {
        case SendOutcome::Sent:
            return godot::OK;
        case SendOutcome::Busy:
            return godot::ERR_BUSY;
        case SendOutcome::Invalid:
            return godot::ERR_INVALID_PARAMETER;
        case SendOutcome::Failed:
            break;
    }
    handle_connection_failure(error, false);
    return godot::ERR_CONNECTION_ERROR;
}

void QOPMultiplayerPeer::release_held_outbound() {
    std::string error;
    if (send_path_.release_held(send_view(), error) == SendOutcome::Failed) {
        handle_connection_failure(error, false);
    }
}

qop::network::PeerSendView QOPMultiplayerPeer::send_view() const {
    return qop::network::PeerSendView{slots_,
                                      unique_id_,
                                      session_nonce_,
                                      _is_server(),
                                      active_context_.tcp_frame_max_bytes,
                                      active_context_.udp_payload_max_bytes,
                                      *reliable_transport_,
                                      *unreliable_transport_};
}

bool QOPMultiplayerPeer::send_p2p_message(const std::string& player_id,
                                          std::vector<std::uint8_t> frame) {
    const std::int32_t target = player_id.empty() ? 0 : slots_.find_peer(player_id);
    std::vector<std::uint8_t> envelope;
    std::string error;
    if (!qop::network::build_envelope_header(static_cast<std::uint8_t>(unique_id_), kRoomHostSlot,
                                             target, slots_.player_by_peer(), std::move(frame),
                                             envelope, error) ||
        reliable_transport_->send(envelope, error) != SendResult::Sent) {
        handle_connection_failure(error, false);
        return false;
    }
    return true;
}

void QOPMultiplayerPeer::broadcast_control() {
    if (!_is_server() || !is_connected() || session_nonce_ == 0) {
        return;
    }
    if (send_p2p_message(std::string(), qop::network::encode_control_frame(
                                            PeerFrameKind::SessionAnnounce, session_nonce_))) {
        last_control_time_ = steady_now_ns();
    }
}

void QOPMultiplayerPeer::send_control_to_peer(const std::string& player_id) {
    if (!_is_server() || !is_connected() || player_id.empty()) {
        return;
    }
    // The player may not have heard the nonce yet (it joined after the last
    // broadcast, or the game removes it from its peer_connected handler), and
    // a client ignores a notice it cannot date. Sent first on the same ordered
    // relay, the nonce reaches it before the notice, whatever the broadcasts do.
    if (!send_p2p_message(player_id, qop::network::encode_control_frame(
                                         PeerFrameKind::SessionAnnounce, session_nonce_))) {
        return;
    }
    send_p2p_message(player_id,
                     qop::network::encode_control_frame(PeerFrameKind::Disconnect, session_nonce_));
}

void QOPMultiplayerPeer::send_keepalive_ping() {
    if (reliable_transport_ == nullptr ||
        connection_status_ == MultiplayerPeer::CONNECTION_DISCONNECTED) {
        return;
    }
    std::vector<std::uint8_t> envelope;
    std::string error;
    if (!qop::network::encode_keepalive_envelope(static_cast<std::uint8_t>(unique_id_), envelope,
                                                 error)) {
        handle_connection_failure(error, false);
        return;
    }
    const SendResult result = reliable_transport_->send(envelope, error);
    if (result == SendResult::Sent) {
        last_keepalive_time_ = steady_now_ns();
        return;
    }
    // A full queue only delays the ping to the next poll.
    if (result != SendResult::QueueFull) {
        handle_connection_failure(error, false);
    }
}

}  // namespace qop::godot_adapter
