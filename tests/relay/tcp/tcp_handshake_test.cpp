#include "relay/tcp_handshake.hpp"

#include <google/protobuf/struct.pb.h>
#include <google/protobuf/util/json_util.h>
#include <gtest/gtest.h>

#include <chrono>

namespace qop::network {
namespace {

constexpr char kRosterTwo[] = R"([{"playerId":"host","slot":1},{"playerId":"guest","slot":2}])";

std::string ack_with(const std::string& fields) {
    return "{\"type\":\"reliable_handshake_ack\"" + fields + "}";
}

std::string v1(const std::string& player, const std::string& host, const std::string& roster) {
    return ack_with(R"(,"selectedEnvelopeVersion":1,"playerSlot":)" + player + R"(,"hostSlot":)" +
                    host + R"(,"playerSlots":)" + roster);
}

std::string roster_of(int count) {
    std::string roster = "[";
    for (int slot = 1; slot <= count; ++slot) {
        roster += (slot > 1 ? "," : "");
        const int room_slot = slot <= 64 ? slot : 64;
        roster += R"({"playerId":"p)" + std::to_string(slot) + R"(","slot":)" +
                  std::to_string(room_slot) + "}";
    }
    return roster + "]";
}

struct AckCase {
    const char* name;
    std::string text;
    bool ok;
    std::string error;
    std::uint8_t version;
    std::uint8_t player_slot;
    std::size_t roster_size;
};

const char kInvalid[] = "TCP transport returned an invalid acknowledgement";
const char kRejected[] = "TCP transport authentication was rejected";
const char kMissing[] = "TCP transport acknowledgement is missing slot metadata";
const char kEntry[] = "TCP slot roster entry is invalid";
const char kSlots[] = "TCP slot metadata is invalid";

TEST(TcpAcknowledgement, Table) {
    const std::vector<AckCase> cases = {
        {"v1 with roster", v1("2", "1", kRosterTwo), true, "", 1, 2, 2},
        {"version as 1.0",
         ack_with(
             R"(,"selectedEnvelopeVersion":1.0,"playerSlot":1,"hostSlot":1,"playerSlots":[{"playerId":"h","slot":1}])"),
         true, "", 1, 1, 1},
        {"fractional slots dropped", v1("2.9", "1.2", kRosterTwo), true, "", 1, 2, 2},
        {"version missing", ack_with(""), true, "", 0, 0, 0},
        {"version 2", ack_with(R"(,"selectedEnvelopeVersion":2,"playerSlot":1)"), true, "", 0, 0,
         0},
        {"version as text", ack_with(R"(,"selectedEnvelopeVersion":"1","playerSlot":1)"), true, "",
         0, 0, 0},
        {"unknown keys ignored", ack_with(R"(,"relay":{"x":[1,2]})"), true, "", 0, 0, 0},
        {"type without _ack", R"({"type":"reliable_handshake"})", false, kRejected, 0, 0, 0},
        {"type missing", R"({"selectedEnvelopeVersion":1})", false, kRejected, 0, 0, 0},
        {"type a number", R"({"type":7})", false, kRejected, 0, 0, 0},
        {"not JSON", "reliable_handshake_ack", false, kInvalid, 0, 0, 0},
        {"empty", "", false, kInvalid, 0, 0, 0},
        {"root array", R"([{"type":"reliable_handshake_ack"}])", false, kInvalid, 0, 0, 0},
        {"duplicate keys", R"({"type":"reliable_handshake_ack","type":"reliable_handshake_ack"})",
         false, kInvalid, 0, 0, 0},
        {"invalid UTF-8", "{\"type\":\"reliable_handshake_ack\",\"x\":\"\xC3\x28\"}", false,
         kInvalid, 0, 0, 0},
        {"truncated", R"({"type":"reliable_handshake_ack","selectedEnv)", false, kInvalid, 0, 0, 0},
        {"hostSlot missing",
         ack_with(R"(,"selectedEnvelopeVersion":1,"playerSlot":1,"playerSlots":[])"), false,
         kMissing, 0, 0, 0},
        {"hostSlot as text", v1("1", "\"1\"", kRosterTwo), false, kMissing, 0, 0, 0},
        {"playerSlots an object", v1("1", "1", "{}"), false, kMissing, 0, 0, 0},
        {"hostSlot 2", v1("2", "2", kRosterTwo), false, kSlots, 0, 0, 0},
        {"playerSlot 257 never wraps to 1", v1("257", "1", kRosterTwo), false, kSlots, 0, 0, 0},
        {"hostSlot 257 never wraps to 1", v1("2", "257", kRosterTwo), false, kSlots, 0, 0, 0},
        {"playerSlot huge", v1("1e300", "1", kRosterTwo), false, kSlots, 0, 0, 0},
        {"playerSlot negative", v1("-255", "1", kRosterTwo), false, kSlots, 0, 0, 0},
        {"playerSlot absent from roster", v1("3", "1", kRosterTwo), false, kSlots, 0, 0, 0},
        {"entry slot 0", v1("1", "1", R"([{"playerId":"h","slot":1},{"playerId":"g","slot":0}])"),
         false, kEntry, 0, 0, 0},
        {"entry slot 65", v1("1", "1", R"([{"playerId":"h","slot":1},{"playerId":"g","slot":65}])"),
         false, kEntry, 0, 0, 0},
        {"entry slot 64.5",
         v1("1", "1", R"([{"playerId":"h","slot":1},{"playerId":"g","slot":64.5}])"), false, kEntry,
         0, 0, 0},
        {"entry slot 64",
         v1("64", "1", R"([{"playerId":"h","slot":1},{"playerId":"g","slot":64}])"), true, "", 1,
         64, 2},
        {"entry slot 321",
         v1("1", "1", R"([{"playerId":"h","slot":1},{"playerId":"g","slot":321}])"), false, kEntry,
         0, 0, 0},
        {"entry not an object", v1("1", "1", R"([{"playerId":"h","slot":1},3])"), false, kEntry, 0,
         0, 0},
        {"entry id a number", v1("1", "1", R"([{"playerId":4,"slot":1}])"), false, kEntry, 0, 0, 0},
        {"entry slot missing", v1("1", "1", R"([{"playerId":"h"}])"), false, kEntry, 0, 0, 0},
        {"empty id", v1("1", "1", R"([{"playerId":"","slot":1}])"), false, kSlots, 0, 0, 0},
        {"duplicate id", v1("1", "1", R"([{"playerId":"h","slot":1},{"playerId":"h","slot":2}])"),
         false, kSlots, 0, 0, 0},
        {"duplicate slot", v1("1", "1", R"([{"playerId":"h","slot":1},{"playerId":"g","slot":1}])"),
         false, kSlots, 0, 0, 0},
        {"empty roster", v1("1", "1", "[]"), false, kSlots, 0, 0, 0},
        {"64 entries", v1("64", "1", roster_of(64)), true, "", 1, 64, 64},
        {"65 entries", v1("1", "1", roster_of(65)), false, kSlots, 0, 0, 0},
        {"nesting 20 deep is parsed",
         ack_with(",\"x\":" + std::string(19, '[') + std::string(19, ']')), true, "", 0, 0, 0},
        {"nesting 65 deep is refused",
         ack_with(",\"x\":" + std::string(64, '[') + std::string(64, ']')), false, kInvalid, 0, 0,
         0},
        {"brackets inside strings do not count",
         ack_with(",\"x\":\"" + std::string(500, '[') + "\\\"" + std::string(500, '{') + "\""),
         true, "", 0, 0, 0},
    };
    for (const auto& c : cases) {
        std::uint8_t version = 9;
        std::uint8_t player = 9;
        std::uint8_t host = 9;
        std::vector<SlotRosterEntry> roster;
        std::string error;
        const bool ok = parse_reliable_handshake_ack(c.text, version, player, host, roster, error);
        EXPECT_EQ(ok, c.ok) << c.name << ": " << error;
        if (c.ok) {
            EXPECT_EQ(version, c.version) << c.name;
            EXPECT_EQ(player, c.player_slot) << c.name;
            EXPECT_EQ(host, c.version == 1 ? 1 : 0) << c.name;
            EXPECT_EQ(roster.size(), c.roster_size) << c.name;
        } else {
            EXPECT_EQ(error, c.error) << c.name;
        }
    }
}

TEST(TcpAcknowledgement, RosterKeepsTheRelaysOrder) {
    std::uint8_t version = 0, player = 0, host = 0;
    std::vector<SlotRosterEntry> roster;
    std::string error;
    ASSERT_TRUE(parse_reliable_handshake_ack(
        v1("3", "1", R"([{"playerId":"c","slot":3},{"playerId":"a","slot":1}])"), version, player,
        host, roster, error));
    ASSERT_EQ(roster.size(), 2u);
    EXPECT_EQ(roster[0].player_id, "c");
    EXPECT_EQ(roster[0].slot, 3);
    EXPECT_EQ(roster[1].player_id, "a");
    EXPECT_EQ(roster[1].slot, 1);
}

TEST(TcpAcknowledgement, DeepNestingIsRefusedQuickly) {
    const std::string deep =
        ack_with(",\"x\":" + std::string(200000, '[') + std::string(200000, ']'));
    const auto started = std::chrono::steady_clock::now();
    std::uint8_t version = 0, player = 0, host = 0;
    std::vector<SlotRosterEntry> roster;
    std::string error;
    EXPECT_FALSE(parse_reliable_handshake_ack(deep, version, player, host, roster, error));
    EXPECT_EQ(error, kInvalid);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

TEST(TcpHandshake, CarriesTypeVersionTokenAndSupportedVersions) {
    std::string text;
    std::string error;
    ASSERT_TRUE(encode_reliable_handshake("tok-\xC3\xA9\"\\", text, error));
    EXPECT_NE(text.find('\n'), std::string::npos) << "printed with whitespace";
    google::protobuf::Struct parsed;
    ASSERT_TRUE(google::protobuf::util::JsonStringToMessage(text, &parsed).ok());
    const auto& fields = parsed.fields();
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields.at("type").string_value(), "reliable_handshake");
    EXPECT_EQ(fields.at("version").number_value(), 1.0);
    EXPECT_EQ(fields.at("token").string_value(), "tok-\xC3\xA9\"\\");
    const auto& versions = fields.at("supportedEnvelopeVersions").list_value().values();
    ASSERT_EQ(versions.size(), 1);
    EXPECT_EQ(versions[0].number_value(), 1.0);
}

TEST(TcpHandshake, ATokenThatIsNotUtf8IsRefusedInsteadOfSentEmpty) {
    for (const std::string token : {"\xFF", "ab\xC3", "\xED\xA0\x80", "\xC0\xAF"}) {
        std::string text = "untouched";
        std::string error;
        EXPECT_FALSE(encode_reliable_handshake(token, text, error));
        EXPECT_EQ(error, "TCP transport handshake could not be encoded");
        EXPECT_EQ(text, "untouched");
    }
}

}  // namespace
}  // namespace qop::network
