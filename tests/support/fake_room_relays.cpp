#include "support/fake_room_relays.hpp"

#include <utility>

#include <godot_cpp/variant/array.hpp>
#include <godot_cpp/variant/variant.hpp>

#include "godot_adapter/godot_string_conversion.hpp"

namespace qop::test {

namespace {

using qop::godot_adapter::to_godot_string;

}  // namespace

FakeRoomOptions two_player_room() {
    FakeRoomOptions options;
    options.seats.pop_back();
    return options;
}

FakeRoomRelays::FakeRoomRelays(FakeRoomOptions options) : options_(std::move(options)) {
    options_.tcp.room = options_.seats;
    if (options_.udp_seats.empty()) {
        options_.udp_seats = options_.seats;
    }
    tcp_ = std::make_unique<FakeTcpRelay>(options_.tcp);
    std::vector<FakeUdpRelay::Player> udp_room;
    for (const FakeRelayPlayer& seat : options_.udp_seats) {
        udp_room.push_back({seat.token, seat.player_id, seat.slot});
    }
    udp_ = std::make_unique<FakeUdpRelay>(std::move(udp_room), options_.udp_payload_max_bytes);
}

bool FakeRoomRelays::start(std::string& error) {
    return tcp_->start(error) && udp_->start(error);
}

std::string FakeRoomRelays::descriptor_json(const std::string& token) const {
    return R"({"version":1,"token":")" + token + R"(","expiresAtUnixSeconds":)" +
           std::to_string(options_.expires_at_unix_seconds) +
           R"(,"transports":{"tcp":{"host":"127.0.0.1","port":)" +
           std::to_string(options_.descriptor_tcp_port != 0 ? options_.descriptor_tcp_port
                                                            : tcp_->port()) +
           R"(,"frameMaxBytes":)" + std::to_string(options_.tcp_frame_max_bytes) +
           R"(},"rawUdp":{"host":"127.0.0.1","port":)" +
           std::to_string(options_.descriptor_udp_port != 0 ? options_.descriptor_udp_port
                                                            : udp_->port()) +
           R"(,"payloadMaxBytes":)" +
           std::to_string(options_.descriptor_udp_payload_max_bytes != 0
                              ? options_.descriptor_udp_payload_max_bytes
                              : options_.udp_payload_max_bytes) +
           "}}}";
}

godot::Dictionary FakeRoomRelays::context_for(const std::string& player_id) const {
    const FakeRelayPlayer* own = nullptr;
    godot::Array players;
    for (const FakeRelayPlayer& seat : options_.seats) {
        if (seat.player_id == player_id) {
            own = &seat;
        }
        godot::Dictionary entry;
        entry["id"] = to_godot_string(seat.player_id);
        entry["name"] = to_godot_string("Name of " + seat.player_id);
        players.push_back(entry);
    }
    godot::Dictionary context;
    context["sdk_descriptor_json"] =
        to_godot_string(descriptor_json(own != nullptr ? own->token : "unknown-token"));
    context["room_id"] = "room-1";
    context["player_id"] = to_godot_string(player_id);
    context["host_id"] = to_godot_string(seat(1).player_id);
    context["players"] = players;
    return context;
}

const FakeRelayPlayer& FakeRoomRelays::seat(std::uint8_t slot) const {
    for (const FakeRelayPlayer& seat : options_.seats) {
        if (seat.slot == slot) {
            return seat;
        }
    }
    static const FakeRelayPlayer nobody;
    return nobody;
}

}  // namespace qop::test
