#include <godot_standin/scene_multiplayer_model.hpp>

#include <algorithm>
#include <utility>

#include <godot_cpp/core/object.hpp>
#include <godot_cpp/variant/variant.hpp>

#include "callable_factory.hpp"
#include "engine_errors.hpp"

namespace godot_standin {
namespace {

using godot::MultiplayerPeer;

void report(const std::string& p_message) {
    godot::internal::report_engine_error(p_message, "SceneMultiplayerModel");
}

void put_le32(std::vector<uint8_t>& r_bytes, int32_t p_value) {
    const uint32_t value = static_cast<uint32_t>(p_value);
    for (int shift = 0; shift < 32; shift += 8) {
        r_bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
}

int32_t get_le32(const std::vector<uint8_t>& p_bytes, size_t p_at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | p_bytes[p_at + static_cast<size_t>(i)];
    }
    return static_cast<int32_t>(value);
}

// The id a peer signal carries; 0 (no peer) when it was emitted without one.
int32_t peer_id_of(const std::vector<godot::Variant>& p_args) {
    return p_args.empty() ? 0 : static_cast<int32_t>(p_args[0]);
}

std::vector<uint8_t> system_packet(uint8_t p_command, int32_t p_id) {
    std::vector<uint8_t> packet = {SceneMultiplayerModel::kCommandSys, p_command};
    put_le32(packet, p_id);
    return packet;
}

}  // namespace

SceneMultiplayerModel::~SceneMultiplayerModel() {
    detach();
}

void SceneMultiplayerModel::detach() {
    // The peer may have been freed before the model.
    if (godot::Object* peer = godot::ObjectDB::get_instance(peer_instance_)) {
        peer->disconnect("peer_connected", on_connected_);
        peer->disconnect("peer_disconnected", on_disconnected_);
    }
    peer_instance_ = 0;
    driver_.assign(nullptr);
    admitted_.clear();
    last_status_ = MultiplayerPeer::CONNECTION_DISCONNECTED;
}

bool SceneMultiplayerModel::assign(godot::MultiplayerPeerExtension* p_peer) {
    detach();
    if (p_peer == nullptr || !driver_.assign(p_peer)) {
        return p_peer == nullptr;
    }
    peer_instance_ = p_peer->get_instance_id();
    on_connected_ = CallableFactory::from_function(
        [this](const std::vector<godot::Variant>& p_args) { admit(peer_id_of(p_args)); });
    on_disconnected_ = CallableFactory::from_function(
        [this](const std::vector<godot::Variant>& p_args) { remove(peer_id_of(p_args)); });
    p_peer->connect("peer_connected", on_connected_);
    p_peer->connect("peer_disconnected", on_disconnected_);
    update_status();
    return true;
}

bool SceneMultiplayerModel::relaying() const {
    return server_relay_ && driver_.peer() != nullptr &&
           driver_.peer()->_is_server_relay_supported();
}

bool SceneMultiplayerModel::is_host() const {
    return driver_.peer() != nullptr && driver_.peer()->_get_unique_id() == 1;
}

void SceneMultiplayerModel::update_status() {
    const MultiplayerPeer::ConnectionStatus status = driver_.peer() != nullptr
                                                         ? driver_.peer()->_get_connection_status()
                                                         : MultiplayerPeer::CONNECTION_DISCONNECTED;
    if (status == last_status_) {
        return;
    }
    const MultiplayerPeer::ConnectionStatus previous = last_status_;
    last_status_ = status;
    if (status == MultiplayerPeer::CONNECTION_DISCONNECTED) {
        record(previous == MultiplayerPeer::CONNECTION_CONNECTING ? "connection_failed"
                                                                  : "server_disconnected");
        admitted_.clear();
    }
}

void SceneMultiplayerModel::admit(int32_t p_id) {
    if (relaying() && is_host()) {
        for (const int32_t other : admitted_) {
            send_system(other, kSysAddPeer, p_id);
            send_system(p_id, kSysAddPeer, other);
        }
    }
    admitted_.insert(p_id);
    if (p_id == 1) {
        record("connected_to_server");
    }
    record("peer_connected", p_id);
}

void SceneMultiplayerModel::remove(int32_t p_id) {
    if (admitted_.count(p_id) == 0) {
        return;
    }
    if (relaying() && is_host()) {
        for (const int32_t other : admitted_) {
            if (other != p_id) {
                send_system(other, kSysDelPeer, p_id);
            }
        }
    }
    admitted_.erase(p_id);
    record("peer_disconnected", p_id);
}

void SceneMultiplayerModel::record(const char* p_name, int32_t p_id, std::vector<uint8_t> p_bytes) {
    signals_.push_back(SceneSignal{p_name, p_id, std::move(p_bytes)});
}

std::vector<int32_t> SceneMultiplayerModel::ids_of(const std::string& p_signal) const {
    std::vector<int32_t> ids;
    for (const SceneSignal& signal : signals_) {
        if (signal.name == p_signal) {
            ids.push_back(signal.id);
        }
    }
    return ids;
}

size_t SceneMultiplayerModel::count_of(const std::string& p_signal) const {
    return ids_of(p_signal).size();
}

std::vector<ReceivedPacket> SceneMultiplayerModel::poll() {
    std::vector<ReceivedPacket> handed;
    update_status();
    if (last_status_ == MultiplayerPeer::CONNECTION_DISCONNECTED) {
        return handed;
    }
    driver_.peer()->_poll();
    update_status();
    // Bounded like the driver's frame, so a peer whose count never drops
    // cannot hang a test.
    for (int i = 0; i < MultiplayerDriver::kMaxPacketsPerFrame; ++i) {
        if (last_status_ != MultiplayerPeer::CONNECTION_CONNECTED ||
            driver_.peer()->_get_available_packet_count() <= 0) {
            break;
        }
        ReceivedPacket packet;
        if (!driver_.read_packet(packet)) {
            break;
        }
        receive(std::move(packet), handed);
        update_status();
    }
    return handed;
}

godot::Error SceneMultiplayerModel::send_bytes(const std::vector<uint8_t>& p_bytes, int32_t p_id,
                                               MultiplayerPeer::TransferMode p_mode,
                                               int32_t p_channel) {
    if (p_bytes.empty() || last_status_ != MultiplayerPeer::CONNECTION_CONNECTED) {
        report("Raw bytes need a connected peer and at least one byte.");
        return godot::ERR_UNCONFIGURED;
    }
    std::vector<uint8_t> packet(p_bytes.size() + 1);
    packet[0] = kCommandRaw;
    std::copy(p_bytes.begin(), p_bytes.end(), packet.begin() + 1);
    return send_command(p_id, packet, p_mode, p_channel);
}

godot::Error SceneMultiplayerModel::send_command(int32_t p_to, const std::vector<uint8_t>& p_packet,
                                                 MultiplayerPeer::TransferMode p_mode,
                                                 int32_t p_channel) {
    if (relaying() && !is_host() && p_to != 1) {
        std::vector<uint8_t> wrapped = system_packet(kSysRelay, p_to);
        wrapped.insert(wrapped.end(), p_packet.begin(), p_packet.end());
        return driver_.send(1, p_mode, p_channel, wrapped);
    }
    if (p_to > 0) {
        if (admitted_.count(p_to) == 0) {
            report("Cannot send to peer " + std::to_string(p_to) + ": it is not connected.");
            return godot::ERR_BUG;
        }
        return driver_.send(p_to, p_mode, p_channel, p_packet);
    }
    // A broadcast becomes one put per admitted peer.
    const std::set<int32_t> targets = admitted_;
    for (const int32_t target : targets) {
        if (target != -p_to) {
            driver_.send(target, p_mode, p_channel, p_packet);
        }
    }
    return godot::OK;
}

void SceneMultiplayerModel::send_system(int32_t p_to, uint8_t p_command, int32_t p_id) {
    driver_.send(p_to, MultiplayerPeer::TRANSFER_MODE_RELIABLE, 0, system_packet(p_command, p_id));
}

void SceneMultiplayerModel::receive(ReceivedPacket p_packet,
                                    std::vector<ReceivedPacket>& r_handed) {
    if (admitted_.count(p_packet.peer) == 0) {
        report("Dropped a packet from peer " + std::to_string(p_packet.peer) +
               ", which is not connected.");
        return;
    }
    if (p_packet.bytes.empty()) {
        report("Dropped an empty packet.");
        return;
    }
    if ((p_packet.bytes[0] & kCommandMask) == kCommandSys) {
        receive_system(p_packet, r_handed);
        return;
    }
    hand_to_game(std::move(p_packet), r_handed);
}

void SceneMultiplayerModel::receive_system(const ReceivedPacket& p_packet,
                                           std::vector<ReceivedPacket>& r_handed) {
    if (p_packet.bytes.size() < kSysHeaderSize) {
        report("Dropped a system packet shorter than its header.");
        return;
    }
    const uint8_t command = p_packet.bytes[1];
    const int32_t id = get_le32(p_packet.bytes, 2);
    if (command == kSysAddPeer || command == kSysDelPeer) {
        // Only the host speaks for the room, and only while it relays.
        if (!relaying() || is_host() || p_packet.peer != 1) {
            report("Dropped a peer list change that did not come from a relaying host.");
            return;
        }
        command == kSysAddPeer ? admit(id) : remove(id);
        return;
    }
    if (command != kSysRelay || !relaying()) {
        report("Dropped system command " + std::to_string(command) + ".");
        return;
    }
    if (is_host()) {
        relay_as_host(p_packet, id, r_handed);
        return;
    }
    if (p_packet.peer != 1) {
        report("Dropped a relayed packet that did not come from the host.");
        return;
    }
    // The host wrote the original sender into the id.
    ReceivedPacket inner = p_packet;
    inner.peer = id;
    inner.bytes.erase(inner.bytes.begin(), inner.bytes.begin() + kSysHeaderSize);
    hand_to_game(std::move(inner), r_handed);
}

void SceneMultiplayerModel::relay_as_host(const ReceivedPacket& p_packet, int32_t p_destination,
                                          std::vector<ReceivedPacket>& r_handed) {
    const int32_t source = p_packet.peer;
    if (p_destination > 0 && admitted_.count(p_destination) == 0) {
        report("Dropped a relay to peer " + std::to_string(p_destination) +
               ", which is not connected.");
        return;
    }
    // The receiver learns the sender from the id.
    std::vector<uint8_t> forwarded = system_packet(kSysRelay, source);
    forwarded.insert(forwarded.end(), p_packet.bytes.begin() + kSysHeaderSize,
                     p_packet.bytes.end());
    if (p_destination > 0) {
        driver_.send(p_destination, p_packet.mode, p_packet.channel, forwarded);
        return;
    }
    const std::set<int32_t> targets = admitted_;
    for (const int32_t target : targets) {
        if (target != source && target != -p_destination) {
            driver_.send(target, p_packet.mode, p_packet.channel, forwarded);
        }
    }
    // The engine's host also handles what is broadcast or sent to all but peer 1.
    if (p_destination == 0 || p_destination == -1) {
        ReceivedPacket inner = p_packet;
        inner.bytes.assign(p_packet.bytes.begin() + kSysHeaderSize, p_packet.bytes.end());
        hand_to_game(std::move(inner), r_handed);
    }
}

void SceneMultiplayerModel::hand_to_game(ReceivedPacket p_packet,
                                         std::vector<ReceivedPacket>& r_handed) {
    if (p_packet.bytes.empty() || (p_packet.bytes[0] & kCommandMask) == kCommandSys) {
        report("Dropped a relayed packet that was empty or a system command.");
        return;
    }
    if ((p_packet.bytes[0] & kCommandMask) == kCommandRaw) {
        record("peer_packet", p_packet.peer,
               std::vector<uint8_t>(p_packet.bytes.begin() + 1, p_packet.bytes.end()));
    }
    r_handed.push_back(std::move(p_packet));
}

}  // namespace godot_standin
