#pragma once

// A hosted room's data plane on loopback: a fake TCP relay and a fake UDP
// relay that seat the same players, and the data-plane descriptors and
// context Dictionaries a game would hand a room peer for each seat.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <godot_cpp/variant/dictionary.hpp>

#include "support/fake_tcp_relay.hpp"
#include "support/fake_udp_relay.hpp"

namespace qop::test {

struct FakeRoomOptions {
    // Slot 1 is the host. Each seat's token claims it on both relays.
    std::vector<FakeRelayPlayer> seats = {{"tok-host", "host-player", 1},
                                          {"tok-two", "player-two", 2},
                                          {"tok-three", "player-three", 3}};
    FakeTcpRelayOptions tcp;  // its room is set from `seats`
    // The UDP relay's seats; empty: the same as `seats`.
    std::vector<FakeRelayPlayer> udp_seats;
    std::uint32_t udp_payload_max_bytes = 1200;
    // What the descriptors announce.
    std::uint32_t tcp_frame_max_bytes = 65536;
    std::uint32_t descriptor_udp_payload_max_bytes = 0;  // 0: the relay's limit
    std::int64_t expires_at_unix_seconds = 4102444800;   // 2100-01-01
    // Where the descriptors lead instead of the relays (a relay that never
    // answers, say); 0: the relays.
    std::uint16_t descriptor_tcp_port = 0;
    std::uint16_t descriptor_udp_port = 0;
};

// The host and one other player.
FakeRoomOptions two_player_room();

class FakeRoomRelays {
public:
    explicit FakeRoomRelays(FakeRoomOptions options = {});

    bool start(std::string& error);

    FakeTcpRelay& tcp() { return *tcp_; }
    FakeUdpRelay& udp() { return *udp_; }
    const FakeRoomOptions& options() const { return options_; }

    // The sdk_descriptor_json that leads the seat holding `token` to both relays.
    std::string descriptor_json(const std::string& token) const;
    // What a game passes to connect_from_data_plane for the seat of
    // `player_id`: room "room-1", the host of slot 1 and every seat in the roster.
    godot::Dictionary context_for(const std::string& player_id) const;
    const FakeRelayPlayer& seat(std::uint8_t slot) const;

private:
    FakeRoomOptions options_;
    std::unique_ptr<FakeTcpRelay> tcp_;
    std::unique_ptr<FakeUdpRelay> udp_;
};

}  // namespace qop::test
