// The packet queue reuses its storage and drops the read part as it goes;
// whatever the mix of arrivals and reads, packets must come out in order,
// whole, and exactly once.

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>

#include "multiplayer/peer_inbound_queue.hpp"

namespace qop::network {
namespace {

InboundPacket numbered(std::int32_t number) {
    InboundPacket packet;
    packet.bytes.assign(static_cast<std::size_t>(number % 50 + 1),
                        static_cast<std::uint8_t>(number));
    packet.peer = number;
    return packet;
}

TEST(InboundPacketQueue, KeepsArrivalOrderWhateverTheReadsDo) {
    struct Pattern {
        const char* name;
        int arrivals_per_round;
        int reads_per_round;
    };
    const Pattern patterns[] = {
        {"one in, one out", 1, 1},  {"a burst read at once", 40, 40}, {"reads fall behind", 3, 2},
        {"reads lag by one", 5, 4}, {"bursts read slowly", 17, 9},
    };
    for (const Pattern& pattern : patterns) {
        SCOPED_TRACE(pattern.name);
        InboundPacketQueue queue;
        std::deque<std::int32_t> expected;
        std::int32_t next = 0;
        for (int round = 0; round < 300; ++round) {
            for (int i = 0; i < pattern.arrivals_per_round; ++i) {
                queue.push_back(numbered(next));
                expected.push_back(next++);
            }
            for (int i = 0; i < pattern.reads_per_round && !queue.empty(); ++i) {
                ASSERT_EQ(queue.front().peer, expected.front());
                ASSERT_EQ(queue.front().bytes, numbered(expected.front()).bytes);
                expected.pop_front();
                queue.pop_front();
            }
            ASSERT_EQ(queue.size(), expected.size());
            for (std::size_t i = 0; i < expected.size(); i += 7) {
                ASSERT_EQ(queue[i].peer, expected[i]);
            }
        }
        queue.clear();
        EXPECT_TRUE(queue.empty());
        EXPECT_EQ(queue.begin(), queue.end());
    }
}

// A burst far beyond steady traffic is given back once the engine has read
// it (or the peer closes); a queue that stays small keeps its storage.
TEST(InboundPacketQueue, GivesABurstsStorageBackOnceDrained) {
    struct Row {
        const char* name;
        int burst;
        bool drained_by_reads;
    };
    const Row rows[] = {
        {"a burst read to the end", 70000, true},
        {"a burst dropped by a close", 70000, false},
        {"steady traffic", 600, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        InboundPacketQueue queue;
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < row.burst; ++i) {
                queue.push_back(numbered(i));
            }
            const std::size_t grown = queue.capacity();
            ASSERT_GE(grown, static_cast<std::size_t>(row.burst));
            if (row.drained_by_reads) {
                for (int i = 0; i < row.burst; ++i) {
                    ASSERT_EQ(queue.front().peer, i);
                    queue.pop_front();
                }
            } else {
                queue.clear();
            }
            EXPECT_TRUE(queue.empty());
            EXPECT_LE(queue.capacity(), InboundPacketQueue::kKeptSlots);
            if (static_cast<std::size_t>(row.burst) <= InboundPacketQueue::kKeptSlots) {
                EXPECT_EQ(queue.capacity(), grown) << "reused, not given back";
            }
        }
    }
}

}  // namespace
}  // namespace qop::network
