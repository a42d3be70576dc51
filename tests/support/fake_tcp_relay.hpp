#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "relay/network_transport.hpp"

namespace qop::test {

// One seat of the fake room: the token that claims it and what the relay
// announces for it.
struct FakeRelayPlayer {
    std::string token;
    std::string player_id;
    std::uint8_t slot = 0;
};

struct FakeTcpRelayOptions {
    std::vector<FakeRelayPlayer> room;
    // Written as "selectedEnvelopeVersion"; a negative value leaves the key out.
    int selected_envelope_version = 1;
    // Misbehaviour of the acknowledgement:
    // a payload text sent instead of the generated acknowledgement,
    std::optional<std::string> ack_text;
    // or the whole first reply, length prefix included, sent as it is;
    std::optional<std::vector<std::uint8_t>> ack_bytes;
    // bytes that follow the acknowledgement in the same write;
    std::vector<std::uint8_t> after_ack;
    // a wait before the first byte of the acknowledgement;
    std::chrono::milliseconds ack_delay{0};
    // one byte at a time at this interval instead of one write;
    std::chrono::milliseconds ack_trickle_interval{0};
    // the connection closed once the acknowledgement is out.
    bool close_after_ack = false;
    // The largest frame the relay takes from a client before dropping it.
    std::uint32_t frame_limit = 16u * 1024 * 1024;
};

// A TCP relay on 127.0.0.1 that speaks the relay protocol: it checks each
// client's JSON handshake against the room, answers with the room's roster,
// and then forwards every frame by the route in its envelope header. It
// records what it sees and can misbehave on request. All of its socket work
// happens on one thread of its own; every public call is thread-safe.
class FakeTcpRelay {
public:
    explicit FakeTcpRelay(FakeTcpRelayOptions options);
    ~FakeTcpRelay();
    FakeTcpRelay(const FakeTcpRelay&) = delete;
    FakeTcpRelay& operator=(const FakeTcpRelay&) = delete;

    // Listens on an ephemeral port of 127.0.0.1 and starts serving.
    bool start(std::string& error);
    void stop();
    std::uint16_t port() const;
    network::TransportEndpoint endpoint(const std::string& token,
                                        std::uint32_t frame_max_bytes = 0) const;

    // Observations. The waits return false when `limit` passes first.
    bool wait_for_players(std::size_t count, std::chrono::milliseconds limit);
    bool wait_for_frames_from(std::uint8_t slot, std::size_t count,
                              std::chrono::milliseconds limit);
    bool wait_until_written(std::uint8_t slot, std::chrono::milliseconds limit);
    bool wait_for_disconnect(std::uint8_t slot, std::chrono::milliseconds limit);
    std::vector<std::string> handshakes() const;
    std::vector<std::vector<std::uint8_t>> frames_from(std::uint8_t slot) const;
    // Hands over (and forgets) what the slot sent; cheaper for bulk checks.
    std::vector<std::vector<std::uint8_t>> take_frames_from(std::uint8_t slot);
    std::vector<std::vector<std::uint8_t>> frames_routed_to(std::uint8_t slot) const;

    // Misbehaviour towards a player who completed the handshake. Raw bytes go
    // out unframed, cut into separate writes at `split_points` with `gap`
    // between the writes.
    void send_raw(std::uint8_t slot, std::vector<std::uint8_t> bytes,
                  std::vector<std::size_t> split_points = {},
                  std::chrono::milliseconds gap = std::chrono::milliseconds{0});
    void send_frame(std::uint8_t slot, const std::vector<std::uint8_t>& payload);
    // Sends the bytes, then closes the connection (for example mid-frame).
    void send_raw_then_close(std::uint8_t slot, std::vector<std::uint8_t> bytes);
    void pause_reading(std::uint8_t slot);
    void resume_reading(std::uint8_t slot);

    struct State;

private:
    bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit);
    void run();

    const FakeTcpRelayOptions options_;
    std::unique_ptr<State> state_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::thread thread_;
};

// Frames a payload the way the relay protocol does: 4-byte big-endian length.
std::vector<std::uint8_t> fake_relay_frame(const std::vector<std::uint8_t>& payload);
std::vector<std::uint8_t> fake_relay_frame(const std::string& text);

}  // namespace qop::test
