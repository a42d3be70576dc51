// The desktop session messages on the wire, checked against bytes written by
// hand: every field of every server message, the client messages the game
// sends, and the parser's treatment of unknown fields, oneofs and UTF-8.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "desktop_session.pb.h"
#include "support/message_fields.hpp"
#include "support/wire_hex.hpp"

namespace {

namespace proto = marzel::desktop::sdk::session;
using qop::test::set_fields;
using qop::test::to_hex;
using qop::test::wire_string;

struct DecodeCase {
    const char* wire;
    std::vector<std::string> fields;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
    *os << c.wire;
}

// One row per field: a wrong number, type or nesting in the schema shows up
// as a different path, an unknown field or a failed parse.
const DecodeCase kServerMessageCases[] = {
    {R"(0A 03 0A 01 "a")", {"attached.desktop_session_id=a"}},
    {R"(0A 03 12 01 "b")", {"attached.user_id=b"}},
    {R"(0A 03 1A 01 "c")", {"attached.account_id=c"}},
    {R"(0A 03 22 01 "d")", {"attached.login_state=d"}},
    {R"(0A 03 28 D2 09)", {"attached.app_id=1234"}},
    {R"(0A 06 28 FF FF FF FF 0F)", {"attached.app_id=4294967295"}},
    {R"(0A 04 32 02 08 01)", {"attached.capabilities.achievements=true"}},
    {R"(0A 04 32 02 18 01)", {"attached.capabilities.user_context=true"}},
    {R"(0A 04 32 02 20 01)", {"attached.capabilities.hosted_bootstrap=true"}},
    {R"(0A 04 32 02 30 01)", {"attached.capabilities.anti_addiction=true"}},
    {R"(0A 04 32 02 38 01)", {"attached.capabilities.lying_bottle=true"}},
    {R"(0A 04 32 02 40 01)", {"attached.capabilities.cloud_archive=true"}},
    {R"(0A 04 32 02 48 01)", {"attached.capabilities.leaderboard=true"}},
    {R"(0A 04 32 02 50 01)", {"attached.capabilities.share=true"}},
    {R"(0A 04 32 02 10 01)", {"attached.capabilities#unknown=2"}},
    {R"(0A 02 32 00)", {"attached.capabilities={}"}},
    {R"(0A 03 3A 01 "e")", {"attached.validated_executable_path=e"}},
    {R"(0A 03 42 01 "f")", {"attached.install_root=f"}},
    {R"(0A 03 4A 01 "g")", {"attached.message=g"}},
    {R"(0A 05 52 03 0A 01 "n")", {"attached.user_profile.nickname=n"}},
    {R"(0A 05 52 03 12 01 "t")", {"attached.user_profile.display_tag=t"}},
    {R"(0A 04 52 02 18 01)", {"attached.user_profile.avatar_available=true"}},
    {R"(0A 05 52 03 22 01 "v")", {"attached.user_profile.avatar_version=v"}},
    {R"(0A 03 5A 01 "h")", {"attached.channel_state=h"}},
    {R"(0A 03 62 01 "i")", {"attached.attach_state=i"}},
    {R"(0A 03 6A 01 "j")", {"attached.attach_source=j"}},
    {R"(0A 04 72 02 "{}")", {"attached.anti_addiction_status_json={}"}},
    {R"(0A 04 7A 02 "[]")", {"attached.anti_addiction_event_json=[]"}},
    {R"(0A 04 82 01 01 "1")", {"attached.desktop_protocol_version=1"}},
    {R"(0A 05 8A 01 02 "/s")", {"attached.qop_save_root=/s"}},
    {R"(12 03 0A 01 "r")", {"command_result.request_id=r"}},
    {R"(12 02 10 01)", {"command_result.success=true"}},
    {R"(12 04 1A 02 "OK")", {"command_result.code=OK"}},
    {R"(12 03 22 01 "m")", {"command_result.message=m"}},
    {R"(12 04 2A 02 "{}")", {"command_result.content_json={}"}},
    {R"(12 04 32 02 FF 00)", {"command_result.content_bytes=[FF 00]"}},
    {R"(1A 05 0A 03 "bye")", {"detached.reason=bye"}},
    {R"(1A 00)", {"detached={}"}},
    {R"(22 03 0A 01 "C")", {"error.code=C"}},
    {R"(22 03 12 01 "M")", {"error.message=M"}},
    {R"(22 03 1A 01 "K")", {"error.category=K"}},
    {R"(22 03 22 01 "S")", {"error.channel_state=S"}},
    {R"(22 03 2A 01 "A")", {"error.attach_state=A"}},
    {R"(2A 04 0A 02 "{}")", {"anti_addiction_changed.anti_addiction_status_json={}"}},
    {R"(2A 04 12 02 "[]")", {"anti_addiction_changed.anti_addiction_event_json=[]"}},
};

class ServerMessageDecode : public testing::TestWithParam<DecodeCase> {};

TEST_P(ServerMessageDecode, SetsExactlyTheFieldOnTheWire) {
    const std::string wire = wire_string(GetParam().wire);
    proto::DesktopSessionServerMessage message;
    ASSERT_TRUE(message.ParseFromString(wire)) << GetParam().wire;
    EXPECT_EQ(set_fields(message), GetParam().fields) << GetParam().wire;
}

INSTANTIATE_TEST_SUITE_P(EveryField, ServerMessageDecode, testing::ValuesIn(kServerMessageCases),
                         [](const testing::TestParamInfo<DecodeCase>& info) {
                             return qop::test::case_name(info.param.fields, info.index);
                         });

TEST(DesktopSessionWire, AttachRequestEncodesInFieldOrder) {
    proto::DesktopSessionClientMessage message;
    proto::DesktopSessionAttachRequest* attach = message.mutable_attach();
    attach->set_protocol_version("1");
    attach->set_sdk_version("0.1.7");
    attach->set_engine("godot");
    attach->set_engine_version("4.7.0");
    attach->set_app_id(1234);
    attach->set_executable_path("C:/g.exe");
    attach->set_process_id(42);
    EXPECT_EQ(to_hex(message.SerializeAsString()),
              to_hex(wire_string(R"(0A 27 0A 01 31 12 05 30 2E 31 2E 37 1A 05 67 6F 64 6F 74
                                    22 05 34 2E 37 2E 30 28 D2 09 32 08 43 3A 2F 67 2E 65 78
                                    65 38 2A)")));
}

TEST(DesktopSessionWire, CommandRequestEncodesEveryField) {
    proto::DesktopSessionClientMessage message;
    proto::DesktopSessionCommandRequest* command = message.mutable_command();
    command->set_request_id("0123456789abcdef0123456789abcdef");
    command->set_command(proto::DESKTOP_SESSION_COMMAND_TYPE_UNLOCK_ACHIEVEMENT);
    command->set_string_value("k");
    command->set_content_json("{}");
    command->set_content_bytes(std::string("\xFF\x00", 2));
    EXPECT_EQ(to_hex(message.SerializeAsString()),
              to_hex(wire_string(R"(12 2F 0A 20 "0123456789abcdef0123456789abcdef" 10 02
                                    1A 01 "k" 22 02 "{}" 2A 02 FF 00)")));
}

TEST(DesktopSessionWire, EmptyCommandValuesStayOffTheWire) {
    proto::DesktopSessionClientMessage message;
    message.mutable_command()->set_request_id("r");
    EXPECT_EQ(to_hex(message.SerializeAsString()), to_hex(wire_string(R"(12 03 0A 01 "r")")));
    message.mutable_command()->set_command(
        proto::DESKTOP_SESSION_COMMAND_TYPE_GET_DESKTOP_USER_PROFILE);
    EXPECT_EQ(to_hex(message.SerializeAsString()), to_hex(wire_string(R"(12 05 0A 01 "r" 10 16)")));
}

TEST(DesktopSessionWire, CommandNumbersOutsideTheEnumAreKept) {
    proto::DesktopSessionClientMessage message;
    ASSERT_TRUE(message.ParseFromString(wire_string(R"(12 05 0A 01 "r" 10 63)")));
    EXPECT_EQ(message.command().command(), 99);
    EXPECT_EQ(to_hex(message.SerializeAsString()), to_hex(wire_string(R"(12 05 0A 01 "r" 10 63)")));
}

TEST(DesktopSessionWire, SettingCommandDestroysAttach) {
    proto::DesktopSessionClientMessage message;
    message.mutable_attach()->set_protocol_version("1");
    message.mutable_command()->set_request_id("r");
    EXPECT_EQ(message.body_case(), proto::DesktopSessionClientMessage::kCommand);
    EXPECT_EQ(to_hex(message.SerializeAsString()), to_hex(wire_string(R"(12 03 0A 01 "r")")));
}

TEST(DesktopSessionWire, EnvelopeWithoutBodyIsEmpty) {
    proto::DesktopSessionClientMessage message;
    EXPECT_EQ(message.SerializeAsString(), "");
    proto::DesktopSessionServerMessage server;
    ASSERT_TRUE(server.ParseFromString(wire_string(R"(78 05)")));
    EXPECT_EQ(server.body_case(), proto::DesktopSessionServerMessage::BODY_NOT_SET);
}

TEST(DesktopSessionWire, LastBodyMemberOnTheWireWins) {
    proto::DesktopSessionServerMessage message;
    ASSERT_TRUE(message.ParseFromString(wire_string(R"(0A 03 0A 01 "a" 22 03 0A 01 "C")")));
    EXPECT_EQ(set_fields(message), std::vector<std::string>{"error.code=C"});
    ASSERT_TRUE(message.ParseFromString(wire_string(R"(22 03 0A 01 "C" 0A 03 0A 01 "a")")));
    EXPECT_EQ(set_fields(message), std::vector<std::string>{"attached.desktop_session_id=a"});
}

TEST(DesktopSessionWire, SameBodyMemberTwiceMerges) {
    proto::DesktopSessionServerMessage message;
    ASSERT_TRUE(message.ParseFromString(wire_string(R"(22 03 0A 01 "C" 22 03 12 01 "M")")));
    EXPECT_EQ(set_fields(message), (std::vector<std::string>{"error.code=C", "error.message=M"}));
}

TEST(DesktopSessionWire, UnknownAndReservedFieldsFollowKnownOnesWhenReserialized) {
    // Field 99 (varint) first, then the reserved capability number 2, then a
    // known field: the known one is written first on the way out.
    proto::DesktopSessionCapabilitySet set;
    ASSERT_TRUE(set.ParseFromString(wire_string(R"(98 06 07 10 01 08 01)")));
    EXPECT_TRUE(set.achievements());
    EXPECT_EQ(set_fields(set),
              (std::vector<std::string>{"achievements=true", "#unknown=99", "#unknown=2"}));
    EXPECT_EQ(to_hex(set.SerializeAsString()), to_hex(wire_string(R"(08 01 98 06 07 10 01)")));
}

TEST(DesktopSessionWire, ParsingClearsThePreviousContent) {
    proto::DesktopSessionServerMessage message;
    ASSERT_TRUE(message.ParseFromString(wire_string(R"(0A 03 0A 01 "a" F8 07 01)")));
    ASSERT_TRUE(message.ParseFromString(wire_string(R"(1A 00)")));
    EXPECT_EQ(set_fields(message), std::vector<std::string>{"detached={}"});
}

struct Utf8Case {
    const char* name;
    const char* wire;
    bool parses;
};

const Utf8Case kUtf8Cases[] = {
    {"bytes field takes any octets", R"(12 04 32 02 C3 28)", true},
    {"string field rejects a broken sequence", R"(12 04 2A 02 C3 28)", false},
    {"string field rejects a lone continuation byte", R"(12 03 22 01 80)", false},
    {"string field rejects an overlong encoding", R"(12 04 22 02 C0 AF)", false},
    {"string field rejects a surrogate", R"(12 05 22 03 ED A0 80)", false},
    {"string field takes valid multibyte text", R"(12 05 22 03 E2 82 AC)", true},
    {"nested profile string is checked too", R"(0A 05 52 03 0A 01 FF)", false},
    {"reason of a detach is checked", R"(1A 03 0A 01 FE)", false},
};

TEST(DesktopSessionWire, StringsAreStrictUtf8AndBytesAreNot) {
    for (const Utf8Case& c : kUtf8Cases) {
        proto::DesktopSessionServerMessage message;
        EXPECT_EQ(message.ParseFromString(wire_string(c.wire)), c.parses) << c.name;
    }
}

TEST(DesktopSessionWire, InvalidUtf8IsStillWrittenWhenSerializing) {
    proto::DesktopSessionClientMessage message;
    message.mutable_command()->set_content_json(std::string("\xFF", 1));
    EXPECT_EQ(to_hex(message.SerializeAsString()), to_hex(wire_string(R"(12 03 22 01 FF)")));
}

}  // namespace
