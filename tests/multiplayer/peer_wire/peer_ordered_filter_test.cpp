#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "multiplayer/peer_ordered_filter.hpp"

namespace qop::network {
namespace {

std::vector<std::uint32_t> accepted_of(OrderedSequenceFilter& filter, std::int32_t peer,
                                       std::uint16_t channel,
                                       const std::vector<std::uint32_t>& sequences) {
    std::vector<std::uint32_t> accepted;
    for (const std::uint32_t sequence : sequences) {
        if (filter.accept(peer, channel, sequence)) {
            accepted.push_back(sequence);
        }
    }
    return accepted;
}

TEST(OrderedSequenceFilter, DeliversOnlyNewerSequences) {
    struct Row {
        const char* name;
        std::vector<std::uint32_t> sequences;
        std::vector<std::uint32_t> accepted;
    };
    const Row rows[] = {
        {"stale and repeated dropped", {5, 4, 5, 6}, {5, 6}},
        {"counter wraps", {0xFFFFFFFE, 0xFFFFFFFF, 0, 1}, {0xFFFFFFFE, 0xFFFFFFFF, 0, 1}},
        {"first sequence may be anything", {0x90000000, 0x90000001}, {0x90000000, 0x90000001}},
        {"first sequence 0", {0, 1}, {0, 1}},
        {"half the number space ahead is behind", {0, 0x80000000, 0x7FFFFFFF}, {0, 0x7FFFFFFF}},
        {"just behind after the wrap", {2, 0xFFFFFFFF, 3}, {2, 3}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        OrderedSequenceFilter filter;
        EXPECT_EQ(accepted_of(filter, 2, 0, row.sequences), row.accepted);
    }
}

TEST(OrderedSequenceFilter, JudgesSendersAndChannelsApartAndForgetsOnePeer) {
    OrderedSequenceFilter filter;
    EXPECT_EQ(accepted_of(filter, 2, 7, {5, 4}), (std::vector<std::uint32_t>{5}));
    EXPECT_EQ(accepted_of(filter, 2, 8, {4}), (std::vector<std::uint32_t>{4}));
    EXPECT_EQ(accepted_of(filter, 3, 7, {4}), (std::vector<std::uint32_t>{4}));
    // Channel 0 of peer 3 must not collide with peer 2 in the key.
    EXPECT_EQ(accepted_of(filter, 3, 0, {100}), (std::vector<std::uint32_t>{100}));

    accepted_of(filter, 2, 0, {100});
    accepted_of(filter, 2, 65535, {100});
    filter.forget_peer(2);
    EXPECT_TRUE(filter.accept(2, 0, 1));
    EXPECT_TRUE(filter.accept(2, 65535, 1));
    EXPECT_FALSE(filter.accept(3, 0, 1));
    filter.clear();
    EXPECT_TRUE(filter.accept(3, 0, 1));
}

}  // namespace
}  // namespace qop::network
