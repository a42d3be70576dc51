#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>
#include <utility>

#include "godot_adapter/godot_string_conversion.hpp"
#include "godot_adapter/qop_multiplayer_peer.hpp"
#include "relay/transports_to_poll.hpp"

namespace qop::godot_adapter {

namespace {

using godot::MultiplayerPeer;
using qop::network::HostedSessionEvent;
using qop::network::HostedSessionEventKind;

constexpr char kPeerDisconnected[] = "peer_disconnected";
constexpr char kHostedSessionDisconnected[] = "Hosted session disconnected";
constexpr char kHostChanged[] = "Room host changed; reconnect the multiplayer peer";

constexpr std::int64_t kControlPeriodNs = 5'000'000'000;
constexpr std::int64_t kKeepalivePeriodNs = 30'000'000'000;

// A timer stamped 0 has never run: it is due at once.
bool is_due(std::int64_t last, std::int64_t now, std::int64_t period) {
    return last == 0 || now - last >= period;
}

}  // namespace

void QOPMultiplayerPeer::begin_connection() {
    if (connection_status_ == MultiplayerPeer::CONNECTION_DISCONNECTED) {
        connection_status_ = MultiplayerPeer::CONNECTION_CONNECTING;
    }
}

void QOPMultiplayerPeer::fail_connection(const godot::String& message) {
    try {
        handle_connection_failure(to_std_string(message), false);
    } catch (const std::exception& failure) {
        end_after_exception(failure.what());
    }
}

void QOPMultiplayerPeer::end_after_exception(const char* what) noexcept {
    try {
        handle_connection_failure(std::string(kPeerFault) + what, false);
        return;
    } catch (...) {
    }
    // Not even the fail path had memory: at least nothing works on the
    // connection any more, and the engine sees it gone.
    connection_status_ = MultiplayerPeer::CONNECTION_DISCONNECTED;
    end_connection_generation();
    if (reliable_transport_ != nullptr) {
        reliable_transport_->close();
    }
    if (unreliable_transport_ != nullptr) {
        unreliable_transport_->close();
    }
}

void QOPMultiplayerPeer::_poll() {
    try {
        poll_connection();
    } catch (const std::exception& failure) {
        end_after_exception(failure.what());
    }
}

void QOPMultiplayerPeer::poll_connection() {
    if (connect_worker_.take_ready()) {
        complete_connection();
    }
    // A failed connection's transports stay allocated until _close; nothing
    // below may work on them.
    if (!is_connected() || reliable_transport_ == nullptr || unreliable_transport_ == nullptr) {
        return;
    }
    const std::uint64_t generation = connection_generation_;
    const auto still_connected = [&] { return generation == connection_generation_; };
    receive_path_.expire(steady_now_ns());
    if (hosted_mode_) {
        pump_hosted_session_events();
        if (!still_connected()) {
            return;
        }
    }
    release_held_outbound();
    if (!still_connected()) {
        return;
    }
    const std::int64_t now = steady_now_ns();
    if (_is_server() && is_due(last_control_time_, now, kControlPeriodNs)) {
        broadcast_control();
        if (!still_connected()) {
            return;
        }
    }
    if (is_due(last_keepalive_time_, now, kKeepalivePeriodNs)) {
        send_keepalive_ping();
        if (!still_connected()) {
            return;
        }
    }
    // One system call says which transports have anything to read, so an
    // idle frame costs no receive that hears nothing.
    const qop::network::NetworkTransport* const transports[] = {reliable_transport_.get(),
                                                                unreliable_transport_.get()};
    bool need_poll[2];
    qop::network::find_transports_to_poll(transports, 2, need_poll);
    if (need_poll[0]) {
        pump_transport_frames(*reliable_transport_, true);
        if (!still_connected()) {
            return;
        }
    }
    // Handling the reliable frames may have queued something for this one.
    std::uint64_t ignored_socket = 0;
    if (need_poll[1] || !unreliable_transport_->poll_only_reads(ignored_socket)) {
        pump_transport_frames(*unreliable_transport_, false);
    }
}

void QOPMultiplayerPeer::pump_hosted_session_events() {
    std::vector<HostedSessionEvent> events;
    std::string error;
    if (!hosted_session_->poll(events, error)) {
        handle_connection_failure(error.empty() ? kHostedSessionDisconnected : error, true);
        return;
    }
    for (const HostedSessionEvent& event : events) {
        if (!apply_room_event(event)) {
            return;
        }
    }
}

bool QOPMultiplayerPeer::apply_room_event(const HostedSessionEvent& event) {
    switch (event.kind) {
        case HostedSessionEventKind::PlayerJoined:
            active_context_.players.push_back({event.player_id, event.player_name});
            return true;
        case HostedSessionEventKind::PlayerLeft: {
            const std::int32_t peer = slots_.find_peer(event.player_id);
            auto& players = active_context_.players;
            players.erase(std::remove_if(players.begin(), players.end(),
                                         [&](const qop::network::RoomPlayer& player) {
                                             return player.id == event.player_id;
                                         }),
                          players.end());
            if (peer >= 1 && peer != unique_id_ && !emit_peer_signals(kPeerDisconnected, {peer})) {
                return false;
            }
            slots_.erase_player(event.player_id);
            receive_path_.forget_peer(peer, event.player_id);
            return true;
        }
        case HostedSessionEventKind::HostTransferred:
            handle_connection_failure(kHostChanged, true);
            return false;
        case HostedSessionEventKind::Detached:
            handle_connection_failure(
                event.reason.empty() ? kHostedSessionDisconnected : event.reason, true);
            return false;
    }
    return true;
}

void QOPMultiplayerPeer::handle_connection_failure(const std::string& message, bool notify) {
    last_error_ = to_godot_string(message);
    const bool was_connected = is_connected();
    connection_status_ = MultiplayerPeer::CONNECTION_DISCONNECTED;
    end_connection_generation();
    // A connect still running (the game failed it) must neither race the
    // pipe close below nor bring the connection up later.
    if (connect_worker_.has_thread()) {
        abandon_connect_worker();
    }
    if (reliable_transport_ != nullptr) {
        reliable_transport_->close();
    }
    if (unreliable_transport_ != nullptr) {
        unreliable_transport_->close();
    }
    hosted_session_->close();
    send_path_.clear_held();
    if (was_connected || notify) {
        emit_peer_signals(kPeerDisconnected, slots_.peers_except(unique_id_));
    }
}

void QOPMultiplayerPeer::abandon_connect_worker() {
    connect_worker_.cancel();
    connect_worker_.join();
    connect_worker_.take_ready();
    connect_worker_.take_result();
}

bool QOPMultiplayerPeer::emit_peer_signals(const char* signal,
                                           const std::vector<std::int32_t>& peers) {
    const bool farewell = std::strcmp(signal, kPeerDisconnected) == 0;
    const std::uint64_t generation = connection_generation_;
    for (const std::int32_t peer : peers) {
        if (farewell && !farewelled_peers_.insert(peer).second) {
            continue;
        }
        emit_signal(signal, peer);
        if (generation != connection_generation_) {
            return false;
        }
    }
    return true;
}

void QOPMultiplayerPeer::_close() {
    end_connection_generation();
    connect_worker_.cancel();
    if (reliable_transport_ != nullptr) {
        reliable_transport_->close();
    }
    if (unreliable_transport_ != nullptr) {
        unreliable_transport_->close();
    }
    connect_worker_.join();
    hosted_session_->close();
    // A result the worker published stays for the next _poll, which reports
    // it; a success can no longer be installed.
    connect_worker_.discard_result_transports();
    reliable_transport_.reset();
    unreliable_transport_.reset();
    envelope_mode_ = false;
    hosted_mode_ = false;
    pending_hosted_ = false;
    inbound_packets_.clear();
    received_frames_ = {};
    receive_path_.clear();
    send_path_.clear_held();
    slots_.clear();
    farewelled_peers_.clear();
    unique_id_ = 0;
    session_nonce_ = 0;
    last_keepalive_time_ = 0;
    last_control_time_ = 0;
    connection_status_ = MultiplayerPeer::CONNECTION_DISCONNECTED;
}

void QOPMultiplayerPeer::_disconnect_peer(int32_t p_peer, bool /*p_force*/) {
    try {
        disconnect_peer(p_peer);
    } catch (const std::exception& failure) {
        end_after_exception(failure.what());
    }
}

void QOPMultiplayerPeer::disconnect_peer(std::int32_t p_peer) {
    const std::string player = slots_.find_player(p_peer);
    if (player.empty() || p_peer == unique_id_) {
        return;
    }
    if (_is_server()) {
        const std::uint64_t generation = connection_generation_;
        send_control_to_peer(player);
        if (generation != connection_generation_) {
            return;
        }
    }
    slots_.erase_peer(p_peer);
    receive_path_.forget_peer(p_peer, player);
    emit_peer_signals(kPeerDisconnected, {p_peer});
}

}  // namespace qop::godot_adapter
