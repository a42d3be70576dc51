// Closing, failing and destroying a room peer while its connect worker is in
// each blocking step, against servers that never answer: every one returns
// promptly, on the engine's thread, without a race, and the connection never
// comes up afterwards.

#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "godot_adapter/godot_string_conversion.hpp"
#include "support/fake_room_relays.hpp"
#include "support/fake_silent_relays.hpp"
#include "support/host_bridge_wire.hpp"
#include "support/multiplayer_peer_host.hpp"
#include "support/scripted_host_bridge_pipe.hpp"
#include "support/test_waits.hpp"
#include "support/transport_cancel_probe.hpp"

namespace qop::godot_adapter::testing {
namespace {

using namespace std::chrono_literals;
using godot::MultiplayerPeer;
using qop::test::ScriptedPipeNetwork;
using qop::test::ScriptedPipeServer;
namespace wire = qop::test::wire;

// Far below the worker's own bounds (5 s for a pipe or a handshake, 10 s
// for a host-bridge reply), generous for a loaded machine under a sanitizer.
constexpr auto kPrompt = 2s;

// One connect whose worker stops in a known step because its server never answers.
class Scenario {
public:
    virtual ~Scenario() = default;
    virtual void adjust(MultiplayerPeerSeams&) {}
    virtual int64_t start(MultiplayerPeerHost& host, QOPMultiplayerPeer* peer) = 0;
    // True once the worker is inside its step.
    virtual bool reached() = 0;
};

// The bootstrap road against scripted host-bridge pipes on real time: the
// worker blocks in whichever read the script leaves unanswered.
class PipeScenario : public Scenario {
public:
    enum class Step { PipeOpen, Bootstrap, Attach, DataPlane };

    explicit PipeScenario(Step step) : step_(step) {
        network_.add("\\\\.\\pipe\\boot", boot_, step == Step::PipeOpen ? -1 : 0);
        network_.add("\\\\.\\pipe\\room", room_);
        if (step != Step::PipeOpen && step != Step::Bootstrap) {
            boot_->reply_after_frame(
                1, wire::framed(wire::redeemed("room-1", "p-2", "\\\\.\\pipe\\room", "s")));
        }
        if (step == Step::DataPlane) {
            room_->reply_after_frame(1, wire::framed(wire::snapshot("p-1", {{"p-1", ""}})) +
                                            wire::framed(wire::attached()));
        }
    }

    void adjust(MultiplayerPeerSeams& seams) override {
        seams.pipe_connector = network_.connector();
        seams.pipe_clock = qop::network::system_monotonic_clock();
    }

    int64_t start(MultiplayerPeerHost& host, QOPMultiplayerPeer* peer) override {
        return host.connect_bootstrap(peer, bootstrap_context("ticket", "boot", "secret"));
    }

    bool reached() override {
        switch (step_) {
            case Step::PipeOpen:
                return network_.instance_waits() > 0;
            case Step::Bootstrap:
                return boot_->frames_written().size() == 1;
            case Step::Attach:
                return room_->frames_written().size() == 1;
            case Step::DataPlane:
                return room_->frames_written().size() == 2;
        }
        return false;
    }

private:
    const Step step_;
    ScriptedPipeNetwork network_;
    std::shared_ptr<ScriptedPipeServer> boot_ = std::make_shared<ScriptedPipeServer>();
    std::shared_ptr<ScriptedPipeServer> room_ = std::make_shared<ScriptedPipeServer>();
};

// The data-plane road to the fake relays; where `silent` says, the descriptor
// leads to a relay that never answers instead: its TCP relay accepts and
// never answers the handshake, or its UDP relay never answers the hello.
class DataPlaneScenario : public Scenario {
public:
    enum class Silent { Nobody, Tcp, Udp };

    // `tcp_port`: a TCP relay elsewhere that never answers.
    explicit DataPlaneScenario(Silent silent, std::uint16_t tcp_port = 0)
        : silent_(silent), relays_(options(tcp_port)) {
        relays_.start(error_);
    }

    int64_t start(MultiplayerPeerHost& host, QOPMultiplayerPeer* peer) override {
        return host.connect_data_plane(peer, relays_.context_for("player-two"));
    }

    bool reached() override {
        switch (silent_) {
            case Silent::Tcp:
                return mute_tcp_.wait_for_bytes(10s);
            case Silent::Udp:
                return relays_.tcp().wait_for_players(1, 10s);
            case Silent::Nobody:
                break;
        }
        return true;  // the worker may be anywhere, or done
    }

private:
    qop::test::FakeRoomOptions options(std::uint16_t tcp_port) const {
        qop::test::FakeRoomOptions room;
        room.descriptor_tcp_port = silent_ == Silent::Tcp ? mute_tcp_.port() : tcp_port;
        room.descriptor_udp_port = silent_ == Silent::Udp ? mute_udp_.port() : 0;
        if (room.descriptor_tcp_port != 0) {
            room.descriptor_udp_port = 9;  // never reached
        }
        return room;
    }

