#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hosted_session_fixture.hpp"

namespace qop::test {
namespace {

using namespace std::chrono_literals;
using network::HostedBootstrapContext;

constexpr int kJoined = 1;

TEST_F(HostedSessionFixture, RedeemsAttachesAndRequestsTheDataPlane) {
    const std::string json = wire::descriptor_json();
    script_bootstrap();
    room->reply_after_frame(1, wire::framed(wire::snapshot("p-9", {{"p-9", "Old host"}})) +
                                   wire::framed(wire::attached()));
    // A later snapshot during the data-plane wait replaces host and roster.
    room->reply_after_frame(
        2, wire::framed(wire::snapshot("p-2", {{"p-1", "Me"}, {"p-2", "Host"}, {"p-3", ""}})) +
               wire::framed(wire::data_plane("godot-data-plane", true, "", &json)));

    ASSERT_TRUE(connect()) << error;

    EXPECT_EQ(boot->written(), wire::bytes({0x19, 0, 0, 0, 0x0A, 0x17, 0x0A, 0x08}) + "ticket-1" +
                                   wire::bytes({0x12, 0x0B}) + "boot-secret");
    EXPECT_EQ(room->written(), wire::bytes({0x19, 0, 0, 0, 0x0A, 0x17, 0x0A, 0x0B}) +
                                   "room-secret" + wire::bytes({0x12, 0x03}) + "r-1" +
                                   wire::bytes({0x1A, 0x03}) + "p-1" +
                                   wire::bytes({0x16, 0, 0, 0, 0x12, 0x14, 0x0A, 0x10}) +
                                   "godot-data-plane" + wire::bytes({0x10, 0x07}));

    EXPECT_EQ(context.room_id, "r-1");
    EXPECT_EQ(context.player_id, "p-1");
    EXPECT_EQ(context.host_id, "p-2");
    ASSERT_EQ(context.players.size(), 3u);
    EXPECT_EQ(context.players[0].id, "p-1");
    EXPECT_EQ(context.players[0].name, "Me");
    EXPECT_EQ(context.players[1].id, "p-2");
    EXPECT_EQ(context.players[2].name, "");
    EXPECT_EQ(context.tcp_host, "relay.example.invalid");
    EXPECT_EQ(context.tcp_port, 9000);
    EXPECT_EQ(context.token, "tok-123");
    EXPECT_EQ(context.udp_token, "tok-123");
    EXPECT_EQ(context.udp_port, 9001);
    EXPECT_EQ(context.expires_at_unix_seconds, 1900000000);

    EXPECT_TRUE(boot->client_closed());
    EXPECT_FALSE(room->client_closed());
    EXPECT_EQ(network.open_attempts(), (std::vector<std::string>{kBootPath, kRoomPath}));

    pipe->close();
    EXPECT_TRUE(room->client_closed());
}

TEST_F(HostedSessionFixture, ConnectsWhenEveryByteArrivesOnItsOwn) {
    script_success();
    boot->trickle(1);
    room->trickle(1);
    ASSERT_TRUE(connect()) << error;
    EXPECT_EQ(context.host_id, "p-9");
}

TEST_F(HostedSessionFixture, WritesWholeFramesThroughShortWrites) {
    script_success();
    boot->limit_write_size(3);
    room->limit_write_size(1);
    ASSERT_TRUE(connect()) << error;
    EXPECT_EQ(room->frames_written().size(), 2u);
}

TEST_F(HostedSessionFixture, AcceptsAFrameOfExactlyOneMebibyte) {
    // A valid response padded with an unknown field (number 20) to 1,048,576 bytes.
    std::string payload =
        wire::redeemed("r-1", "p-1", kRoomPath, "room-secret").SerializeAsString();
    const std::size_t padding = 1048576 - payload.size() - 2 - 3;
    payload += wire::bytes({0xA2, 0x01});
    payload += wire::bytes({static_cast<int>(0x80 | (padding & 0x7F)),
                            static_cast<int>(0x80 | ((padding >> 7) & 0x7F)),
                            static_cast<int>(padding >> 14)});
    payload += std::string(padding, 'x');
    ASSERT_EQ(payload.size(), 1048576u);
    const std::string json = wire::descriptor_json();
    boot->reply_after_frame(1, wire::frame(payload));
    script_room(wire::data_plane("godot-data-plane", true, "", &json));

    EXPECT_TRUE(connect()) << error;
}

struct FrameLengthCase {
    const char* name;
    std::uint32_t length;
};

void PrintTo(const FrameLengthCase& c, std::ostream* os) {
    *os << c.name;
}

class InvalidFrameLength : public HostedSessionFixture,
                           public ::testing::WithParamInterface<FrameLengthCase> {};

TEST_P(InvalidFrameLength, EndsTheConnect) {
    boot->reply_after_frame(1, wire::length_prefix(GetParam().length) + std::string(64, 'x'));
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, "Hosted session returned an invalid frame length");
    EXPECT_TRUE(boot->client_closed());
}

INSTANTIATE_TEST_SUITE_P(Lengths, InvalidFrameLength,
                         ::testing::Values(FrameLengthCase{"Zero", 0},
                                           FrameLengthCase{"OneOverTheLimit", 1048577},
                                           FrameLengthCase{"Largest", 0xFFFFFFFFu}),
                         [](const auto& info) { return std::string(info.param.name); });

struct IncompleteContextCase {
    const char* name;
    HostedBootstrapContext context;
};

void PrintTo(const IncompleteContextCase& c, std::ostream* os) {
    *os << c.name;
}

class IncompleteContext : public HostedSessionFixture,
                          public ::testing::WithParamInterface<IncompleteContextCase> {};

TEST_P(IncompleteContext, IsRefusedBeforeAnyPipeIsOpened) {
    EXPECT_FALSE(pipe->connect(GetParam().context, context, error));
    EXPECT_EQ(error, "Hosted bootstrap context is incomplete");
    EXPECT_TRUE(network.open_attempts().empty());
}

INSTANTIATE_TEST_SUITE_P(Fields, IncompleteContext,
                         ::testing::Values(IncompleteContextCase{"NoTicket", {"", "qop-boot", "s"}},
                                           IncompleteContextCase{"NoEndpoint", {"t", "", "s"}},
                                           IncompleteContextCase{"NoSecret",
                                                                 {"t", "qop-boot", ""}}),
                         [](const auto& info) { return std::string(info.param.name); });

struct BootstrapReplyCase {
    const char* name;
    std::string frame;
    const char* error;
};

void PrintTo(const BootstrapReplyCase& c, std::ostream* os) {
    *os << c.name;
}

class BootstrapReply : public HostedSessionFixture,
                       public ::testing::WithParamInterface<BootstrapReplyCase> {};

TEST_P(BootstrapReply, FailsWithItsText) {
    boot->reply_after_frame(1, GetParam().frame);
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, GetParam().error);
    EXPECT_TRUE(boot->client_closed());
    EXPECT_EQ(network.open_attempts().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, BootstrapReply,
    ::testing::Values(
        BootstrapReplyCase{"Error",
                           wire::framed(wire::bootstrap_error("TICKET_EXPIRED", "Ticket expired")),
                           "TICKET_EXPIRED: Ticket expired"},
        BootstrapReplyCase{"ErrorWithEmptyTexts", wire::framed(wire::bootstrap_error("", "")),
                           ": "},
        BootstrapReplyCase{
            "RedeemThenError",
            wire::frame(wire::redeemed("r", "p", "e", "s").SerializeAsString() +
                        wire::bootstrap_error("LATE", "error wins").SerializeAsString()),
            "LATE: error wins"},
        BootstrapReplyCase{"Undecodable", wire::frame(wire::bytes({0x0A, 0x05, 0x01})),
                           "Hosted bootstrap response could not be decoded"},
        BootstrapReplyCase{"InvalidUtf8",
                           wire::frame(wire::bytes({0x12, 0x04, 0x0A, 0x02, 0xC3, 0x28})),
                           "Hosted bootstrap response could not be decoded"},
        BootstrapReplyCase{"NoBody", wire::frame(wire::bytes({0x1A, 0x01, 0x41})),
                           "Hosted bootstrap response is incomplete"},
        BootstrapReplyCase{"NoRoomId", wire::framed(wire::redeemed("", "p", "e", "s")),
                           "Hosted bootstrap response is incomplete"},
        BootstrapReplyCase{"NoPlayerId", wire::framed(wire::redeemed("r", "", "e", "s")),
                           "Hosted bootstrap response is incomplete"},
        BootstrapReplyCase{"NoSessionEndpoint", wire::framed(wire::redeemed("r", "p", "", "s")),
                           "Hosted bootstrap response is incomplete"},
        BootstrapReplyCase{"NoSessionSecret", wire::framed(wire::redeemed("r", "p", "e", "")),
                           "Hosted bootstrap response is incomplete"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostedSessionFixture, BootstrapServerThatHangsUpFailsTheRead) {
    boot->reply_after_frame(1, wire::bytes({0x10, 0, 0, 0, 0x0A}));  // half a frame
    boot->hang_up_after_frame(1);
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, "Hosted session pipe closed while reading");
}

TEST_F(HostedSessionFixture, BootstrapWriteFailureIsReported) {
    boot->fail_writes();
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, "Hosted session pipe write failed");
    EXPECT_TRUE(boot->client_closed());
}

TEST_F(HostedSessionFixture, SilentBootstrapServerTimesOutAfterTenSeconds) {
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, "Hosted bootstrap response timed out");
    EXPECT_GE(clock->elapsed(), 10s);
    EXPECT_LT(clock->elapsed(), 10s + 100ms);
    EXPECT_TRUE(boot->client_closed());
}

