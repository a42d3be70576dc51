#pragma once

// The engine class a game assigns to multiplayer.multiplayer_peer to play in a
// hosted room. Peer ids are the room's slots (1 is the host, which is the
// server). A connect worker does the blocking work of joining; everything
// else runs on the engine's main thread, inside _poll and the overrides.

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include <godot_cpp/classes/global_constants.hpp>
#include <godot_cpp/classes/multiplayer_peer.hpp>
#include <godot_cpp/classes/multiplayer_peer_extension.hpp>
#include <godot_cpp/core/class_db.hpp>
#include <godot_cpp/variant/dictionary.hpp>
#include <godot_cpp/variant/string.hpp>

#include "godot_adapter/multiplayer_peer_seams.hpp"
#include "host_bridge/data_plane_descriptor.hpp"
#include "host_bridge/hosted_session_pipe.hpp"
#include "multiplayer/peer_connect_worker.hpp"
#include "multiplayer/peer_receive_path.hpp"
#include "multiplayer/peer_send_path.hpp"
#include "multiplayer/peer_slot_table.hpp"
#include "relay/data_plane_envelope.hpp"
#include "relay/network_transport.hpp"

namespace qop::godot_adapter {

class QOPMultiplayerPeer : public godot::MultiplayerPeerExtension {
    GDCLASS(QOPMultiplayerPeer, MultiplayerPeerExtension)

public:
    // Used by the engine: the operating system's pipes, sockets and clocks.
    QOPMultiplayerPeer();
    // For C++ callers that supply the outside world themselves.
    explicit QOPMultiplayerPeer(MultiplayerPeerSeams seams);
    // Closes first: a running connect worker is cancelled and joined.
    ~QOPMultiplayerPeer() override;

    godot::Error connect_from_bootstrap(const godot::Dictionary& bootstrap);
    godot::Error connect_from_data_plane(const godot::Dictionary& context);
    void begin_connection();
    void fail_connection(const godot::String& message);
    godot::String get_last_error() const;

    godot::Error _get_packet(const uint8_t** r_buffer, int32_t* r_buffer_size) override;
    godot::Error _put_packet(const uint8_t* p_buffer, int32_t p_buffer_size) override;
    int32_t _get_available_packet_count() const override;
    int32_t _get_max_packet_size() const override;
    int32_t _get_packet_channel() const override;
    godot::MultiplayerPeer::TransferMode _get_packet_mode() const override;
    void _set_transfer_channel(int32_t p_channel) override;
    int32_t _get_transfer_channel() const override;
    void _set_transfer_mode(godot::MultiplayerPeer::TransferMode p_mode) override;
    godot::MultiplayerPeer::TransferMode _get_transfer_mode() const override;
    void _set_target_peer(int32_t p_peer) override;
    int32_t _get_packet_peer() const override;
    bool _is_server() const override;
    void _poll() override;
    void _close() override;
    void _disconnect_peer(int32_t p_peer, bool p_force) override;
    int32_t _get_unique_id() const override;
    void _set_refuse_new_connections(bool p_enable) override;
    bool _is_refusing_new_connections() const override;
    bool _is_server_relay_supported() const override;
    godot::MultiplayerPeer::ConnectionStatus _get_connection_status() const override;

protected:
    static void _bind_methods();

private:
    // ---- connect roads and completion (qop_multiplayer_peer_connect.cpp)
    // The busy test of both roads, then _close().
    bool prepare_connect();
    // The reading of each road's input and the start.
    godot::Error start_bootstrap_road(const godot::Dictionary& bootstrap);
    godot::Error start_data_plane_road(const godot::Dictionary& context);
    godot::Error start_worker(bool hosted, qop::network::HostedBootstrapContext bootstrap,
                              qop::network::DataPlaneConnectionContext context);
    godot::Error refuse_connect_input(const std::string& message);
    // A connect road that threw before its worker started.
    godot::Error refuse_connect_after_exception(const char* what) noexcept;
    void complete_connection();
    bool build_slot_table();
    std::uint64_t draw_session_nonce() const;

