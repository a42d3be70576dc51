#include "godot_adapter/qop_multiplayer_peer.hpp"

#include <algorithm>
#include <chrono>
#include <random>
#include <utility>

#include "multiplayer/peer_data_frame.hpp"

namespace qop::godot_adapter {

namespace {

constexpr std::int32_t kHighestChannel = 65535;

}  // namespace

MultiplayerPeerSeams system_multiplayer_peer_seams() {
    MultiplayerPeerSeams seams;
    seams.pipe_connector = qop::network::create_default_pipe_connector();
    seams.pipe_clock = qop::network::system_monotonic_clock();
    seams.steady_clock = qop::network::system_monotonic_clock();
    seams.random32 = [] {
        std::random_device device;
        return static_cast<std::uint32_t>(device());
    };
    return seams;
}

QOPMultiplayerPeer::QOPMultiplayerPeer() : QOPMultiplayerPeer(system_multiplayer_peer_seams()) {}

QOPMultiplayerPeer::QOPMultiplayerPeer(MultiplayerPeerSeams seams)
    : steady_clock_(seams.steady_clock != nullptr ? std::move(seams.steady_clock)
                                                  : qop::network::system_monotonic_clock()),
      random32_(std::move(seams.random32)),
      hosted_session_(std::make_unique<qop::network::HostedSessionPipe>(
          seams.pipe_connector != nullptr ? std::move(seams.pipe_connector)
                                          : qop::network::create_default_pipe_connector(),
          std::move(seams.pipe_clock), seams.pipe_timings)),
      connect_worker_(std::move(seams.connect)) {
    if (!random32_) {
        random32_ = system_multiplayer_peer_seams().random32;
    }
}

QOPMultiplayerPeer::~QOPMultiplayerPeer() {
    _close();
}

godot::String QOPMultiplayerPeer::get_last_error() const {
    return last_error_;
}

int32_t QOPMultiplayerPeer::_get_max_packet_size() const {
    return static_cast<int32_t>(qop::network::kMaxPeerPacketBytes);
}

void QOPMultiplayerPeer::_set_transfer_channel(int32_t p_channel) {
    transfer_channel_ = std::clamp<std::int32_t>(p_channel, 0, kHighestChannel);
}

int32_t QOPMultiplayerPeer::_get_transfer_channel() const {
    return transfer_channel_;
}

void QOPMultiplayerPeer::_set_transfer_mode(godot::MultiplayerPeer::TransferMode p_mode) {
    transfer_mode_ = static_cast<std::int32_t>(p_mode);
}

godot::MultiplayerPeer::TransferMode QOPMultiplayerPeer::_get_transfer_mode() const {
    return static_cast<godot::MultiplayerPeer::TransferMode>(transfer_mode_);
}

void QOPMultiplayerPeer::_set_target_peer(int32_t p_peer) {
    target_peer_ = p_peer;
}

bool QOPMultiplayerPeer::_is_server() const {
    return unique_id_ == 1;
}

int32_t QOPMultiplayerPeer::_get_unique_id() const {
    return unique_id_;
}

void QOPMultiplayerPeer::_set_refuse_new_connections(bool p_enable) {
    refuse_new_connections_ = p_enable;
}

bool QOPMultiplayerPeer::_is_refusing_new_connections() const {
    return refuse_new_connections_;
}

// The peer reports every other player itself, and the room's relays carry
// each packet straight to its slots. Were relaying supported, the engine's
// multiplayer layer would also announce every client to every other one (each
// would then hear of each player twice) and send client-to-client traffic
// through the host.
bool QOPMultiplayerPeer::_is_server_relay_supported() const {
    return false;
}

godot::MultiplayerPeer::ConnectionStatus QOPMultiplayerPeer::_get_connection_status() const {
    return static_cast<godot::MultiplayerPeer::ConnectionStatus>(connection_status_);
}

std::int64_t QOPMultiplayerPeer::steady_now_ns() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               steady_clock_->now().time_since_epoch())
        .count();
}

}  // namespace qop::godot_adapter
