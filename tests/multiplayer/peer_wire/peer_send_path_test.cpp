// The send path from a game's packet to the frames a transport queues:
// target checks, chunking under the frame limit, numbering, whole-or-nothing
// queuing, failures, and the packets a client holds until it learns the nonce.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "multiplayer/peer_send_path.hpp"

namespace qop::network {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kNonce = 0x0102030405060708ULL;
constexpr char kQueueFull[] = "TCP transport send queue is full";

// A relay transport that records what it is given. Its queue holds
// `capacity` more payloads now and `ever_capacity` when empty; the payload
// numbered `fail_at` (0-based, counting refusals) gets `fail_with`.
class RecordingTransport final : public NetworkTransport {
public:
    bool connect(const TransportEndpoint&, std::string&) override { return true; }
    bool poll(std::vector<Bytes>&, std::string&) override { return true; }
    SendResult send(const Bytes& payload, std::string& error) override {
        if (attempts++ == fail_at) {
            error = "relay says no";
            return fail_with;
        }
        if (capacity == 0) {
            error = kQueueFull;
            return SendResult::QueueFull;
        }
        --capacity;
        sent.push_back(payload);
        return SendResult::Sent;
    }
    void close() override {}
    void cancel() override {}
    bool send_queue_can_take(std::size_t frames, std::uint64_t bytes) const override {
        asked_bytes = bytes;
        return frames <= capacity;
    }
    bool send_queue_could_ever_take(std::size_t frames, std::uint64_t) const override {
        return frames <= ever_capacity;
    }
    std::uint64_t largest_payload_bytes() const override { return largest_payload; }
    TransportState state() const override { return TransportState::Connected; }
    std::uint8_t envelope_version() const override { return 1; }
    std::uint8_t player_slot() const override { return 0; }
    std::uint8_t host_slot() const override { return 1; }
    const std::vector<SlotRosterEntry>& slot_roster() const override { return roster; }

    std::vector<Bytes> sent;
    std::size_t capacity = SIZE_MAX;
    std::size_t ever_capacity = SIZE_MAX;
    std::uint64_t largest_payload = UINT64_MAX;
    std::size_t attempts = 0;
    std::size_t fail_at = SIZE_MAX;
    SendResult fail_with = SendResult::Failed;
    mutable std::uint64_t asked_bytes = 0;
    std::vector<SlotRosterEntry> roster;
};

// Players "host", "me" and "c" in slots 1 to `players`; this peer is `local`.
struct Room {
    explicit Room(std::int32_t local = 2, std::uint8_t players = 3, NonceWaitLimits limits = {})
        : path(limits) {
        std::vector<SlotRosterEntry> roster = {{"host", 1}, {"me", 2}, {"c", 3}};
        roster.resize(players);
        slots.build(static_cast<std::uint8_t>(local), 1, roster, roster[local - 1].player_id,
                    unique_id);
    }
    PeerSendView view() {
        return PeerSendView{slots, unique_id, nonce, unique_id == 1, frame_max, udp_max, tcp, udp};
    }
    SendOutcome put(std::int32_t target, std::int32_t mode, std::int32_t channel,
                    const Bytes& bytes) {
        return path.put_packet(view(), {target, mode, channel}, bytes.data(), bytes.size(), error);
    }
    SendOutcome release() { return path.release_held(view(), error); }

    PeerSlotTable slots;
    std::int32_t unique_id = 0;
    std::uint64_t nonce = kNonce;
    std::uint32_t frame_max = 65536;
    std::uint32_t udp_max = 1200;
    RecordingTransport tcp, udp;
    PeerSendPath path;
    std::string error;
};

Bytes pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    }
    return bytes;
}