    const Silent silent_;
    qop::test::MuteTcpListener mute_tcp_;
    qop::test::MuteUdpPort mute_udp_;
    std::string error_;
    qop::test::FakeRoomRelays relays_;
};

enum class Ending { Close, Fail, Destroy };

struct PhaseCase {
    const char* name;
    std::function<std::unique_ptr<Scenario>()> make;
};

const std::vector<PhaseCase>& phases() {
    using Step = PipeScenario::Step;
    using Silent = DataPlaneScenario::Silent;
    static const std::vector<PhaseCase> cases = {
        {"pipe_open", [] { return std::make_unique<PipeScenario>(Step::PipeOpen); }},
        {"bootstrap", [] { return std::make_unique<PipeScenario>(Step::Bootstrap); }},
        {"attach", [] { return std::make_unique<PipeScenario>(Step::Attach); }},
        {"data_plane", [] { return std::make_unique<PipeScenario>(Step::DataPlane); }},
        {"tcp_handshake", [] { return std::make_unique<DataPlaneScenario>(Silent::Tcp); }},
        {"udp_handshake", [] { return std::make_unique<DataPlaneScenario>(Silent::Udp); }},
        {"anywhere", [] { return std::make_unique<DataPlaneScenario>(Silent::Nobody); }},
    };
    return cases;
}

class PeerLifecycle : public ::testing::TestWithParam<Ending> {
protected:
    void SetUp() override { ASSERT_TRUE(host.loaded()); }

    // Starts a connect in `scenario`, waits until its step is reached plus a
    // random moment, ends the connection the parameter's way and checks it
    // was prompt and final.
    void end_during(Scenario& scenario) {
        MultiplayerPeerSeams seams = test_peer_seams(clock);
        scenario.adjust(seams);
        QOPMultiplayerPeer* peer = host.new_peer(std::move(seams));
        ASSERT_EQ(scenario.start(host, peer), godot::OK);
        ASSERT_TRUE(qop::test::wait_until([&] { return scenario.reached(); }));
        std::this_thread::sleep_for(qop::test::random_delay(random, 20ms));

        const auto began = std::chrono::steady_clock::now();
        switch (GetParam()) {
            case Ending::Close:
                peer->_close();
                break;
            case Ending::Fail:
                host.call(peer, "fail_connection", {to_godot_string("Game gave up")});
                break;
            case Ending::Destroy:
                host.free_peer(peer);
                break;
        }
        EXPECT_LT(std::chrono::steady_clock::now() - began, kPrompt);
        if (GetParam() == Ending::Destroy) {
            return;
        }
        EXPECT_EQ(peer->_get_connection_status(), MultiplayerPeer::CONNECTION_DISCONNECTED);
        // Whatever the worker left behind never brings the connection up.
        for (int i = 0; i < 3; ++i) {
            peer->_poll();
        }
        EXPECT_EQ(peer->_get_connection_status(), MultiplayerPeer::CONNECTION_DISCONNECTED);
        EXPECT_EQ(host.last_error(peer),
                  GetParam() == Ending::Close ? "Connection closed" : "Game gave up");
        EXPECT_THAT(host.signals_of(peer), ::testing::IsEmpty());
        host.free_peer(peer);
    }

    std::shared_ptr<qop::test::ManualMonotonicClock> clock =
        std::make_shared<qop::test::ManualMonotonicClock>();
    MultiplayerPeerHost host;
    std::mt19937 random{20240611};
};

TEST_P(PeerLifecycle, EndsPromptlyInEveryStepOfTheWorker) {
    for (const PhaseCase& phase : phases()) {
        for (int cycle = 0; cycle < 4; ++cycle) {
            SCOPED_TRACE(std::string(phase.name) + " cycle " + std::to_string(cycle));
            std::unique_ptr<Scenario> scenario = phase.make();
            end_during(*scenario);
        }
    }
}

TEST_P(PeerLifecycle, EndsPromptlyWhileTheRelayDropsTheConnectRequest) {
    qop::test::UnansweringTcpListener listener;
    if (!listener.full()) {
        GTEST_SKIP() << "this system answers every connection request";
    }
    DataPlaneScenario scenario(DataPlaneScenario::Silent::Nobody, listener.port());
    end_during(scenario);
}

const char* const kEndingNames[] = {"Close", "FailConnection", "Destructor"};

INSTANTIATE_TEST_SUITE_P(Endings, PeerLifecycle,
                         ::testing::Values(Ending::Close, Ending::Fail, Ending::Destroy),
                         [](const ::testing::TestParamInfo<Ending>& info) {
                             return std::string(kEndingNames[static_cast<int>(info.param)]);
                         });

}  // namespace
}  // namespace qop::godot_adapter::testing
