#include "room_rig.hpp"

#include <godot_cpp/core/memory.hpp>
#include <godot_cpp/variant/array.hpp>
#include <godot_cpp/variant/dictionary.hpp>

#include "bench_report.hpp"
#include "godot_adapter/godot_string_conversion.hpp"
#include "godot_adapter/multiplayer_peer_seams.hpp"
#include "godot_adapter/sdk_library_entry.hpp"

namespace qop::bench {
namespace {

using qop::godot_adapter::to_godot_string;

constexpr std::uint32_t kUdpPayloadMaxBytes = 1200;
constexpr std::uint32_t kTcpFrameMaxBytes = 65536;
constexpr std::uint64_t kJoinLimitNs = 10'000'000'000;

std::vector<RelaySeat> two_seats() {
    return {{"token-host", "host-player", 1}, {"token-client", "client-player", 2}};
}

std::string descriptor_json(const BenchRelay& relay, const std::string& token) {
    return R"({"version":1,"token":")" + token +
           R"(","expiresAtUnixSeconds":4102444800,"transports":{"tcp":{"host":"127.0.0.1","port":)" +
           std::to_string(relay.tcp_port()) + R"(,"frameMaxBytes":)" +
           std::to_string(kTcpFrameMaxBytes) + R"(},"rawUdp":{"host":"127.0.0.1","port":)" +
           std::to_string(relay.udp_port()) + R"(,"payloadMaxBytes":)" +
           std::to_string(relay.udp_payload_max_bytes()) + "}}}";
}

godot::Dictionary context_for(const BenchRelay& relay, const RelaySeat& seat) {
    godot::Array players;
    for (const RelaySeat& other : relay.seats()) {
        godot::Dictionary player;
        player["id"] = to_godot_string(other.player_id);
        player["name"] = to_godot_string("Player " + std::to_string(other.slot));
        players.push_back(player);
    }
    godot::Dictionary context;
    context["sdk_descriptor_json"] = to_godot_string(descriptor_json(relay, seat.token));
    context["room_id"] = to_godot_string("bench-room");
    context["player_id"] = to_godot_string(seat.player_id);
    context["host_id"] = to_godot_string(relay.seats().front().player_id);
    context["players"] = players;
    return context;
}

}  // namespace

RoomRig::RoomRig(BenchRelay::Waiting relay_waiting, qop::network::SendPolicy send_policy)
    : relay_(two_seats(), kUdpPayloadMaxBytes, relay_waiting), send_policy_(send_policy) {}

RoomRig::~RoomRig() {
    host_drive_.reset();
    client_drive_.reset();
    for (QOPMultiplayerPeer* peer : {host_, client_}) {
        if (peer != nullptr) {
            engine_.free(peer);
        }
    }
    relay_.stop();
}

QOPMultiplayerPeer* RoomRig::join(const RelaySeat& seat) {
    qop::godot_adapter::MultiplayerPeerSeams seams =
        qop::godot_adapter::system_multiplayer_peer_seams();
    const qop::network::SendPolicy policy = send_policy_;
    seams.connect.make_reliable = [policy] {
        return qop::network::make_tcp_transport(qop::network::kRelayHandshakeDeadline, policy);
    };
    seams.connect.make_unreliable = [policy] {
        return qop::network::make_udp_transport(qop::network::kRelayHandshakeDeadline, policy);
    };
    auto* peer = memnew(QOPMultiplayerPeer(std::move(seams)));
    const godot::Variant started =
        engine_.call(peer, "connect_from_data_plane", {context_for(relay_, seat)});
    if (static_cast<int64_t>(started) != 0) {
        fail("connect_from_data_plane of %s returned %lld", seat.player_id.c_str(),
             static_cast<long long>(static_cast<int64_t>(started)));
    }
    return peer;
}

void RoomRig::open() {
    if (!engine_.load(&qop_sdk_library_init)) {
        fail("the SDK library refused the engine host");
    }
    std::string error;
    if (!relay_.start(error)) {
        fail("%s", error.c_str());
    }
    host_ = join(relay_.seats()[0]);
    client_ = join(relay_.seats()[1]);
    host_drive_ = std::make_unique<EngineDrive>(*host_);
    client_drive_ = std::make_unique<EngineDrive>(*client_);

    // Both join; the host announces its session at once, the client holds
    // what it sends until it has heard that. One packet each way proves both.
    const std::uint8_t hello[16] = {};
    bool client_sent = false;
    bool host_heard = false;
    bool client_heard = false;
    const std::uint64_t give_up = now_ns() + kJoinLimitNs;
    while (!client_heard) {
        if (now_ns() > give_up) {
            fail("the room did not come up within 10 s (host status %d, client status %d)",
                 static_cast<int>(host_->_get_connection_status()),
                 static_cast<int>(client_->_get_connection_status()));
        }
        host_drive_->frame([&](const std::uint8_t*, std::size_t) {
            host_heard = true;
            host_drive_->send(kClientPeer, true, hello, sizeof(hello));
        });
        if (!client_sent &&
            client_->_get_connection_status() == godot::MultiplayerPeer::CONNECTION_CONNECTED &&
            host_->_get_connection_status() == godot::MultiplayerPeer::CONNECTION_CONNECTED) {
            client_sent = client_drive_->send(kHostPeer, true, hello, sizeof(hello)) == godot::OK;
        }
        client_drive_->frame([&](const std::uint8_t*, std::size_t) { client_heard = true; });
    }
    (void)host_heard;
}

}  // namespace qop::bench
