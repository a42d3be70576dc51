#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "relay/network_transport.hpp"
#include "support/fake_udp_relay.hpp"
#include "support/test_waits.hpp"

namespace qop::network::udp_test {

using Bytes = std::vector<std::uint8_t>;
using Frames = std::vector<Bytes>;

inline std::vector<test::FakeUdpRelay::Player> three_players() {
    return {{"tok-a", "player-a", 1}, {"tok-b", "player-b", 2}, {"tok-c", "player-c", 3}};
}

inline TransportEndpoint endpoint_for(const test::FakeUdpRelay& relay, const std::string& token,
                                      std::uint8_t envelope_version = 1,
                                      std::uint32_t payload_max_bytes = 0) {
    TransportEndpoint endpoint;
    endpoint.host = "127.0.0.1";
    endpoint.port = relay.port();
    endpoint.token = token;
    endpoint.payload_max_bytes = payload_max_bytes;
    endpoint.envelope_version = envelope_version;
    return endpoint;
}

// Polls until `frames` holds at least `count` frames; every poll must succeed.
inline bool poll_until_frames(NetworkTransport& transport, Frames& frames, std::size_t count) {
    bool all_polls_succeeded = true;
    const bool arrived = test::wait_until([&] {
        std::string error;
        all_polls_succeeded = all_polls_succeeded && transport.poll(frames, error);
        return !all_polls_succeeded || frames.size() >= count;
    });
    return arrived && all_polls_succeeded;
}

inline Bytes data_datagram(const Bytes& session_id, const Bytes& payload) {
    Bytes out;
    out.reserve(8 + session_id.size() + payload.size());
    for (const std::uint8_t byte : {'Q', 'O', 'P', 'U'}) {
        out.push_back(byte);
    }
    out.push_back(1);  // version
    out.push_back(3);  // data
    out.push_back(static_cast<std::uint8_t>(session_id.size() >> 8));
    out.push_back(static_cast<std::uint8_t>(session_id.size() & 0xFF));
    out.insert(out.end(), session_id.begin(), session_id.end());
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

}  // namespace qop::network::udp_test
