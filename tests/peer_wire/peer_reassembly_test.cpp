#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "network/peer_reassembly_store.hpp"

namespace qop::network {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::uint32_t k16MiB = 16777216;

PeerFrameHeader fragment(std::uint32_t message_id, std::uint16_t index, std::uint16_t count,
                         std::uint32_t total) {
    PeerFrameHeader header;
    header.kind = 3;
    header.transfer_mode = kTransferModeReliable;
    header.message_id = message_id;
    header.fragment_index = index;
    header.fragment_count = count;
    header.total_size = total;
    return header;
}

struct Store {
    ReassemblyStore store;
    std::vector<Bytes> delivered;

    void add(const PeerFrameHeader& header, const Bytes& chunk, std::int64_t now_ns = 0,
             const std::string& sender = "p") {
        Bytes packet;
        if (store.add_fragment(sender, header, chunk.data(), chunk.size(), now_ns, packet)) {
            delivered.push_back(packet);
        }
    }
};

// Fragments join in index order however they arrive and whatever their
// sizes; a second copy of a fragment, whether it has already joined the
// packet or still waits for an earlier one, changes nothing, even when its
// bytes differ.
TEST(ReassemblyStore, AnyArrivalOrderGivesThePacketInIndexOrder) {
    const Bytes chunks[] = {{'a', 'b', 'c'}, {'d'}, {'e', 'f'}, {'g', 'h', 'i', 'j'}};
    const Bytes whole = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j'};
    const std::vector<std::uint16_t> orders[] = {
        {0, 1, 2, 3},       {3, 2, 1, 0},    {1, 3, 0, 2},    {2, 0, 3, 1},
        {0, 0, 2, 2, 1, 3}, {3, 3, 0, 1, 2}, {1, 0, 1, 2, 3},
    };
    for (const std::vector<std::uint16_t>& order : orders) {
        std::string trace;
        for (const std::uint16_t index : order) {
            trace += std::to_string(index) + " ";
        }
        SCOPED_TRACE(trace);
        Store s;
        bool arrived[4] = {};
        for (const std::uint16_t index : order) {
            EXPECT_TRUE(s.delivered.empty());
            Bytes chunk = chunks[index];
            if (arrived[index]) {
                chunk.assign(chunk.size(), 'x');
            }
            arrived[index] = true;
            s.add(fragment(4, index, 4, 10), chunk);
            EXPECT_EQ(s.store.message_count(), s.delivered.empty() ? 1u : 0u);
        }
        ASSERT_EQ(s.delivered.size(), 1u);
        EXPECT_EQ(s.delivered[0], whole);
        EXPECT_EQ(s.store.announced_bytes(), 0u);
    }
}

// A broken message is dropped whole; one that could never complete is not kept at all.
TEST(ReassemblyStore, BrokenMessagesAreDiscardedWhole) {
    struct Row {
        const char* name;
        const char* second_sender;
        PeerFrameHeader second;
        Bytes second_chunk;
        std::size_t messages_after;
    };
    const Row rows[] = {
        {"other fragment count", "p", fragment(1, 1, 3, 4), {'b'}, 0},
        {"other total size", "p", fragment(1, 1, 2, 5), {'b'}, 0},
        {"more bytes than announced", "p", fragment(1, 1, 2, 4), {'b', 'c', 'd', 'e'}, 0},
        {"all in but short of the total", "p", fragment(1, 1, 2, 4), {'b'}, 0},
        {"same id from another sender is its own message", "q", fragment(1, 1, 2, 4), {'b'}, 2},
        {"new message with more fragments than bytes", "p", fragment(2, 0, 3, 2), {'a'}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Store s;
        s.add(fragment(1, 0, 2, 4), {'a'});
        s.add(row.second, row.second_chunk, 0, row.second_sender);
        EXPECT_TRUE(s.delivered.empty());
        EXPECT_EQ(s.store.message_count(), row.messages_after);
        EXPECT_EQ(s.store.announced_bytes(), 4u * row.messages_after);
    }
}

TEST(ReassemblyStore, HoldsAtMost256Messages) {
    Store s;
    for (std::uint32_t id = 0; id < 256; ++id) {
        s.add(fragment(id, 0, 2, 2), {'a'});
    }
    EXPECT_EQ(s.store.message_count(), 256u);
    s.add(fragment(256, 0, 2, 2), {'a'});
    s.add(fragment(256, 1, 2, 2), {'b'});
    EXPECT_EQ(s.store.message_count(), 256u);
    EXPECT_TRUE(s.delivered.empty());

    s.add(fragment(0, 1, 2, 2), {'b'});
    ASSERT_EQ(s.delivered.size(), 1u);
    s.add(fragment(256, 0, 2, 2), {'a'});
    EXPECT_EQ(s.store.message_count(), 256u);
}

TEST(ReassemblyStore, AnnouncedBytesAreBoundedAt32MiB) {
    Store s;
    s.add(fragment(1, 0, 2, k16MiB), {'a'});
    s.add(fragment(2, 0, 2, k16MiB), {'a'});
    EXPECT_EQ(s.store.message_count(), 2u);
    EXPECT_EQ(s.store.announced_bytes(), 2u * k16MiB);
    s.add(fragment(3, 0, 2, 2), {'a'});
    EXPECT_EQ(s.store.message_count(), 2u);

    s.store.forget_sender("p");
    EXPECT_EQ(s.store.message_count(), 0u);
    EXPECT_EQ(s.store.announced_bytes(), 0u);
}

TEST(ReassemblyStore, ExpiresThirtySecondsAfterTheFirstFragment) {
    Store s;
    const std::int64_t start = 1000 * kSecond;
    s.add(fragment(1, 0, 2, 2), {'a'}, start);
    s.add(fragment(2, 0, 2, 2), {'a'}, start + kSecond);
    s.store.expire(start + 30 * kSecond);
    EXPECT_EQ(s.store.message_count(), 2u);
    s.store.expire(start + 30 * kSecond + 1);
    EXPECT_EQ(s.store.message_count(), 1u);
    EXPECT_EQ(s.store.announced_bytes(), 2u);
    // A late fragment of the expired message starts it afresh and cannot complete it.
    s.add(fragment(1, 1, 2, 2), {'b'}, start + 31 * kSecond);
    EXPECT_TRUE(s.delivered.empty());
    s.add(fragment(2, 1, 2, 2), {'b'}, start + 31 * kSecond);
    EXPECT_EQ(s.delivered.size(), 1u);

    s.store.expire(INT64_MIN);
    s.store.clear();
    EXPECT_EQ(s.store.message_count(), 0u);
    EXPECT_EQ(s.store.announced_bytes(), 0u);
}

TEST(ReassemblyStore, ForgetsOnlyTheNamedSender) {
    Store s;
    s.add(fragment(1, 0, 2, 2), {'a'}, 0, "p");
    s.add(fragment(1, 0, 2, 2), {'a'}, 0, "pq");
    s.add(fragment(1, 0, 2, 2), {'a'}, 0, "o");
    s.store.forget_sender("p");
    EXPECT_EQ(s.store.message_count(), 2u);
    s.add(fragment(1, 1, 2, 2), {'b'}, 0, "pq");
    EXPECT_EQ(s.delivered.size(), 1u);
}

}  // namespace
}  // namespace qop::network