    // ---- lifecycle (qop_multiplayer_peer_lifecycle.cpp)
    // What last_error says, followed by the reason, when a method threw.
    static constexpr char kPeerFault[] = "QOP multiplayer peer failed: ";
    void poll_connection();
    // Nothing may unwind into the engine: an override that threw (out of
    // memory, in practice) midway leaves a connection in no known state, so
    // it ends, through the fail path while memory allows.
    void end_after_exception(const char* what) noexcept;
    void disconnect_peer(std::int32_t peer);
    void pump_hosted_session_events();
    // False when the event ended the connection (or a signal handler did).
    bool apply_room_event(const qop::network::HostedSessionEvent& event);
    void handle_connection_failure(const std::string& message, bool notify);
    // Cancels and joins a running worker and drops what it produced.
    void abandon_connect_worker();
    // A connection has ended or begun: whoever was working on the old one
    // must stop once a signal handler returns.
    void end_connection_generation() { ++connection_generation_; }
    // Emits `signal` ("peer_connected" or "peer_disconnected") for each peer
    // of the caller's copy in order, peer_disconnected at most once per peer
    // and connection; stops when a handler ends this connection. False when
    // it was ended.
    bool emit_peer_signals(const char* signal, const std::vector<std::int32_t>& peers);
    bool is_connected() const {
        return connection_status_ == godot::MultiplayerPeer::CONNECTION_CONNECTED;
    }
    std::int64_t steady_now_ns() const;

    // ---- send path (qop_multiplayer_peer_send.cpp)
    // The engine's code for what became of a packet; a failure ends the
    // connection with the transport's text.
    godot::Error error_of(qop::network::SendOutcome outcome, const std::string& error);
    // Sends what the client held while it waited for the nonce, in order.
    void release_held_outbound();
    // Only while the transports exist.
    qop::network::PeerSendView send_view() const;
    bool send_p2p_message(const std::string& player_id, std::vector<std::uint8_t> frame);
    void broadcast_control();
    void send_control_to_peer(const std::string& player_id);
    void send_keepalive_ping();

    // ---- receive path (qop_multiplayer_peer_receive.cpp)
    void pump_transport_frames(qop::network::NetworkTransport& transport, bool reliable);
    // False when the frame's handling ended the connection.
    bool handle_relay_frame(const std::vector<std::uint8_t>& frame, bool reliable);
    void learn_session_nonce(std::uint64_t nonce);
    qop::network::PeerReceiveView receive_view() const;

    // Seams.
    std::shared_ptr<const qop::network::MonotonicClock> steady_clock_;
    std::function<std::uint32_t()> random32_;

    // Declared before the worker, which uses it while it runs.
    std::unique_ptr<qop::network::HostedSessionPipe> hosted_session_;
    qop::network::PeerConnectWorker connect_worker_;
    bool pending_hosted_ = false;

    qop::network::DataPlaneConnectionContext active_context_;
    std::unique_ptr<qop::network::NetworkTransport> reliable_transport_;
    std::unique_ptr<qop::network::NetworkTransport> unreliable_transport_;
    qop::network::PeerSlotTable slots_;
    qop::network::PeerReceivePath receive_path_;
    qop::network::PeerSendPath send_path_;
    qop::network::InboundPacketQueue inbound_packets_;

    // Filled by a transport's poll; kept so its capacity serves the next one.
    std::vector<std::vector<std::uint8_t>> received_frames_;
    std::vector<std::uint8_t> packet_buffer_;
    std::int32_t last_packet_peer_ = 0;
    std::int32_t last_packet_channel_ = 0;
    std::int32_t last_packet_mode_ = godot::MultiplayerPeer::TRANSFER_MODE_RELIABLE;

    std::uint64_t session_nonce_ = 0;
    std::int32_t unique_id_ = 0;
    std::int32_t target_peer_ = 0;
    std::int32_t transfer_channel_ = 0;
    std::int32_t transfer_mode_ = godot::MultiplayerPeer::TRANSFER_MODE_RELIABLE;
    std::int32_t connection_status_ = godot::MultiplayerPeer::CONNECTION_DISCONNECTED;
    bool refuse_new_connections_ = false;
    bool envelope_mode_ = false;
    bool hosted_mode_ = false;
    std::int64_t last_keepalive_time_ = 0;
    std::int64_t last_control_time_ = 0;
    godot::String last_error_;

    // Bumped whenever a connection ends or a new one begins.
    std::uint64_t connection_generation_ = 0;
    // Remote peers already told gone during this connection.
    std::unordered_set<std::int32_t> farewelled_peers_;
};

}  // namespace qop::godot_adapter
