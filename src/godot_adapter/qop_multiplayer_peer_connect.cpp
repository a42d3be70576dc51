#include <exception>
#include <string>
#include <utility>

#include <godot_cpp/variant/array.hpp>
#include <godot_cpp/variant/variant.hpp>

#include "godot_adapter/godot_string_conversion.hpp"
#include "godot_adapter/qop_multiplayer_peer.hpp"
#include "host_bridge/data_plane_room_identity.hpp"

namespace qop::godot_adapter {

namespace {

using godot::MultiplayerPeer;
using qop::network::DataPlaneConnectionContext;
using qop::network::HostedBootstrapContext;

constexpr char kBootstrapIncomplete[] = "Hosted bootstrap context is incomplete";
constexpr char kContextInvalid[] = "Dovral data-plane connection context is invalid";
constexpr char kConnectFailed[] = "QOP multiplayer connection failed";
constexpr char kSlotMetadataUnavailable[] = "DataPlaneEnvelope V1 slot metadata is unavailable";
constexpr char kWorkerNotStarted[] = "Could not start the multiplayer connect worker: ";

// A value read the way scripts read it: missing is empty, a number is its text.
std::string text_value(const godot::Dictionary& dictionary, const char* key) {
    return to_std_string(static_cast<godot::String>(dictionary.get(key, godot::String())));
}

// Reads the room identity of a data-plane context Dictionary into `out`
// (room, local player, host, roster) and checks it.
bool parse_data_plane_context(const godot::Dictionary& dictionary, DataPlaneConnectionContext& out,
                              std::string& error) {
    qop::network::RoomIdentityInput input;
    input.room_id = text_value(dictionary, "room_id");
    input.player_id = text_value(dictionary, "player_id");
    input.host_id = text_value(dictionary, "host_id");
    const godot::Variant players = dictionary.get("players", godot::Array());
    input.players_is_array = players.get_type() == godot::Variant::ARRAY;
    if (input.players_is_array) {
        const godot::Array roster = players;
        input.players.reserve(static_cast<std::size_t>(roster.size()));
        for (int64_t i = 0; i < roster.size(); ++i) {
            const godot::Variant entry = roster[i];
            qop::network::RoomIdentityEntryInput player;
            player.is_dictionary = entry.get_type() == godot::Variant::DICTIONARY;
            if (player.is_dictionary) {
                const godot::Dictionary fields = entry;
                player.id = text_value(fields, "id");
                player.name = text_value(fields, "name");
            }
            input.players.push_back(std::move(player));
        }
    }
    return qop::network::fill_room_identity(input, out, error);
}

}  // namespace

godot::Error QOPMultiplayerPeer::connect_from_bootstrap(const godot::Dictionary& bootstrap) {
    if (!prepare_connect()) {
        return godot::ERR_ALREADY_IN_USE;
    }
    try {
        return start_bootstrap_road(bootstrap);
    } catch (const std::exception& failure) {
        return refuse_connect_after_exception(failure.what());
    }
}

godot::Error QOPMultiplayerPeer::start_bootstrap_road(const godot::Dictionary& bootstrap) {
    HostedBootstrapContext input;
    input.launch_ticket = text_value(bootstrap, "launch_ticket");
    input.bootstrap_endpoint = text_value(bootstrap, "bootstrap_endpoint");
    input.bootstrap_secret = text_value(bootstrap, "bootstrap_secret");
    if (input.launch_ticket.empty() || input.bootstrap_endpoint.empty() ||
        input.bootstrap_secret.empty()) {
        return refuse_connect_input(kBootstrapIncomplete);
    }
    return start_worker(true, std::move(input), {});
}

godot::Error QOPMultiplayerPeer::connect_from_data_plane(const godot::Dictionary& context) {
    if (!prepare_connect()) {
        return godot::ERR_ALREADY_IN_USE;
    }
    try {
        return start_data_plane_road(context);
    } catch (const std::exception& failure) {
        return refuse_connect_after_exception(failure.what());
    }
}

godot::Error QOPMultiplayerPeer::start_data_plane_road(const godot::Dictionary& context) {
    DataPlaneConnectionContext input;
    std::string error;
    const bool parsed = qop::network::parse_data_plane_descriptor(
                            text_value(context, "sdk_descriptor_json"), input, error) &&
                        parse_data_plane_context(context, input, error);
    if (!parsed) {
        return refuse_connect_input(error.empty() ? kContextInvalid : error);
    }
    return start_worker(false, {}, std::move(input));
}

bool QOPMultiplayerPeer::prepare_connect() {
    if (connection_status_ != MultiplayerPeer::CONNECTION_DISCONNECTED ||
        connect_worker_.has_thread()) {
        return false;
    }
    _close();
    return true;
}

godot::Error QOPMultiplayerPeer::refuse_connect_input(const std::string& message) {
    last_error_ = to_godot_string(message);
    connection_status_ = MultiplayerPeer::CONNECTION_DISCONNECTED;
    return godot::ERR_INVALID_PARAMETER;
}

godot::Error QOPMultiplayerPeer::refuse_connect_after_exception(const char* what) noexcept {
    // Only the reading of the input and the report of a worker that did not
    // start can throw, so no worker runs: the connect did not happen.
    pending_hosted_ = false;
    connection_status_ = MultiplayerPeer::CONNECTION_DISCONNECTED;
    try {
        last_error_ = to_godot_string(std::string(kPeerFault) + what);
    } catch (...) {
    }
    return godot::ERR_OUT_OF_MEMORY;
}

godot::Error QOPMultiplayerPeer::start_worker(bool hosted, HostedBootstrapContext bootstrap,
                                              DataPlaneConnectionContext context) {
    end_connection_generation();
    pending_hosted_ = hosted;
    connection_status_ = MultiplayerPeer::CONNECTION_CONNECTING;
    std::string error;
    const bool started =
        hosted ? connect_worker_.start_bootstrap(*hosted_session_, std::move(bootstrap), error)
               : connect_worker_.start_data_plane(std::move(context), error);
    if (started) {
        return godot::OK;
    }
    // Without a worker nothing would ever end the connecting status.
    pending_hosted_ = false;
    connection_status_ = MultiplayerPeer::CONNECTION_DISCONNECTED;
    last_error_ = to_godot_string(kWorkerNotStarted + error);
    return godot::ERR_CANT_CREATE;
}

void QOPMultiplayerPeer::complete_connection() {
    connect_worker_.join();
    // Taken out under the worker's lock; nothing below holds it, so signal
    // handlers may start, close or fail connections freely.
    qop::network::PeerConnectResult result = connect_worker_.take_result();
    if (!result.succeeded) {
        handle_connection_failure(result.error.empty() ? kConnectFailed : result.error, false);
        return;
    }
    active_context_ = std::move(result.context);
    hosted_mode_ = pending_hosted_;
    reliable_transport_ = std::move(result.reliable);
    unreliable_transport_ = std::move(result.unreliable);
    envelope_mode_ = reliable_transport_->envelope_version() == 1;
    if (!envelope_mode_ || !build_slot_table()) {
        handle_connection_failure(kSlotMetadataUnavailable, false);
        return;
    }
    connection_status_ = MultiplayerPeer::CONNECTION_CONNECTED;
    // The host's nonce exists before any handler can send, so that nothing
    // it sends goes out unusable.
    if (_is_server()) {
        session_nonce_ = draw_session_nonce();
    }
    if (!emit_peer_signals("peer_connected", slots_.peers_except(unique_id_))) {
        return;
    }
    broadcast_control();
}

bool QOPMultiplayerPeer::build_slot_table() {
    return slots_.build(reliable_transport_->player_slot(), reliable_transport_->host_slot(),
                        reliable_transport_->slot_roster(), active_context_.player_id, unique_id_);
}

std::uint64_t QOPMultiplayerPeer::draw_session_nonce() const {
    const std::uint64_t nonce = (static_cast<std::uint64_t>(random32_()) << 32) ^
                                static_cast<std::uint64_t>(steady_now_ns());
    return nonce == 0 ? 1 : nonce;
}

}  // namespace qop::godot_adapter
