#include <godot_standin/multiplayer_driver.hpp>

#include <string>

#include <godot_standin/class_records.hpp>
#include <godot_standin/engine_host.hpp>

#include "engine_errors.hpp"
#include "script_calls.hpp"

namespace godot_standin {
namespace {

void report(const std::string& p_message) {
    godot::internal::report_engine_error(p_message, "MultiplayerDriver");
}

}  // namespace

const std::vector<const char*>& MultiplayerDriver::required_virtuals() {
    static const std::vector<const char*> names = {
        "_get_available_packet_count",
        "_get_max_packet_size",
        "_get_packet_channel",
        "_get_packet_mode",
        "_set_transfer_channel",
        "_get_transfer_channel",
        "_set_transfer_mode",
        "_get_transfer_mode",
        "_set_target_peer",
        "_get_packet_peer",
        "_is_server",
        "_poll",
        "_close",
        "_disconnect_peer",
        "_get_unique_id",
        "_get_connection_status",
    };
    return names;
}

bool MultiplayerDriver::assign(godot::MultiplayerPeerExtension* p_peer) {
    if (p_peer == nullptr) {
        peer_ = nullptr;
        return true;
    }
    const godot::StringName class_name = p_peer->get_class();
    for (const char* name : required_virtuals()) {
        if (!overrides_virtual(class_name, name)) {
            report("Required virtual method " + godot::internal::to_utf8(class_name) + "::" + name +
                   " must be overridden before calling.");
            return false;
        }
    }
    if (p_peer->_get_connection_status() == godot::MultiplayerPeer::CONNECTION_DISCONNECTED) {
        report("Supplied MultiplayerPeer must be connecting or connected.");
        return false;
    }
    peer_ = p_peer;
    return true;
}

std::vector<ReceivedPacket> MultiplayerDriver::poll() {
    std::vector<ReceivedPacket> received;
    if (peer_ == nullptr ||
        peer_->_get_connection_status() == godot::MultiplayerPeer::CONNECTION_DISCONNECTED) {
        return received;
    }
    peer_->_poll();
    for (int i = 0; i < kMaxPacketsPerFrame; ++i) {
        if (peer_->_get_connection_status() != godot::MultiplayerPeer::CONNECTION_CONNECTED ||
            peer_->_get_available_packet_count() <= 0) {
            return received;
        }
        ReceivedPacket packet;
        if (!read_packet(packet)) {
            return received;
        }
        received.push_back(std::move(packet));
    }
    report("The peer kept reporting packets; stopped reading this frame.");
    return received;
}

bool MultiplayerDriver::read_packet(ReceivedPacket& r_packet) {
    if (peer_ == nullptr) {
        report("No multiplayer peer is assigned.");
        return false;
    }
    r_packet.peer = peer_->_get_packet_peer();
    r_packet.channel = peer_->_get_packet_channel();
    r_packet.mode = peer_->_get_packet_mode();
    const uint8_t* buffer = nullptr;
    int32_t size = 0;
    const godot::Error error = peer_->_get_packet(&buffer, &size);
    if (error != godot::OK) {
        report("Error getting packet! " + std::to_string(static_cast<int>(error)));
        return false;
    }
    if (size < 0 || (size > 0 && buffer == nullptr)) {
        report("The peer handed out a packet without data.");
        return false;
    }
    r_packet.bytes.assign(buffer, buffer + size);
    return true;
}

godot::Error MultiplayerDriver::send(int32_t p_target, godot::MultiplayerPeer::TransferMode p_mode,
                                     int32_t p_channel, const std::vector<uint8_t>& p_bytes) {
    if (peer_ == nullptr) {
        report("No multiplayer peer is assigned.");
        return godot::ERR_UNCONFIGURED;
    }
    peer_->_set_target_peer(p_target);
    peer_->_set_transfer_mode(p_mode);
    peer_->_set_transfer_channel(p_channel);
    return peer_->_put_packet(p_bytes.data(), static_cast<int32_t>(p_bytes.size()));
}

}  // namespace godot_standin
