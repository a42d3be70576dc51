#pragma once

// Everything QOPMultiplayerPeer takes from the outside world, gathered so that
// C++ callers (tests, tools) can replace any of it. The engine's constructor
// uses system_multiplayer_peer_seams().

#include <cstdint>
#include <functional>
#include <memory>

#include "host_bridge/host_bridge_pipe_channel.hpp"
#include "host_bridge/hosted_session_pipe.hpp"
#include "multiplayer/peer_connect_worker.hpp"
#include "shared/monotonic_clock.hpp"

namespace qop::godot_adapter {

struct MultiplayerPeerSeams {
    // Relay transports, the clock that dates descriptors, the thread starter.
    qop::network::PeerConnectSeams connect;
    // The host-bridge pipe client of the bootstrap road.
    std::unique_ptr<qop::network::PipeConnector> pipe_connector;
    std::shared_ptr<const qop::network::MonotonicClock> pipe_clock;
    qop::network::HostedSessionTimings pipe_timings;
    // Steady time for the announce, keep-alive and reassembly timers and the nonce.
    std::shared_ptr<const qop::network::MonotonicClock> steady_clock;
    // The non-deterministic half of the host's session nonce.
    std::function<std::uint32_t()> random32;
};

// The operating system's pipes, sockets, clocks, random device and threads.
MultiplayerPeerSeams system_multiplayer_peer_seams();

}  // namespace qop::godot_adapter
