#include "relay/reliable_frame_reader.hpp"

#include <gtest/gtest.h>

#include <random>

#include "allocation_probe.hpp"

namespace qop::network {
namespace {

using qop::test::AllocationProbe;
using Bytes = std::vector<std::uint8_t>;
using Frames = std::vector<Bytes>;

// Two frames written out by hand: lengths 3 and 1, big-endian.
const Bytes kTwoFrames = {0x00, 0x00, 0x00, 0x03, 'a', 'b', 'c', 0x00, 0x00, 0x00, 0x01, 'z'};

TEST(ReliableFrameReader, TwoFramesInOneReadComeOutInOrder) {
    ReliableFrameReader reader;
    reader.append(kTwoFrames.data(), kTwoFrames.size());
    Frames frames;
    std::string error;
    ASSERT_TRUE(reader.cut(frames, error));
    EXPECT_EQ(frames, (Frames{{'a', 'b', 'c'}, {'z'}}));
    EXPECT_EQ(reader.buffered_bytes(), 0u);
}

TEST(ReliableFrameReader, EverySplitPointIncludingInsideThePrefixDeliversTheSameFrames) {
    for (std::size_t split = 0; split <= kTwoFrames.size(); ++split) {
        ReliableFrameReader reader;
        Frames frames;
        std::string error;
        reader.append(kTwoFrames.data(), split);
        ASSERT_TRUE(reader.cut(frames, error));
        reader.append(kTwoFrames.data() + split, kTwoFrames.size() - split);
        ASSERT_TRUE(reader.cut(frames, error));
        EXPECT_EQ(frames, (Frames{{'a', 'b', 'c'}, {'z'}})) << "split at " << split;
    }
}

TEST(ReliableFrameReader, RandomChunkingOfAManyFrameStreamIsLossless) {
    std::mt19937 random(20261209);
    Frames sent;
    Bytes stream;
    for (int i = 0; i < 300; ++i) {
        Bytes payload(1 + random() % 700);
        for (auto& byte : payload) {
            byte = static_cast<std::uint8_t>(random());
        }
        const auto n = static_cast<std::uint32_t>(payload.size());
        stream.insert(stream.end(),
                      {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                       static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
        stream.insert(stream.end(), payload.begin(), payload.end());
        sent.push_back(std::move(payload));
    }
    for (int round = 0; round < 20; ++round) {
        ReliableFrameReader reader;
        reader.set_frame_limit(700);
        Frames received;
        std::string error;
        std::size_t offset = 0;
        while (offset < stream.size()) {
            const std::size_t step =
                std::min<std::size_t>(1 + random() % 9, stream.size() - offset);
            reader.append(stream.data() + offset, step);
            ASSERT_TRUE(reader.cut(received, error));
            offset += step;
        }
        EXPECT_EQ(received, sent);
        EXPECT_EQ(reader.buffered_bytes(), 0u);
    }
}

TEST(ReliableFrameReader, AFrameOfExactlyTheLimitIsAcceptedAndOneMoreIsNot) {
    const Bytes at_limit = {0x00, 0x00, 0x00, 0x04, 1, 2, 3, 4};
    Frames frames;
    std::size_t consumed = 0;
    std::string error;
    ASSERT_TRUE(cut_reliable_frames(at_limit.data(), at_limit.size(), 4, frames, consumed, error));
    EXPECT_EQ(consumed, at_limit.size());
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_FALSE(cut_reliable_frames(at_limit.data(), at_limit.size(), 3, frames, consumed, error));
    EXPECT_EQ(error, "TCP transport frame exceeds the negotiated limit");
}

struct HostilePrefix {
    const char* name;
    Bytes bytes;
    std::uint32_t limit;
};

TEST(ReliableFrameReader, HostileLengthPrefixesFailWithoutAllocatingWhatTheyClaim) {
    const std::vector<HostilePrefix> cases = {
        {"zero", {0x00, 0x00, 0x00, 0x00, 'x'}, 65536},
        {"limit plus one", {0x00, 0x01, 0x00, 0x01, 'x'}, 65536},
        {"all ones", {0xFF, 0xFF, 0xFF, 0xFF, 'x'}, 65536},
        {"all ones above a 4 GiB limit", {0xFF, 0xFF, 0xFF, 0xFF, 'x'}, 0xFFFFFFFE},
    };
    for (const auto& c : cases) {
        ReliableFrameReader reader;
        reader.set_frame_limit(c.limit);
        Frames frames;
        std::string error;
        const AllocationProbe probe;
        reader.append(c.bytes.data(), c.bytes.size());
        EXPECT_FALSE(reader.cut(frames, error)) << c.name;
        EXPECT_EQ(error, "TCP transport frame exceeds the negotiated limit") << c.name;
        EXPECT_LT(probe.largest(), 4096u) << c.name;
    }
}

TEST(ReliableFrameReader, AnAllOnesPrefixUnderAFullLimitWaitsForBytesInsteadOfReserving) {
    const Bytes prefix = {0xFF, 0xFF, 0xFF, 0xFF, 'x', 'y'};
    ReliableFrameReader reader;
    reader.set_frame_limit(0xFFFFFFFF);
    Frames frames;
    std::string error;
    const AllocationProbe probe;
    reader.append(prefix.data(), prefix.size());
    EXPECT_TRUE(reader.cut(frames, error));
    EXPECT_TRUE(frames.empty());
    EXPECT_EQ(reader.buffered_bytes(), prefix.size());
    EXPECT_LT(probe.largest(), 4096u);
}

TEST(ReliableFrameReader, FramesBeforeAnInvalidPrefixAreStillHandedOut) {
    const Bytes stream = {0x00, 0x00, 0x00, 0x01, 'k', 0x00, 0x00, 0x00, 0x00};
    Frames frames;
    std::size_t consumed = 0;
    std::string error;
    EXPECT_FALSE(cut_reliable_frames(stream.data(), stream.size(), 16, frames, consumed, error));
    EXPECT_EQ(frames, (Frames{{'k'}}));
    EXPECT_EQ(consumed, 5u);
}

}  // namespace
}  // namespace qop::network
