#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "multiplayer/peer_reassembly_store.hpp"

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

// Fragments join in index order however they arrive; a second copy of a
// fragment, whether it has already joined the packet or still waits for an
// earlier one, changes nothing, even when its bytes differ.
TEST(ReassemblyStore, AnyArrivalOrderGivesThePacketInIndexOrder) {
    const Bytes chunks[] = {{'a', 'b', 'c'}, {'d', 'e', 'f'}, {'g', 'h', 'i'}, {'j'}};
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
        {"other fragment count", "p", fragment(1, 1, 3, 4), {'c'}, 0},
        {"other total size", "p", fragment(1, 1, 2, 5), {'c'}, 0},
        {"more bytes than announced", "p", fragment(1, 1, 2, 4), {'c', 'd', 'e'}, 0},
        {"all in but short of the total", "p", fragment(1, 1, 2, 4), {'c'}, 0},
        {"same id from another sender is its own message", "q", fragment(1, 1, 2, 4), {'c'}, 2},
        {"new message with more fragments than bytes", "p", fragment(2, 0, 3, 2), {'a'}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Store s;
        s.add(fragment(1, 0, 2, 4), {'a', 'b'});
        s.add(row.second, row.second_chunk, 0, row.second_sender);
        EXPECT_TRUE(s.delivered.empty());
        EXPECT_EQ(s.store.message_count(), row.messages_after);
        EXPECT_EQ(s.store.announced_bytes(), 4u * row.messages_after);
    }
}

// Fragment i carries the bytes from i times the chunk size on, the last one
// the rest: the first fragment to arrive, whichever it is, fixes the chunk
// size, and one that does not fit the layout discards the message.
TEST(ReassemblyStore, FragmentsTileThePacketAtTheChunkSize) {
    struct Row {
        const char* name;
        std::uint16_t count;
        std::uint32_t total;
        std::vector<std::pair<std::uint16_t, std::size_t>> arrivals;  // index, size
        std::string delivered = "";                                   // empty: nothing is delivered
        std::size_t messages_after = 0;
    };
    const Row rows[] = {
        {"the last fragment first names the chunk size", 3, 7, {{2, 1}, {0, 3}, {1, 3}}, "aaabbbc"},
        {"a middle fragment first, the last one short", 3, 7, {{1, 3}, {2, 1}, {0, 3}}, "aaabbbc"},
        {"an even split", 2, 4, {{1, 2}, {0, 2}}, "aabb"},
        {"the last fragment first, the rest not an even split", 3, 8, {{2, 1}}},
        {"the last fragment first, the whole total", 2, 4, {{1, 4}}},
        {"a first chunk too short for the count", 3, 7, {{0, 2}}},
        {"a first chunk that leaves the last fragment empty", 3, 6, {{1, 3}}},
        {"a middle fragment shorter than the chunk", 3, 7, {{0, 3}, {1, 2}}},
        {"a middle fragment longer than the chunk", 3, 8, {{2, 2}, {1, 4}}},
        {"a last fragment other than the rest", 3, 7, {{1, 3}, {2, 2}}},
        {"a fitting fragment keeps the message", 3, 7, {{0, 3}, {2, 1}}, "", 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Store s;
        for (const auto& [index, size] : row.arrivals) {
            s.add(fragment(1, index, row.count, row.total),
                  Bytes(size, static_cast<std::uint8_t>('a' + index)));
        }
        std::vector<Bytes> expected;
        if (!row.delivered.empty()) {
            expected.emplace_back(row.delivered.begin(), row.delivered.end());
        }
        EXPECT_EQ(s.delivered, expected);
        EXPECT_EQ(s.store.message_count(), row.messages_after);
        EXPECT_EQ(s.store.announced_bytes(), row.messages_after * row.total);
    }
}

// A sender that fills the table with messages of 4096 tiny fragments, each
// sent back to front so that none can join its packet, holds no more than the
// announced totals and a small fixed amount per message.
TEST(ReassemblyStore, OutOfOrderFragmentsHoldOnlyTheAnnouncedTotals) {
    constexpr std::uint16_t kCount = 4096;
    constexpr std::uint64_t kBookkeepingPerMessage = 1024;
    for (const std::uint32_t chunk : {1u, 32u}) {
        SCOPED_TRACE("chunk " + std::to_string(chunk));
        const std::uint32_t total = kCount * chunk;
        auto chunk_of = [&](std::uint16_t index) {
            return Bytes(chunk, static_cast<std::uint8_t>(index * 7 + 1));
        };
        Store s;
        for (std::uint32_t id = 0; id < 256; ++id) {
            // Every 16th index from the top down keeps the test quick; each
            // one still lands ahead of a missing fragment.
            for (int index = kCount - 1; index > 0; index -= 16) {
                const auto at = static_cast<std::uint16_t>(index);
                s.add(fragment(id, at, kCount, total), chunk_of(at));
            }
        }
        ASSERT_EQ(s.store.message_count(), 256u);
        ASSERT_EQ(s.store.announced_bytes(), 256u * total);
        EXPECT_LE(s.store.held_bytes(), s.store.announced_bytes() + 256 * kBookkeepingPerMessage);

        Bytes whole;
        for (std::uint16_t index = 0; index < kCount; ++index) {
            const Bytes part = chunk_of(index);
            whole.insert(whole.end(), part.begin(), part.end());
            if ((kCount - 1 - index) % 16 != 0) {
                s.add(fragment(255, index, kCount, total), part);
            }
        }
        ASSERT_EQ(s.delivered.size(), 1u);
        EXPECT_EQ(s.delivered[0], whole);
        EXPECT_EQ(s.store.message_count(), 255u);
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
    // Each a one-byte last fragment: the first fragment is the rest.
    s.add(fragment(1, 1, 2, k16MiB), {'a'});
    s.add(fragment(2, 1, 2, k16MiB), {'a'});
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
