#include "support/multiplayer_peer_host.hpp"

#include <algorithm>
#include <thread>
#include <utility>

#include <godot_cpp/core/memory.hpp>

#include "godot_adapter/godot_string_conversion.hpp"
#include "godot_adapter/sdk_library_entry.hpp"

namespace qop::godot_adapter::testing {

namespace {

const char* const kPeerSignals[] = {"peer_connected", "peer_disconnected"};

}  // namespace

MultiplayerPeerSeams test_peer_seams(std::shared_ptr<qop::test::ManualMonotonicClock> clock) {
    MultiplayerPeerSeams seams = system_multiplayer_peer_seams();
    seams.steady_clock = std::move(clock);
    seams.random32 = [] { return 0x5EED1234u; };
    seams.pipe_timings.read_poll_interval = std::chrono::milliseconds(1);
    return seams;
}

MultiplayerPeerHost::MultiplayerPeerHost() {
    loaded_ = engine_.load(&qop_sdk_library_init);
}

MultiplayerPeerHost::~MultiplayerPeerHost() {
    for (QOPMultiplayerPeer* peer : peers_) {
        engine_.free(peer);
    }
}

QOPMultiplayerPeer* MultiplayerPeerHost::new_peer(MultiplayerPeerSeams seams) {
    auto* peer = memnew(QOPMultiplayerPeer(std::move(seams)));
    peers_.push_back(peer);
    for (const char* signal : kPeerSignals) {
        engine_.watch(peer, signal);
    }
    return peer;
}

void MultiplayerPeerHost::free_peer(QOPMultiplayerPeer* peer) {
    peers_.erase(std::remove(peers_.begin(), peers_.end(), peer), peers_.end());
    engine_.free(peer);
}

godot::Variant MultiplayerPeerHost::call(QOPMultiplayerPeer* peer, const std::string& method,
                                         const std::vector<godot::Variant>& arguments) {
    return engine_.call(peer, method, arguments);
}

namespace {

int64_t call_connect(MultiplayerPeerHost& host, QOPMultiplayerPeer* peer, const char* method,
                     const godot::Dictionary& argument) {
    // Built one by one: GCC misreads a braced list of one Dictionary here.
    std::vector<godot::Variant> arguments;
    arguments.emplace_back(argument);
    return static_cast<int64_t>(host.call(peer, method, arguments));
}

}  // namespace

int64_t MultiplayerPeerHost::connect_data_plane(QOPMultiplayerPeer* peer,
                                                const godot::Dictionary& context) {
    return call_connect(*this, peer, "connect_from_data_plane", context);
}

int64_t MultiplayerPeerHost::connect_bootstrap(QOPMultiplayerPeer* peer,
                                               const godot::Dictionary& bootstrap) {
    return call_connect(*this, peer, "connect_from_bootstrap", bootstrap);
}

::testing::AssertionResult TwoPlayerRoom::start() {
    std::string error;
    if (!relays.start(error)) {
        return ::testing::AssertionFailure() << error;
    }
    if (!host.loaded()) {
        return ::testing::AssertionFailure() << "the library did not load";
    }
    return ::testing::AssertionSuccess();
}

bool all_connected(const std::vector<QOPMultiplayerPeer*>& peers) {
    return std::all_of(peers.begin(), peers.end(), [](QOPMultiplayerPeer* peer) {
        return peer->_get_connection_status() == godot::MultiplayerPeer::CONNECTION_CONNECTED;
    });
}

godot::Dictionary bootstrap_context(const std::string& ticket, const std::string& endpoint,
                                    const std::string& secret) {
    godot::Dictionary bootstrap;
    bootstrap["launch_ticket"] = to_godot_string(ticket);
    bootstrap["bootstrap_endpoint"] = to_godot_string(endpoint);
    bootstrap["bootstrap_secret"] = to_godot_string(secret);
    return bootstrap;
}

std::string MultiplayerPeerHost::last_error(QOPMultiplayerPeer* peer) {
    return to_std_string(static_cast<godot::String>(call(peer, "get_last_error")));
}

std::vector<int64_t> MultiplayerPeerHost::signalled(const QOPMultiplayerPeer* peer,
                                                    const std::string& signal) const {
    std::vector<int64_t> ids;
    for (const godot_standin::SignalEmission& emission : engine_.emissions_of(signal)) {
        if (emission.instance_id == peer->get_instance_id() && !emission.arguments.empty()) {
            ids.push_back(static_cast<int64_t>(emission.arguments[0]));
        }
    }
    return ids;
}

std::vector<std::string> MultiplayerPeerHost::signals_of(const QOPMultiplayerPeer* peer) const {
    std::vector<std::string> seen;
    for (const godot_standin::SignalEmission& emission : engine_.emissions()) {
        if (emission.instance_id == peer->get_instance_id() && !emission.arguments.empty()) {
            seen.push_back(emission.signal + "(" +
                           std::to_string(static_cast<int64_t>(emission.arguments[0])) + ")");
        }
    }
    return seen;
}

bool poll_until(std::vector<godot_standin::MultiplayerDriver*> drivers,
                std::vector<std::vector<godot_standin::ReceivedPacket>>& received,
                const std::function<bool()>& done, std::chrono::milliseconds limit) {
    received.resize(std::max(received.size(), drivers.size()));
    const auto give_up = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > give_up) {
            return false;
        }
        for (std::size_t i = 0; i < drivers.size(); ++i) {
            for (godot_standin::ReceivedPacket& packet : drivers[i]->poll()) {
                received[i].push_back(std::move(packet));
            }
        }
        std::this_thread::yield();
    }
    return true;
}

}  // namespace qop::godot_adapter::testing
