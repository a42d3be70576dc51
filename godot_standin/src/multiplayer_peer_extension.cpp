#include <godot_cpp/classes/multiplayer_peer_extension.hpp>

// The engine's defaults for a peer that does not override a virtual. The
// engine refuses to drive a peer that lacks one of the required overrides.

namespace godot {

Error MultiplayerPeerExtension::_get_packet(const uint8_t**, int32_t*) {
    return ERR_UNAVAILABLE;
}

Error MultiplayerPeerExtension::_put_packet(const uint8_t*, int32_t) {
    return ERR_UNAVAILABLE;
}

int32_t MultiplayerPeerExtension::_get_available_packet_count() const {
    return 0;
}

int32_t MultiplayerPeerExtension::_get_max_packet_size() const {
    return 0;
}

PackedByteArray MultiplayerPeerExtension::_get_packet_script() {
    return PackedByteArray();
}

Error MultiplayerPeerExtension::_put_packet_script(const PackedByteArray&) {
    return ERR_UNAVAILABLE;
}

int32_t MultiplayerPeerExtension::_get_packet_channel() const {
    return 0;
}

MultiplayerPeer::TransferMode MultiplayerPeerExtension::_get_packet_mode() const {
    return TRANSFER_MODE_UNRELIABLE;
}

void MultiplayerPeerExtension::_set_transfer_channel(int32_t) {}

int32_t MultiplayerPeerExtension::_get_transfer_channel() const {
    return 0;
}

void MultiplayerPeerExtension::_set_transfer_mode(MultiplayerPeer::TransferMode) {}

MultiplayerPeer::TransferMode MultiplayerPeerExtension::_get_transfer_mode() const {
    return TRANSFER_MODE_UNRELIABLE;
}

void MultiplayerPeerExtension::_set_target_peer(int32_t) {}

int32_t MultiplayerPeerExtension::_get_packet_peer() const {
    return 0;
}

bool MultiplayerPeerExtension::_is_server() const {
    return false;
}

void MultiplayerPeerExtension::_poll() {}

void MultiplayerPeerExtension::_close() {}

void MultiplayerPeerExtension::_disconnect_peer(int32_t, bool) {}

int32_t MultiplayerPeerExtension::_get_unique_id() const {
    return 0;
}

void MultiplayerPeerExtension::_set_refuse_new_connections(bool) {}

bool MultiplayerPeerExtension::_is_refusing_new_connections() const {
    return false;
}

bool MultiplayerPeerExtension::_is_server_relay_supported() const {
    return false;
}

MultiplayerPeer::ConnectionStatus MultiplayerPeerExtension::_get_connection_status() const {
    return CONNECTION_DISCONNECTED;
}

}  // namespace godot