struct AttachCase {
    const char* name;
    std::string replies;
    const char* error;
};

void PrintTo(const AttachCase& c, std::ostream* os) {
    *os << c.name;
}

class AttachReply : public HostedSessionFixture,
                    public ::testing::WithParamInterface<AttachCase> {};

TEST_P(AttachReply, FailsTheConnectAndClosesTheRoomPipe) {
    script_bootstrap();
    room->reply_after_frame(1, GetParam().replies);
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, GetParam().error);
    EXPECT_TRUE(room->client_closed());
    EXPECT_EQ(room->frames_written().size(), 1u);  // no data-plane request
}

INSTANTIATE_TEST_SUITE_P(
    Replies, AttachReply,
    ::testing::Values(
        AttachCase{"Silent", "", "Hosted session attach timed out"},
        AttachCase{"AttachedWithoutSnapshot", wire::framed(wire::attached()),
                   "Hosted session attach timed out"},
        AttachCase{"SnapshotWithoutAttached", wire::framed(wire::snapshot("h", {{"h", "H"}})),
                   "Hosted session attach timed out"},
        AttachCase{"OthersIgnored",
                   wire::framed(wire::room_event(kJoined, "p-5", "Five")) +
                       wire::framed(wire::data_plane("godot-data-plane", true, "", nullptr)) +
                       wire::framed(wire::attached()),
                   "Hosted session attach timed out"},
        AttachCase{"Detached", wire::framed(wire::detached("Room closed")), "Room closed"},
        AttachCase{"DetachedWithoutReason", wire::framed(wire::detached("")), ""},
        AttachCase{"Error", wire::framed(wire::session_error("ATTACH_DENIED", "Bad secret")),
                   "ATTACH_DENIED: Bad secret"},
        AttachCase{"Undecodable", wire::frame(wire::bytes({0xFF, 0xFF})),
                   "Hosted session message could not be decoded"},
        AttachCase{"InvalidLength", wire::length_prefix(0),
                   "Hosted session returned an invalid frame length"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostedSessionFixture, AttachWaitEndsAtItsDeadline) {
    script_bootstrap();
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, "Hosted session attach timed out");
    EXPECT_GE(clock->elapsed(), 10s);
    EXPECT_LT(clock->elapsed(), 10s + 100ms);
}

TEST_F(HostedSessionFixture, WaitsEndAtTheirDeadlinesWhileUnusedFramesKeepComing) {
    struct Case {
        const char* name;
        std::string attach_replies;
        const char* error;
    };
    const Case cases[] = {
        {"attach", wire::framed(wire::attached()), "Hosted session attach timed out"},
        {"data_plane",
         wire::framed(wire::snapshot("h", {{"h", "H"}})) + wire::framed(wire::attached()),
         "Data plane request timed out"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clock = std::make_shared<ManualMonotonicClock>();
        ScriptedPipeNetwork chatty_network{clock};
        auto chatty_boot = std::make_shared<ScriptedPipeServer>(clock);
        auto chatty_room = std::make_shared<ScriptedPipeServer>(clock);
        chatty_network.add(kBootPath, chatty_boot);
        chatty_network.add(kRoomPath, chatty_room);
        chatty_boot->reply_after_frame(
            1, wire::framed(wire::redeemed("r-1", "p-1", kRoomPath, "room-secret")));
        chatty_room->reply_after_frame(1, c.attach_replies);
        // Room events, which neither wait uses, arrive without pause: far more
        // of them than fit in ten seconds of reading.
        chatty_room->resend_after_every_read(wire::framed(wire::room_event(kJoined, "p-5", "F")),
                                             100000);
        chatty_room->charge_each_read(1ms);
        network::HostedSessionPipe chatty(chatty_network.connector(), clock);
        EXPECT_FALSE(chatty.connect(bootstrap_context(), context, error));
        EXPECT_EQ(error, c.error);
        EXPECT_GE(clock->elapsed(), 10s);
        EXPECT_LT(clock->elapsed(), 10s + 100ms);
        EXPECT_TRUE(chatty_room->client_closed());
    }
}

TEST_F(HostedSessionFixture, SnapshotWithoutRoomCountsButChangesNothing) {
    const std::string json = wire::descriptor_json();
    script_bootstrap();
    room->reply_after_frame(1, wire::framed(wire::snapshot("h-1", {{"h-1", "Host"}})) +
                                   wire::framed(wire::snapshot_without_room()) +
                                   wire::framed(wire::attached()));
    room->reply_after_frame(
        2, wire::framed(wire::snapshot_without_room()) +
               wire::framed(wire::data_plane("godot-data-plane", true, "", &json)));
    ASSERT_TRUE(connect()) << error;
    EXPECT_EQ(context.host_id, "h-1");
    ASSERT_EQ(context.players.size(), 1u);
}

struct DataPlaneCase {
    const char* name;
    std::string replies;
    const char* error;
};

void PrintTo(const DataPlaneCase& c, std::ostream* os) {
    *os << c.name;
}

class DataPlaneReply : public HostedSessionFixture,
                       public ::testing::WithParamInterface<DataPlaneCase> {};

TEST_P(DataPlaneReply, FailsTheConnectAndClosesTheRoomPipe) {
    script_bootstrap();
    script_attach();
    room->reply_after_frame(2, GetParam().replies);
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, GetParam().error);
    EXPECT_TRUE(room->client_closed());
}

const std::string kValidJson = wire::descriptor_json();
const std::string kEmptyJson;
const std::string kBadJson = R"({"version":2})";

INSTANTIATE_TEST_SUITE_P(
    Replies, DataPlaneReply,
    ::testing::Values(
        DataPlaneCase{"Silent", "", "Data plane request timed out"},
        DataPlaneCase{"OtherRequestId",
                      wire::framed(wire::data_plane("godot-data-planE", true, "", &kValidJson)),
                      "Data plane request timed out"},
        DataPlaneCase{"DetachedIsIgnored", wire::framed(wire::detached("gone")),
                      "Data plane request timed out"},
        DataPlaneCase{"UndecodableIsSkipped", wire::frame(wire::bytes({0xFF})),
                      "Data plane request timed out"},
        DataPlaneCase{"Error", wire::framed(wire::session_error("NO_RELAY", "No relay")),
                      "NO_RELAY: No relay"},
        DataPlaneCase{
            "FailedWithMessage",
            wire::framed(wire::data_plane("godot-data-plane", false, "Relay full", &kValidJson)),
            "Relay full"},
        DataPlaneCase{"FailedWithoutMessage",
                      wire::framed(wire::data_plane("godot-data-plane", false, "", &kValidJson)),
                      "Data plane request failed"},
        DataPlaneCase{"SuccessWithoutDescriptor",
                      wire::framed(wire::data_plane("godot-data-plane", true, "", nullptr)),
                      "Data plane request failed"},
        DataPlaneCase{"DescriptorWithoutJson",
                      wire::frame(wire::bytes({0x42, 0x16, 0x0A, 0x10}) + "godot-data-plane" +
                                  wire::bytes({0x10, 0x01, 0x22, 0x00})),
                      "DATA_PLANE_DESCRIPTOR_UNAVAILABLE"},
        DataPlaneCase{"EmptyJson",
                      wire::framed(wire::data_plane("godot-data-plane", true, "", &kEmptyJson)),
                      "DATA_PLANE_DESCRIPTOR_UNAVAILABLE"},
        DataPlaneCase{"BadDescriptor",
                      wire::framed(wire::data_plane("godot-data-plane", true, "", &kBadJson)),
                      "UNSUPPORTED_DATA_PLANE_DESCRIPTOR_VERSION"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostedSessionFixture, DataPlaneWaitEndsAtItsDeadline) {
    script_bootstrap();
    script_room(wire::detached("ignored"));
    const auto before_wait = clock->elapsed();
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, "Data plane request timed out");
    EXPECT_GE(clock->elapsed() - before_wait, 10s);
    EXPECT_LT(clock->elapsed() - before_wait, 10s + 100ms);
}

TEST_F(HostedSessionFixture, DescriptorFailureLeavesNoIdentityBehind) {
    const std::string json = R"({"version":1})";
    script_bootstrap();
    script_room(wire::data_plane("godot-data-plane", true, "", &json));
    context.room_id = "stale";
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, "INVALID_DATA_PLANE_DESCRIPTOR");
}

struct PipeNameCase {
    const char* name;
    std::string endpoint;
    std::vector<std::string> attempts;
};

void PrintTo(const PipeNameCase& c, std::ostream* os) {
    *os << c.name;
}

class BootstrapPipeName : public HostedSessionFixture,
                          public ::testing::WithParamInterface<PipeNameCase> {};

TEST_P(BootstrapPipeName, OpensTheExpectedPath) {
    EXPECT_FALSE(pipe->connect({"t", GetParam().endpoint, "s"}, context, error));
    EXPECT_EQ(error, "Hosted session pipe could not be connected");
    EXPECT_EQ(network.open_attempts(), GetParam().attempts);
}

INSTANTIATE_TEST_SUITE_P(
    Names, BootstrapPipeName,
    ::testing::Values(
        PipeNameCase{"BareNameGetsThePrefix", "missing", {"\\\\.\\pipe\\missing"}},
        PipeNameCase{"PrefixedNameIsKept", "\\\\.\\pipe\\missing", {"\\\\.\\pipe\\missing"}},
        PipeNameCase{
            "PrefixIsCaseSensitive", "\\\\.\\PIPE\\missing", {"\\\\.\\pipe\\\\\\.\\PIPE\\missing"}},
        PipeNameCase{"NulIsRefused", std::string("qop-boot\0x", 10), {}},
        PipeNameCase{"InvalidUtf8IsRefused", "qop-\xC3\x28", {}},
        PipeNameCase{"OverlongUtf8IsRefused", "qop-\xC0\xAF", {}},
        PipeNameCase{"SurrogateIsRefused", "qop-\xED\xA0\x80", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostedSessionFixture, NonAsciiPipeNameIsUsed) {
    EXPECT_FALSE(pipe->connect({"t", "qop-\xC3\xA9t\xC3\xA9", "s"}, context, error));
    EXPECT_EQ(network.open_attempts(),
              (std::vector<std::string>{"\\\\.\\pipe\\qop-\xC3\xA9t\xC3\xA9"}));
}

TEST_F(HostedSessionFixture, SessionEndpointWithInvalidUtf8NeverReachesAnOpen) {
    std::string payload = wire::redeemed("r", "p", "placeholder", "s").SerializeAsString();
    payload.replace(payload.find("placeholder"), 11, "qop-\xFFroom-x");
    boot->reply_after_frame(1, wire::frame(payload));
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, "Hosted bootstrap response could not be decoded");
    EXPECT_EQ(network.open_attempts().size(), 1u);
}

TEST_F(HostedSessionFixture, BusyPipeIsTriedAgainUntilItFrees) {
    network.add(kBootPath, boot, 3);
    script_success();
    ASSERT_TRUE(connect()) << error;
    EXPECT_EQ(network.open_attempts().size(), 5u);  // 4 bootstrap attempts, then the room
    EXPECT_EQ(network.instance_waits(), 3u);
}

TEST_F(HostedSessionFixture, PipeBusyThroughoutGivesUpAfterFiveSeconds) {
    network.add(kBootPath, boot, -1);
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, "Hosted session pipe could not be connected");
    EXPECT_GE(clock->elapsed(), 5s);
    EXPECT_LT(clock->elapsed(), 5s + 100ms);
    EXPECT_GE(network.instance_waits(), 99u);
}

TEST_F(HostedSessionFixture, MissingRoomPipeFailsAtOnce) {
    boot->reply_after_frame(1, wire::framed(wire::redeemed("r", "p", "qop-nowhere", "s")));
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, "Hosted session pipe could not be connected");
    EXPECT_EQ(clock->elapsed(), std::chrono::nanoseconds(0));
}

