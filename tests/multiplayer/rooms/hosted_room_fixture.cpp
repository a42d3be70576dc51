#include "hosted_room_fixture.hpp"

#include <utility>

#include "support/host_bridge_wire.hpp"

namespace qop::godot_adapter::testing {

namespace wire = qop::test::wire;
using namespace std::chrono_literals;

namespace {

std::string pipe_path(const std::string& name) {
    return "\\\\.\\pipe\\" + name;
}

}  // namespace

Bytes pattern_bytes(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(seed + i * 31 + (i >> 9));
    }
    return bytes;
}

HostedRoom::HostedRoom(Road road, qop::test::FakeRoomOptions options)
    : road_(road), relays_(std::move(options)) {}

bool HostedRoom::start(std::string& error) {
    if (!host_.loaded()) {
        error = "the library did not load";
        return false;
    }
    return relays_.start(error);
}

std::vector<std::uint8_t> HostedRoom::slots() const {
    std::vector<std::uint8_t> slots;
    for (const qop::test::FakeRelayPlayer& seat : relays_.options().seats) {
        slots.push_back(seat.slot);
    }
    return slots;
}

MultiplayerPeerSeams HostedRoom::seams_for(std::uint8_t) {
    MultiplayerPeerSeams seams = test_peer_seams(clock_);
    seams.pipe_connector = pipes_.connector();
    seams.pipe_clock = pipe_clock_;
    seams.connect.make_reliable = [] {
        return qop::network::make_tcp_transport(qop::network::kRelayHandshakeDeadline,
                                                qop::network::SendPolicy::WriteThroughWhenIdle);
    };
    seams.connect.make_unreliable = [] {
        return qop::network::make_udp_transport(qop::network::kRelayHandshakeDeadline,
                                                qop::network::SendPolicy::WriteThroughWhenIdle);
    };
    return seams;
}

int64_t HostedRoom::connect(std::uint8_t slot) {
    if (peers_.count(slot) == 0) {
        peers_[slot] = host_.new_peer(seams_for(slot));
    }
    QOPMultiplayerPeer* peer = peers_[slot];
    const std::string& player = player_id(slot);
    int64_t result = 0;
    if (road_ == Road::DataPlane) {
        result = host_.connect_data_plane(peer, relays_.context_for(player));
    } else {
        const std::string suffix = std::to_string(slot);
        auto boot = std::make_shared<qop::test::ScriptedPipeServer>(pipe_clock_);
        auto room = std::make_shared<qop::test::ScriptedPipeServer>(pipe_clock_);
        pipes_.add(pipe_path("boot-" + suffix), boot);
        pipes_.add(pipe_path("room-" + suffix), room);
        room_pipes_[slot] = room;
        boot->reply_after_frame(
            1, wire::framed(
                   wire::redeemed("room-1", player, pipe_path("room-" + suffix), "room-secret")));
        wire::session::SessionServerMessage snapshot = wire::snapshot(player_id(1), {});
        for (const qop::test::FakeRelayPlayer& seat : relays_.options().seats) {
            auto* entry = snapshot.mutable_room_snapshot()->mutable_room()->add_players();
            entry->set_id(seat.player_id);
            entry->set_name("Name of " + seat.player_id);
        }
        room->reply_after_frame(1, wire::framed(snapshot) + wire::framed(wire::attached()));
        const std::string descriptor = relays_.descriptor_json(relays_.seat(slot).token);
        room->reply_after_frame(
            2, wire::framed(wire::data_plane("godot-data-plane", true, "", &descriptor)));
        result = host_.connect_bootstrap(
            peer, bootstrap_context("ticket-" + suffix, "boot-" + suffix, "boot-secret"));
    }
    if (result == godot::OK) {
        drivers_[slot].assign(peer);
        if (scene_multiplayer_) {
            models_[slot] = std::make_unique<godot_standin::SceneMultiplayerModel>();
            models_[slot]->assign(peer);
        }
    }
    return result;
}

bool HostedRoom::connect_all() {
    for (const std::uint8_t slot : slots()) {
        if (connect(slot) != godot::OK) {
            return false;
        }
    }
    std::vector<QOPMultiplayerPeer*> all;
    for (const std::uint8_t slot : slots()) {
        all.push_back(peer(slot));
    }
    return pump_until([&] { return all_connected(all); });
}

bool HostedRoom::spread_nonce() {
    std::size_t greetings = 0;
    for (const std::uint8_t slot : slots()) {
        if (slot == 1) {
            continue;
        }
        if (driver(slot).send(1, MultiplayerPeer::TRANSFER_MODE_RELIABLE, 0,
                              pattern_bytes(8, slot)) != godot::OK) {
            return false;
        }
        ++greetings;
    }
    clock_->advance(5s);
    const bool done = pump_until([&] { return received(1).size() >= greetings; });
    received_.clear();
    return done;
}

::testing::AssertionResult HostedRoom::start_playing() {
    std::string error;
    if (!start(error)) {
        return ::testing::AssertionFailure() << error;
    }
    if (!connect_all()) {
        return ::testing::AssertionFailure() << "not every seat connected";
    }
    if (!spread_nonce()) {
        return ::testing::AssertionFailure() << "the host's nonce did not spread";
    }
    return ::testing::AssertionSuccess();
}

bool HostedRoom::pump_until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto give_up = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > give_up) {
            return false;
        }
        pump_rounds(1);
    }
    return true;
}

void HostedRoom::pump_rounds(int rounds) {
    for (int round = 0; round < rounds; ++round) {
        for (auto& [slot, driver] : drivers_) {
            const auto model = models_.find(slot);
            for (ReceivedPacket& packet :
                 model != models_.end() ? model->second->poll() : driver.poll()) {
                received_[slot].push_back(std::move(packet));
            }
        }
        std::this_thread::yield();
    }
}

bool HostedRoom::pump_until_status(std::uint8_t slot, Status status) {
    return pump_until([&] { return peer(slot)->_get_connection_status() == status; });
}

std::size_t HostedRoom::envelopes_from(std::uint8_t slot, std::uint8_t kind) {
    return envelopes_of_kind(relays_.tcp().frames_from(slot), kind).size();
}

std::uint64_t HostedRoom::host_nonce() {
    return announced_nonce(announces(relays_.tcp().frames_from(1)).at(0));
}

void HostedRoom::push_room_event(std::uint8_t slot, int type, const std::string& player_id) {
    room_pipe(slot).push(wire::framed(wire::room_event(type, player_id, "Name of " + player_id)));
}

std::string road_name(const ::testing::TestParamInfo<Road>& info) {
    return info.param == Road::DataPlane ? "DataPlane" : "Bootstrap";
}

}  // namespace qop::godot_adapter::testing
