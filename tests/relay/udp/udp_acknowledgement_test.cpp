#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "relay/udp_acknowledgement.hpp"

namespace qop::network {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char kRejected[] = "UDP transport authentication was rejected";
constexpr char kInvalid[] = "UDP transport returned an invalid acknowledgement";
constexpr char kMetadataTruncated[] = "UDP slot metadata is truncated";
constexpr char kRosterTruncated[] = "UDP roster is truncated";
constexpr char kIdTruncated[] = "UDP roster id is truncated";
constexpr char kMetadataInvalid[] = "UDP slot metadata is invalid";

// Header, session id "abc" (L = 3), relay maximum 1200 and the relay's 8 bytes: 20 + L bytes.
Bytes fixed_part() {
    return {'Q', 'O',  'P',  'U', 1, 2, 0, 3, 'a', 'b', 'c', 0,
            0,   0x04, 0xB0, 9,   9, 9, 9, 9, 9,   9,   9};
}

Bytes with(Bytes bytes, std::initializer_list<std::uint8_t> more) {
    bytes.insert(bytes.end(), more);
    return bytes;
}

Bytes entry(std::uint8_t slot, const std::string& id) {
    Bytes out(3 + id.size());
    out[0] = slot;
    out[1] = static_cast<std::uint8_t>(id.size() >> 8);
    out[2] = static_cast<std::uint8_t>(id.size() & 0xFF);
    std::copy(id.begin(), id.end(), out.begin() + 3);
    return out;
}

// A complete acknowledgement for version 1: player slot 2, host 1, roster {1 "host", 2 "me"}.
Bytes full_v1() {
    Bytes bytes = with(fixed_part(), {1, 2, 1, 2});
    for (const Bytes& e : {entry(1, "host"), entry(2, "me")}) {
        bytes.insert(bytes.end(), e.begin(), e.end());
    }
    return bytes;
}

Bytes truncate(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

Bytes roster_of(std::uint8_t count_byte, std::size_t entries) {
    Bytes bytes = with(fixed_part(), {1, 1, 1, count_byte});
    for (std::size_t i = 0; i < entries; ++i) {
        const Bytes e = entry(static_cast<std::uint8_t>(i + 1), "p" + std::to_string(i));
        bytes.insert(bytes.end(), e.begin(), e.end());
    }
    return bytes;
}

struct AckCase {
    const char* name;
    Bytes datagram;
    std::uint8_t requested_version;
    const char* error;  // nullptr: accepted
};

std::vector<AckCase> ack_cases() {
    Bytes wrong_magic = fixed_part();
    wrong_magic[3] = 'G';
    Bytes wrong_version = fixed_part();
    wrong_version[4] = 2;
    Bytes data_type = fixed_part();
    data_type[5] = 3;
    Bytes zero_length{'Q', 'O', 'P', 'U', 1, 2, 0, 0, 0, 0, 4, 0xB0, 9, 9, 9, 9, 9, 9, 9, 9, 1};
    Bytes long_id = full_v1();
    long_id[long_id.size() - 3] = 3;  // "me" claims 3 bytes
    Bytes zero_id = with(fixed_part(), {1, 1, 1, 1, 1, 0, 0});
    Bytes echo_zero = full_v1();
    echo_zero[23] = 0;
    Bytes echo_two = full_v1();
    echo_two[23] = 2;
    Bytes player_zero = full_v1();
    player_zero[24] = 0;
    Bytes player_65 = full_v1();
    player_65[24] = 65;
    Bytes host_two = full_v1();
    host_two[25] = 2;
    Bytes entry_slot_255 = full_v1();
    entry_slot_255[27] = 255;

    return {
        {"eleven_bytes", truncate(fixed_part(), 11), 0, kRejected},
        {"empty", {}, 0, kRejected},
        {"wrong_magic", wrong_magic, 0, kRejected},
        {"wrong_version", wrong_version, 0, kRejected},
        {"data_type", data_type, 0, kRejected},
        {"twelve_bytes", truncate(fixed_part(), 12), 0, kInvalid},
        {"19_plus_L", truncate(fixed_part(), 22), 0, kInvalid},
        {"19_plus_L_v1", truncate(fixed_part(), 22), 1, kInvalid},
        {"20_plus_L_no_version", fixed_part(), 0, nullptr},
        {"20_plus_L_v1_missing_echo", fixed_part(), 1, kInvalid},
        {"no_version_ignores_tail", with(fixed_part(), {7, 7, 7}), 0, nullptr},
        {"session_id_length_0", zero_length, 0, kInvalid},
        {"echo_0_for_1", echo_zero, 1, kInvalid},
        {"echo_2_for_1", echo_two, 1, kInvalid},
        {"21_plus_L", with(fixed_part(), {1}), 1, kMetadataTruncated},
        {"23_plus_L", with(fixed_part(), {1, 2, 1}), 1, kMetadataTruncated},
        {"24_plus_L_count_1", with(fixed_part(), {1, 2, 1, 1}), 1, kRosterTruncated},
        {"entry_of_two_bytes", with(fixed_part(), {1, 1, 1, 1, 1, 0}), 1, kRosterTruncated},
        {"second_entry_missing", truncate(full_v1(), 34), 1, kRosterTruncated},
        {"id_runs_past_end", long_id, 1, kIdTruncated},
        {"id_cut_short", truncate(full_v1(), full_v1().size() - 1), 1, kIdTruncated},
        {"id_length_0", zero_id, 1, kIdTruncated},
        {"complete_v1", full_v1(), 1, nullptr},
        {"trailing_byte", with(full_v1(), {0}), 1, kMetadataInvalid},
        {"count_0", roster_of(0, 0), 1, kMetadataInvalid},
        {"count_64", roster_of(64, 64), 1, nullptr},
        {"count_65", roster_of(65, 65), 1, kMetadataInvalid},
        {"player_slot_0", player_zero, 1, kMetadataInvalid},
        {"player_slot_65", player_65, 1, kMetadataInvalid},
        {"host_slot_2", host_two, 1, kMetadataInvalid},
        {"entry_slot_255", entry_slot_255, 1, kMetadataInvalid},
    };
}

TEST(UdpAcknowledgement, TableOfDatagrams) {
    for (const AckCase& c : ack_cases()) {
        SCOPED_TRACE(c.name);
        UdpAcknowledgement ack;
        std::string error;
        const bool ok = parse_udp_acknowledgement(c.datagram.data(), c.datagram.size(),
                                                  c.requested_version, ack, error);
        EXPECT_EQ(ok, c.error == nullptr) << error;
        if (c.error != nullptr) {
            EXPECT_EQ(error, c.error);
        }
    }
}

TEST(UdpAcknowledgement, ReadsSessionLimitAndRoster) {
    const Bytes datagram = full_v1();
    UdpAcknowledgement ack;
    std::string error;
    ASSERT_TRUE(parse_udp_acknowledgement(datagram.data(), datagram.size(), 1, ack, error))
        << error;
    EXPECT_EQ(ack.session_id, (Bytes{'a', 'b', 'c'}));
    EXPECT_EQ(ack.relay_payload_max_bytes, 1200u);
    EXPECT_EQ(ack.player_slot, 2);
    EXPECT_EQ(ack.host_slot, 1);
    ASSERT_EQ(ack.roster.size(), 2u);
    EXPECT_EQ(ack.roster[0].player_id, "host");
    EXPECT_EQ(ack.roster[0].slot, 1);
    EXPECT_EQ(ack.roster[1].player_id, "me");
    EXPECT_EQ(ack.roster[1].slot, 2);
}

TEST(UdpAcknowledgement, RelayMaximumExtremes) {
    for (const std::uint32_t maximum : {0u, 1u, 0xFFFFFFFFu}) {
        Bytes datagram = fixed_part();
        datagram[11] = static_cast<std::uint8_t>(maximum >> 24);
        datagram[12] = static_cast<std::uint8_t>(maximum >> 16);
        datagram[13] = static_cast<std::uint8_t>(maximum >> 8);
        datagram[14] = static_cast<std::uint8_t>(maximum);
        UdpAcknowledgement ack;
        std::string error;
        ASSERT_TRUE(parse_udp_acknowledgement(datagram.data(), datagram.size(), 0, ack, error));
        EXPECT_EQ(ack.relay_payload_max_bytes, maximum);
    }
}

TEST(UdpAcknowledgement, FullRosterOfLongIds) {
    // Echo 1, the local player in slot 64, host 1, 64 entries.
    Bytes datagram = with(fixed_part(), {1, 64, 1, 64});
    for (int slot = 1; slot <= 64; ++slot) {
        const Bytes e =
            entry(static_cast<std::uint8_t>(slot),
                  std::string(400, static_cast<char>('A' + slot % 26)) + std::to_string(slot));
        datagram.insert(datagram.end(), e.begin(), e.end());
    }
    ASSERT_GT(datagram.size(), 25000u);
    UdpAcknowledgement ack;
    std::string error;
    ASSERT_TRUE(parse_udp_acknowledgement(datagram.data(), datagram.size(), 1, ack, error))
        << error;
    EXPECT_EQ(ack.roster.size(), 64u);
    EXPECT_EQ(ack.player_slot, 64);
}

struct LimitCase {
    std::uint32_t requested;
    std::uint32_t relay;
    std::uint32_t expected;
};

TEST(UdpAcknowledgement, PayloadLimitIsTheSmallerOfRequestAndRelay) {
    const LimitCase cases[] = {
        {0, 1200, 1200},    {500, 1200, 500},
        {1500, 1200, 1200}, {0, 0, 0},
        {700, 0, 0},        {0, 0xFFFFFFFF, 0xFFFFFFFF},
        {1, 0xFFFFFFFF, 1}, {0xFFFFFFFF, 1200, 1200},
        {1200, 1200, 1200},
    };
    for (const LimitCase& c : cases) {
        EXPECT_EQ(negotiate_udp_payload_limit(c.requested, c.relay), c.expected)
            << c.requested << " vs " << c.relay;
    }
}

}  // namespace
}  // namespace qop::network