TEST_F(HostedSessionFixture, SecondConnectClosesTheFirstSession) {
    script_success();
    ASSERT_TRUE(connect()) << error;
    auto first_room = room;
    room = std::make_shared<ScriptedPipeServer>(clock);
    boot = std::make_shared<ScriptedPipeServer>(clock);
    network.add(kBootPath, boot);
    network.add(kRoomPath, room);
    script_success();
    ASSERT_TRUE(connect()) << error;
    EXPECT_TRUE(first_room->client_closed());
    EXPECT_FALSE(room->client_closed());
}

TEST_F(HostedSessionFixture, CancelBeforeConnectEndsItUntilClose) {
    script_success();
    pipe->cancel();
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, "Hosted session connect was cancelled");
    EXPECT_TRUE(network.open_attempts().empty());

    pipe->close();
    EXPECT_TRUE(connect()) << error;
}

}  // namespace
}  // namespace qop::test

namespace qop::test {
namespace {

TEST_F(HostedSessionFixture, RoomServerThatHangsUpMidFrameFailsTheRead) {
    script_bootstrap();
    room->reply_after_frame(1, wire::framed(wire::attached()) + wire::bytes({0x20, 0, 0, 0, 0x12}));
    room->hang_up_after_frame(1);
    EXPECT_FALSE(connect());
    EXPECT_EQ(error, "Hosted session pipe closed while reading");
    EXPECT_TRUE(room->client_closed());
}

}  // namespace
}  // namespace qop::test
