// The hosted room session messages on the wire, against hand-written bytes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dovral_host_session.pb.h"
#include "support/message_fields.hpp"
#include "support/wire_hex.hpp"

namespace {

namespace proto = marzel::desktop::hostbridge::session;
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

const DecodeCase kServerMessageCases[] = {
    {R"(0A 03 0A 01 "r")", {"attached.room_id=r"}},
    {R"(0A 03 12 01 "p")", {"attached.player_id=p"}},
    {R"(12 03 0A 01 "c")", {"room_snapshot.connection_status=c"}},
    {R"(12 02 12 00)", {"room_snapshot.room={}"}},
    {R"(12 05 12 03 0A 01 "i")", {"room_snapshot.room.id=i"}},
    {R"(12 05 12 03 12 01 "k")", {"room_snapshot.room.code=k"}},
    {R"(12 05 12 03 1A 01 "n")", {"room_snapshot.room.name=n"}},
    {R"(12 05 12 03 22 01 "g")", {"room_snapshot.room.game_id=g"}},
    {R"(12 05 12 03 2A 01 "s")", {"room_snapshot.room.status=s"}},
    {R"(12 05 12 03 32 01 "h")", {"room_snapshot.room.host_id=h"}},
    {R"(12 04 12 02 38 08)", {"room_snapshot.room.max_players=8"}},
    {R"(12 0C 12 0A 42 03 0A 01 "a" 42 03 0A 01 "b")",
     {"room_snapshot.room.players[0].id=a", "room_snapshot.room.players[1].id=b"}},
    {R"(12 07 12 05 42 03 12 01 "n")", {"room_snapshot.room.players[0].name=n"}},
    {R"(12 06 12 04 42 02 18 00)", {"room_snapshot.room.players[0].is_ready=false"}},
    {R"(12 06 12 04 42 02 18 01)", {"room_snapshot.room.players[0].is_ready=true"}},
    {R"(12 07 12 05 42 03 22 01 "t")", {"room_snapshot.room.players[0].team_id=t"}},
    {R"(12 06 12 04 42 02 28 00)", {"room_snapshot.room.players[0].is_bot=false"}},
    {R"(12 07 12 05 4A 03 0A 01 "a")", {"room_snapshot.room.teams[0].id=a"}},
    {R"(12 07 12 05 4A 03 12 01 "n")", {"room_snapshot.room.teams[0].name=n"}},
    {R"(12 07 12 05 4A 03 1A 01 "c")", {"room_snapshot.room.teams[0].color=c"}},
    {R"(12 06 12 04 4A 02 20 04)", {"room_snapshot.room.teams[0].max_players=4"}},
    {R"(12 06 12 04 4A 02 28 02)", {"room_snapshot.room.teams[0].player_count=2"}},
    {R"(12 05 12 03 52 01 "m")", {"room_snapshot.room.map_public_id=m"}},
    {R"(12 04 12 02 58 07)", {"room_snapshot.room.map_version_id=7"}},
    {R"(12 05 1A 03 0A 01 "i")", {"room_snapshot.current_player.id=i"}},
    {R"(1A 03 0A 01 "r")", {"command_result.request_id=r"}},
    {R"(1A 02 10 01)", {"command_result.success=true"}},
    {R"(1A 03 1A 01 "m")", {"command_result.message=m"}},
    {R"(1A 04 22 02 "{}")", {"command_result.content_json={}"}},
    {R"(22 03 0A 01 "x")", {"#unknown=4"}},
    {R"(2A 02 08 01)", {"room_event.event_type=1"}},
    {R"(2A 02 08 09)", {"room_event.event_type=9"}},
    {R"(2A 03 12 01 "r")", {"room_event.room_id=r"}},
    {R"(2A 05 1A 03 0A 01 "p")", {"room_event.player.id=p"}},
    {R"(2A 03 22 01 "a")", {"room_event.previous_host_id=a"}},
    {R"(2A 03 2A 01 "b")", {"room_event.current_host_id=b"}},
    {R"(2A 03 32 01 "c")", {"room_event.previous_status=c"}},
    {R"(2A 03 3A 01 "d")", {"room_event.current_status=d"}},
    {R"(32 03 0A 01 "x")", {"detached.reason=x"}},
    {R"(3A 03 0A 01 "C")", {"error.code=C"}},
    {R"(3A 03 12 01 "M")", {"error.message=M"}},
    {R"(42 03 0A 01 "r")", {"data_plane.request_id=r"}},
    {R"(42 02 10 01)", {"data_plane.success=true"}},
    {R"(42 03 1A 01 "m")", {"data_plane.message=m"}},
    {R"(42 02 22 00)", {"data_plane.descriptor={}"}},
    {R"(42 04 22 02 08 01)", {"data_plane.descriptor.mode=1"}},
    {R"(42 05 22 03 12 01 "h")", {"data_plane.descriptor.host=h"}},
    {R"(42 05 22 03 18 B9 60)", {"data_plane.descriptor.port=12345"}},
    {R"(42 05 22 03 22 01 "t")", {"data_plane.descriptor.token=t"}},
    {R"(42 08 22 06 28 80 80 80 80 10)", {"data_plane.descriptor.expires_at_unix_ms=4294967296"}},
    {R"(42 04 22 02 30 01)", {"data_plane.descriptor.reliable_message_max_bytes=1"}},
    {R"(42 04 22 02 38 02)", {"data_plane.descriptor.reliable_chunk_max_bytes=2"}},
    {R"(42 04 22 02 40 03)", {"data_plane.descriptor.kcp_data_plane_payload_max_bytes=3"}},
    {R"(42 04 22 02 48 04)", {"data_plane.descriptor.kcp_frame_max_bytes=4"}},
    {R"(42 05 22 03 52 01 "u")", {"data_plane.descriptor.unreliable_udp_host=u"}},
    {R"(42 04 22 02 58 05)", {"data_plane.descriptor.unreliable_udp_port=5"}},
    {R"(42 05 22 03 62 01 "v")", {"data_plane.descriptor.unreliable_udp_token=v"}},
    {R"(42 08 22 06 68 80 80 80 80 20)",
     {"data_plane.descriptor.unreliable_udp_expires_at_unix_ms=8589934592"}},
    {R"(42 04 22 02 70 06)", {"data_plane.descriptor.unreliable_udp_payload_max_bytes=6"}},
    {R"(42 06 22 04 7A 02 "{}")", {"data_plane.descriptor.sdk_descriptor_json={}"}},
    {R"(42 04 22 02 7A 00)", {"data_plane.descriptor.sdk_descriptor_json="}},
};

class SessionServerMessageDecode : public testing::TestWithParam<DecodeCase> {};

TEST_P(SessionServerMessageDecode, SetsExactlyTheFieldOnTheWire) {
    proto::SessionServerMessage message;
    ASSERT_TRUE(message.ParseFromString(wire_string(GetParam().wire))) << GetParam().wire;
    EXPECT_EQ(set_fields(message), GetParam().fields) << GetParam().wire;
}

INSTANTIATE_TEST_SUITE_P(EveryField, SessionServerMessageDecode,
                         testing::ValuesIn(kServerMessageCases),
                         [](const testing::TestParamInfo<DecodeCase>& info) {
                             return qop::test::case_name(info.param.fields, info.index);
                         });

TEST(HostSessionWire, AttachAsTheLibrarySendsIt) {
    proto::SessionClientMessage message;
    proto::SessionAttachRequest* attach = message.mutable_attach();
    attach->set_secret("sec");
    attach->set_room_id("r");
    attach->set_player_id("p");
    EXPECT_EQ(to_hex(message.SerializeAsString()),
              to_hex(wire_string(R"(0A 0B 0A 03 "sec" 12 01 "r" 1A 01 "p")")));
}

TEST(HostSessionWire, EmptyAttachIsStillWritten) {
    proto::SessionClientMessage message;
    message.mutable_attach();
    EXPECT_EQ(to_hex(message.SerializeAsString()), "0A 00");
}

TEST(HostSessionWire, DataPlaneRequestIsTwentyTwoBytes) {
    proto::SessionClientMessage message;
    proto::SessionCommandRequest* command = message.mutable_command();
    command->set_request_id("godot-data-plane");
    command->set_command(proto::SESSION_COMMAND_TYPE_REQUEST_DATA_PLANE);
    const std::string wire = message.SerializeAsString();
    EXPECT_EQ(wire.size(), 22u);
    EXPECT_EQ(to_hex(wire), to_hex(wire_string(R"(12 14 0A 10 "godot-data-plane" 10 07)")));
}

TEST(HostSessionWire, OptionalFieldsAreWrittenWhenSetToTheirDefault) {
    proto::SessionClientMessage message;
    proto::SessionCommandRequest* command = message.mutable_command();
    command->set_request_id("r");
    command->set_bool_value(false);
    command->set_string_value("");
    command->set_content_json("");
    EXPECT_EQ(to_hex(message.SerializeAsString()),
              to_hex(wire_string(R"(12 09 0A 01 "r" 18 00 22 00 3A 00)")));
    command->clear_string_value();
    EXPECT_FALSE(command->has_string_value());
    EXPECT_EQ(to_hex(message.SerializeAsString()),
              to_hex(wire_string(R"(12 07 0A 01 "r" 18 00 3A 00)")));
}

TEST(HostSessionWire, ReadyFlagAbsentAndFalseDiffer) {
    proto::PlayerSnapshot player;
    EXPECT_EQ(player.SerializeAsString(), "");
    player.set_is_ready(false);
    EXPECT_EQ(to_hex(player.SerializeAsString()), "18 00");

    proto::PlayerSnapshot parsed;
    ASSERT_TRUE(parsed.ParseFromString(wire_string("18 00")));
    EXPECT_TRUE(parsed.has_is_ready());
    EXPECT_FALSE(parsed.is_ready());
    EXPECT_FALSE(parsed.has_is_bot());
}

TEST(HostSessionWire, DescriptorIsReadThroughTheRenamedAccessor) {
    proto::SessionServerMessage message;
    ASSERT_TRUE(message.ParseFromString(
        wire_string(R"(42 1A 0A 10 "godot-data-plane" 10 01 22 04 7A 02 "{}")")));
    ASSERT_EQ(message.body_case(), proto::SessionServerMessage::kDataPlane);
    const proto::SessionDataPlaneResponse& reply = message.data_plane();
    EXPECT_EQ(reply.request_id(), "godot-data-plane");
    EXPECT_TRUE(reply.success());
    ASSERT_TRUE(reply.has_descriptor());
    EXPECT_TRUE(reply.data_plane_descriptor().has_sdk_descriptor_json());
    EXPECT_EQ(reply.data_plane_descriptor().sdk_descriptor_json(), "{}");
}

TEST(HostSessionWire, LastBodyMemberOnTheWireWins) {
    proto::SessionServerMessage message;
    ASSERT_TRUE(message.ParseFromString(wire_string(R"(12 03 0A 01 "c" 32 03 0A 01 "x")")));
    EXPECT_EQ(set_fields(message), std::vector<std::string>{"detached.reason=x"});
}

TEST(HostSessionWire, ReservedFieldsAreKeptAfterKnownFields) {
    proto::SessionCommandRequest command;
    ASSERT_TRUE(command.ParseFromString(wire_string(R"(28 01 0A 01 "r" 32 01 "x" 10 07)")));
    EXPECT_EQ(set_fields(command),
              (std::vector<std::string>{"request_id=r", "command=7", "#unknown=5", "#unknown=6"}));
    EXPECT_EQ(to_hex(command.SerializeAsString()),
              to_hex(wire_string(R"(0A 01 "r" 10 07 28 01 32 01 "x")")));

    proto::SessionServerMessage message;
    ASSERT_TRUE(message.ParseFromString(wire_string(R"(22 01 "x" 32 00)")));
    EXPECT_EQ(message.body_case(), proto::SessionServerMessage::kDetached);
    EXPECT_EQ(to_hex(message.SerializeAsString()), to_hex(wire_string(R"(32 00 22 01 "x")")));
}

TEST(HostSessionWire, InvalidUtf8AtAnyDepthFailsTheParse) {
    const char* const kBroken[] = {
        R"(0A 03 0A 01 FF)",
        R"(12 07 12 05 42 03 12 01 C3)",
        R"(2A 05 1A 03 0A 01 80)",
        R"(42 05 22 03 7A 01 FE)",
    };
    for (const char* wire : kBroken) {
        proto::SessionServerMessage message;
        EXPECT_FALSE(message.ParseFromString(wire_string(wire))) << wire;
    }
}

}  // namespace
