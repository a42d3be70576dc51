#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "host_bridge/hosted_session_pipe.hpp"
#include "support/host_bridge_wire.hpp"
#include "support/scripted_host_bridge_pipe.hpp"

namespace qop::test {
namespace {

using namespace std::chrono_literals;
using network::DataPlaneConnectionContext;
using network::HostedSessionPipe;
using network::HostedSessionTimings;

constexpr char kBootPath[] = "\\\\.\\pipe\\qop-boot";
constexpr char kRoomPath[] = "\\\\.\\pipe\\qop-room";
constexpr auto kGenerous = 5s;

// Real time and real waits: the scripted pipes block until bytes arrive or
// the channel is cancelled. The deadlines are short enough that a cancel that
// does not work still ends each test within seconds, and long enough that
// only a working cancel ends it quickly.
class HostedSessionCancel : public ::testing::Test {
protected:
    void SetUp() override {
        network.add(kBootPath, boot);
        network.add(kRoomPath, room);
        HostedSessionTimings timings;
        timings.pipe_open_give_up_after = 3s;
        timings.bootstrap_response_timeout = 3s;
        timings.attach_timeout = 3s;
        timings.data_plane_timeout = 3s;
        pipe = std::make_unique<HostedSessionPipe>(network.connector(), nullptr, timings);
    }

    void start_connect() {
        started = std::chrono::steady_clock::now();
        worker = std::async(std::launch::async, [this] {
            return pipe->connect({"ticket", "qop-boot", "secret"}, context, error);
        });
    }

    // Cancels, waits for connect to return and checks that it gave up
    // promptly with the cancel text.
    void cancel_and_expect_prompt_end() {
        pipe->cancel();
        ASSERT_EQ(worker.wait_for(kGenerous), std::future_status::ready);
        EXPECT_FALSE(worker.get());
        EXPECT_EQ(error, "Hosted session connect was cancelled");
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    }

    void script_bootstrap() {
        boot->reply_after_frame(1, wire::framed(wire::redeemed("r", "p", kRoomPath, "s")));
    }

    ScriptedPipeNetwork network;
    std::shared_ptr<ScriptedPipeServer> boot = std::make_shared<ScriptedPipeServer>();
    std::shared_ptr<ScriptedPipeServer> room = std::make_shared<ScriptedPipeServer>();
    std::unique_ptr<HostedSessionPipe> pipe;
    DataPlaneConnectionContext context;
    std::string error;
    std::chrono::steady_clock::time_point started;
    std::future<bool> worker;
};

TEST_F(HostedSessionCancel, EndsTheWaitForTheBootstrapResponse) {
    start_connect();
    ASSERT_TRUE(boot->wait_for_frames(1, kGenerous));
    cancel_and_expect_prompt_end();
    EXPECT_TRUE(boot->client_closed());
}

TEST_F(HostedSessionCancel, EndsTheAttachWait) {
    script_bootstrap();
    start_connect();
    ASSERT_TRUE(room->wait_for_frames(1, kGenerous));
    cancel_and_expect_prompt_end();
    EXPECT_TRUE(room->client_closed());
}

TEST_F(HostedSessionCancel, EndsTheDataPlaneWait) {
    script_bootstrap();
    room->reply_after_frame(
        1, wire::framed(wire::attached()) + wire::framed(wire::snapshot("h", {{"h", "H"}})));
    start_connect();
    ASSERT_TRUE(room->wait_for_frames(2, kGenerous));
    cancel_and_expect_prompt_end();
    EXPECT_TRUE(room->client_closed());
}

TEST_F(HostedSessionCancel, EndsABlockedWrite) {
    script_bootstrap();
    room->block_writes();
    start_connect();
    ASSERT_TRUE(room->wait_for_blocked_write(kGenerous));
    cancel_and_expect_prompt_end();
    EXPECT_TRUE(room->cancelled());
}

TEST_F(HostedSessionCancel, EndsTheWaitForABusyPipe) {
    network.add(kBootPath, boot, -1);
    start_connect();
    const auto limit = std::chrono::steady_clock::now() + kGenerous;
    while (network.instance_waits() == 0 && std::chrono::steady_clock::now() < limit) {
        std::this_thread::yield();
    }
    ASSERT_GT(network.instance_waits(), 0u);
    cancel_and_expect_prompt_end();
}

TEST_F(HostedSessionCancel, CancelRacingTheStartOfConnectIsNeverLost) {
    for (int round = 0; round < 50; ++round) {
        boot = std::make_shared<ScriptedPipeServer>();
        network.add(kBootPath, boot);
        start_connect();
        cancel_and_expect_prompt_end();
        pipe->close();  // re-arms for the next round
    }
}

}  // namespace
}  // namespace qop::test