std::uint32_t u32_at(const Bytes& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
           std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

// Offsets of a frame's fields behind a Host or Broadcast envelope (8 bytes).
constexpr std::size_t kSequenceAt = 8 + 9;
constexpr std::size_t kMessageIdAt = 8 + 13;
constexpr std::size_t kChunkAt = 8 + 33;

TEST(PeerSendPath, CutsAReliablePacketIntoWholeFramesUnderTheFrameLimit) {
    Room room;
    const Bytes packet = pattern(100000);
    ASSERT_EQ(room.put(1, kTransferModeReliable, 5, packet), SendOutcome::Sent);
    ASSERT_EQ(room.tcp.sent.size(), 4u);
    // The whole packet with its four envelope and frame headers was asked for at once.
    EXPECT_EQ(room.tcp.asked_bytes, 100000u + 4 * (8 + 33));
    const Bytes last_header = {
        0x00, 0x01, 0x00, 0x02, 'G',  'P',  'P',  'G',         // envelope to host
        'Q',  'O',  'P',  'G',  0x01, 0x03, 0x02, 0x00, 0x05,  // data, reliable, ch 5
        0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01,        // sequence, message id
        0x00, 0x03, 0x00, 0x04, 0x00, 0x01, 0x86, 0xA0,        // 3 of 4, 100000 bytes
        0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};       // nonce
    EXPECT_EQ(Bytes(room.tcp.sent[3].begin(), room.tcp.sent[3].begin() + kChunkAt), last_header);
    const std::size_t chunks[] = {32768, 32768, 32768, 1696};
    for (std::size_t i = 0; i < 4; ++i) {
        ASSERT_EQ(room.tcp.sent[i].size(), kChunkAt + chunks[i]) << i;
        EXPECT_EQ(room.tcp.sent[i][kChunkAt], packet[i * 32768]) << i;
    }
}

TEST(PeerSendPath, JudgesEachPacketByTheRelaysLimits) {
    struct Row {
        const char* name;
        std::int32_t mode;
        std::uint32_t frame_max;
        std::uint64_t largest_datagram;
        std::size_t size;
        SendOutcome outcome;
        std::size_t frames;
    };
    const Row rows[] = {
        {"frame limit 2093 leaves no chunk", kTransferModeReliable, 2093, UINT64_MAX, 1,
         SendOutcome::Invalid, 0},
        {"frame limit 2094: one byte a frame", kTransferModeReliable, 2094, UINT64_MAX, 4096,
         SendOutcome::Sent, 4096},
        {"frame limit 2094: 4097 fragments", kTransferModeReliable, 2094, UINT64_MAX, 4097,
         SendOutcome::Invalid, 0},
        {"largest unreliable packet", kTransferModeUnreliable, 65536, UINT64_MAX, 1200 - 33,
         SendOutcome::Sent, 1},
        {"one byte over", kTransferModeUnreliableOrdered, 65536, UINT64_MAX, 1200 - 32,
         SendOutcome::Invalid, 0},
        {"over the relay's own datagram limit", kTransferModeUnreliable, 65536, 8 + 33 + 99, 100,
         SendOutcome::Invalid, 0},
        {"within it", kTransferModeUnreliable, 65536, 8 + 33 + 100, 100, SendOutcome::Sent, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Room room;
        room.frame_max = row.frame_max;
        room.udp.largest_payload = row.largest_datagram;
        EXPECT_EQ(room.put(1, row.mode, 0, pattern(row.size)), row.outcome);
        EXPECT_EQ(room.tcp.sent.size() + room.udp.sent.size(), row.frames);
    }
}

TEST(PeerSendPath, TargetsOutsideTheRoomAreRefused) {
    struct Row {
        std::int32_t local;
        std::int32_t target;
        SendOutcome outcome;
    };
    // Two players: the host in slot 1, "me" in slot 2.
    const Row rows[] = {
        {1, -2, SendOutcome::Invalid},  {1, INT32_MIN, SendOutcome::Invalid},
        {1, -65, SendOutcome::Invalid}, {1, 1, SendOutcome::Invalid},
        {1, 3, SendOutcome::Invalid},   {2, -1, SendOutcome::Invalid},
        {2, -64, SendOutcome::Sent},    {2, 1, SendOutcome::Sent},
        {1, 0, SendOutcome::Sent},
    };
    for (const Row& row : rows) {
        for (const std::int32_t mode :
             {kTransferModeReliable, kTransferModeUnreliable, kTransferModeUnreliableOrdered}) {
            SCOPED_TRACE(std::to_string(row.local) + " to " + std::to_string(row.target) +
                         ", mode " + std::to_string(mode));
            Room room(row.local, 2);
            EXPECT_EQ(room.put(row.target, mode, 0, {1}), row.outcome);
            EXPECT_EQ(room.tcp.sent.size() + room.udp.sent.size(),
                      row.outcome == SendOutcome::Sent ? 1u : 0u);
        }
    }
    Room room;
    EXPECT_EQ(room.path.put_packet(room.view(), {1, 2, 0}, nullptr, 1, room.error),
              SendOutcome::Invalid);
    EXPECT_EQ(room.put(1, kTransferModeReliable, 0, Bytes(16777217)), SendOutcome::Invalid);
}

TEST(PeerSendPath, SequencesCountPerChannelAndEveryTryUsesAMessageId) {
    Room room;
    const struct {
        std::int32_t target, mode, channel;
        std::size_t size;
    } puts[] = {{1, 2, 5, 2}, {3, 0, 6, 2}, {0, 1, 5, 2}, {1, 0, 5, 3}, {0, 2, 5, 2}};
    room.udp_max = 33 + 2;  // the fourth, three bytes unreliable, is refused
    for (const auto& put : puts) {
        room.put(put.target, put.mode, put.channel, pattern(put.size));
    }
    std::vector<std::uint32_t> sequences, message_ids;
    for (const Bytes& frame :
         {room.tcp.sent[0], room.udp.sent[0], room.udp.sent[1], room.tcp.sent[1]}) {
        // The direct envelope to slot 3 names it in one more byte.
        const std::size_t shift = frame[2] == 0x02 ? 1 : 0;
        sequences.push_back(u32_at(frame, kSequenceAt + shift));
        message_ids.push_back(u32_at(frame, kMessageIdAt + shift));
    }
    EXPECT_EQ(sequences, (std::vector<std::uint32_t>{1, 1, 2, 4}));
    EXPECT_EQ(message_ids, (std::vector<std::uint32_t>{1, 2, 3, 5}));
}

TEST(PeerSendPath, AReliablePacketIsQueuedWholeOrNotAtAll) {
    Room room;
    room.frame_max = 2094;  // one byte of packet per frame
    room.tcp.ever_capacity = room.tcp.capacity = 2048;
    // More fragments than the queue ever holds: refused at once.
    EXPECT_EQ(room.put(1, kTransferModeReliable, 0, pattern(2049)), SendOutcome::Invalid);
    EXPECT_EQ(room.put(1, kTransferModeReliable, 0, pattern(1500)), SendOutcome::Sent);
    EXPECT_EQ(room.put(1, kTransferModeReliable, 0, pattern(1000)), SendOutcome::Busy);
    EXPECT_EQ(room.put(1, kTransferModeReliable, 0, {9}), SendOutcome::Sent);
    // Every fragment of the first packet and the last one; none of the refused ones.
    EXPECT_EQ(room.tcp.sent.size(), 1500u + 1u);
}

TEST(PeerSendPath, WhatATransportRefusesDecidesTheOutcome) {
    struct Row {
        std::int32_t mode;
        SendResult result;
        SendOutcome outcome;
    };
    const Row rows[] = {
        {kTransferModeReliable, SendResult::QueueFull, SendOutcome::Busy},
        {kTransferModeReliable, SendResult::OverLimit, SendOutcome::Failed},
        {kTransferModeReliable, SendResult::Failed, SendOutcome::Failed},
        {kTransferModeUnreliable, SendResult::QueueFull, SendOutcome::Busy},
        {kTransferModeUnreliable, SendResult::OverLimit, SendOutcome::Invalid},
        {kTransferModeUnreliable, SendResult::Failed, SendOutcome::Failed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.result) * 10 + row.mode);
        Room room;
        room.frame_max = 2094;
        for (RecordingTransport* transport : {&room.tcp, &room.udp}) {
            transport->fail_at = row.mode == kTransferModeReliable ? 2 : 0;
            transport->fail_with = row.result;
        }
        EXPECT_EQ(room.put(1, row.mode, 0, pattern(5)), row.outcome);
        // The fragments before the refused one stay queued.
        EXPECT_EQ(room.tcp.sent.size(), row.mode == kTransferModeReliable ? 2u : 0u);
        EXPECT_EQ(room.error, "relay says no");
    }
}

TEST(PeerSendPath, AClientHoldsPacketsUntilTheNonceAndSendsThemInOrder) {
    Room room;
    room.nonce = 0;
    for (const std::int32_t target : {1, 3, 0}) {
        ASSERT_EQ(room.put(target, kTransferModeReliable, 0, {std::uint8_t(target)}),
                  SendOutcome::Sent);
    }
    // Refused at once, as it would be when sent.
    EXPECT_EQ(room.put(1, kTransferModeUnreliable, 0, pattern(1200)), SendOutcome::Invalid);
    EXPECT_EQ(room.release(), SendOutcome::Sent);
    EXPECT_EQ(room.path.held_packet_count(), 3u);
    EXPECT_TRUE(room.tcp.sent.empty());

    room.nonce = kNonce;
    room.slots.erase_peer(3);  // its packet is skipped
    room.tcp.capacity = 1;     // the broadcast waits, first in line
    EXPECT_EQ(room.release(), SendOutcome::Busy);
    EXPECT_EQ(room.path.held_packet_count(), 1u);
    // Still behind what waits, though the nonce is known.
    ASSERT_EQ(room.put(1, kTransferModeReliable, 0, {7}), SendOutcome::Sent);
    EXPECT_EQ(room.tcp.sent.size(), 1u);
    room.tcp.capacity = SIZE_MAX;
    EXPECT_EQ(room.release(), SendOutcome::Sent);
    ASSERT_EQ(room.tcp.sent.size(), 3u);
    const Bytes expected[] = {{1}, {0}, {7}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(Bytes(room.tcp.sent[i].begin() + kChunkAt, room.tcp.sent[i].end()), expected[i]);
        EXPECT_EQ(room.tcp.sent[i][kChunkAt - 1], 0x08);  // the nonce's last byte
    }
    // The host never holds: it drew the nonce itself.
    Room host(1);
    host.nonce = 0;
    EXPECT_EQ(host.put(2, kTransferModeReliable, 0, {1}), SendOutcome::Sent);
    EXPECT_EQ(host.tcp.sent.size(), 1u);
}

TEST(PeerSendPath, TheHoldIsBoundedAndAFailedReleaseDropsTheRest) {
    Room room(2, 3, NonceWaitLimits{3, 10});
    room.nonce = 0;
    const Bytes sizes[] = {pattern(4), pattern(5), pattern(2), pattern(1)};
    const SendOutcome outcomes[] = {SendOutcome::Sent, SendOutcome::Sent, SendOutcome::Busy,
                                    SendOutcome::Sent};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(room.put(1, kTransferModeReliable, 0, sizes[i]), outcomes[i]) << i;
    }
    EXPECT_EQ(room.put(1, kTransferModeReliable, 0, pattern(1)), SendOutcome::Busy);
    room.nonce = kNonce;
    room.tcp.fail_at = 1;
    EXPECT_EQ(room.release(), SendOutcome::Failed);
    EXPECT_EQ(room.error, "relay says no");
    EXPECT_EQ(room.tcp.sent.size(), 1u);
    EXPECT_EQ(room.path.held_packet_count(), 0u);
}

}  // namespace
}  // namespace qop::network
