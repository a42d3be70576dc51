#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "relay/network_transport.hpp"
#include "relay/socket_compat.hpp"
#include "support/fake_tcp_relay.hpp"

namespace qop::test {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Frames = std::vector<Bytes>;

TEST(ConcurrentTcpTransports, SocketLibraryStartsOnceUnderConcurrentFirstUse) {
    std::vector<std::thread> threads;
    std::atomic<int> started{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            if (network::start_socket_library()) {
                ++started;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(started.load(), 8);
}

// Each player's transport lives on its own thread, as each peer's worker and
// main thread would; the fake relay serves them all from its own thread.
TEST(ConcurrentTcpTransports, PlayersOnSeparateThreadsExchangeBroadcasts) {
    FakeTcpRelayOptions options;
    options.room = {{"tok-1", "p1", 1}, {"tok-2", "p2", 2}, {"tok-3", "p3", 3}};
    FakeTcpRelay relay(options);
    std::string error;
    ASSERT_TRUE(relay.start(error)) << error;

    constexpr int kPlayers = 3;
    constexpr int kFramesEach = 50;
    std::atomic<int> connected{0};
    std::vector<Frames> received(kPlayers);
    std::vector<std::string> errors(kPlayers);
    std::vector<std::thread> threads;
    for (int index = 0; index < kPlayers; ++index) {
        threads.emplace_back([&, index] {
            const auto slot = static_cast<std::uint8_t>(index + 1);
            auto transport = network::make_tcp_transport();
            std::string& failure = errors[static_cast<std::size_t>(index)];
            if (!transport->connect(relay.endpoint("tok-" + std::to_string(slot)), failure)) {
                return;
            }
            ++connected;
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (connected.load() < kPlayers && std::chrono::steady_clock::now() < give_up) {
                std::this_thread::yield();
            }
            if (!relay.wait_for_players(kPlayers, std::chrono::seconds(10))) {
                failure = "players did not all join";
                return;
            }
            for (int n = 0; n < kFramesEach; ++n) {
                const Bytes frame = {0x00, 0x02, 0x01, slot, static_cast<std::uint8_t>(n)};
                if (transport->send(frame, failure) != network::SendResult::Sent) {
                    return;
                }
            }
            Frames& mine = received[static_cast<std::size_t>(index)];
            while (mine.size() < (kPlayers - 1) * kFramesEach) {
                if (!transport->poll(mine, failure)) {
                    return;
                }
                if (std::chrono::steady_clock::now() > give_up) {
                    failure = "gave up waiting";
                    return;
                }
                std::this_thread::yield();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int index = 0; index < kPlayers; ++index) {
        const auto& frames = received[static_cast<std::size_t>(index)];
        EXPECT_EQ(frames.size(), static_cast<std::size_t>((kPlayers - 1) * kFramesEach))
            << "player " << index + 1 << ": " << errors[static_cast<std::size_t>(index)];
        // Per sender the order is kept.
        for (int sender = 1; sender <= kPlayers; ++sender) {
            int expected = 0;
            for (const auto& frame : frames) {
                if (frame[3] == sender) {
                    EXPECT_EQ(frame[4], expected++);
                }
            }
            EXPECT_EQ(expected, sender == index + 1 ? 0 : kFramesEach);
        }
    }
}

}  // namespace
}  // namespace qop::test
