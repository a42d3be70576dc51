#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "hosted_session_fixture.hpp"

namespace qop::test {
namespace {

using network::HostedSessionEvent;
using network::HostedSessionEventKind;

constexpr int kJoined = 1;
constexpr int kLeft = 2;
constexpr int kHostTransferred = 3;
constexpr int kGameStarted = 4;
constexpr int kGameEnded = 5;

class HostedSessionPoll : public HostedSessionFixture {
protected:
    void SetUp() override {
        HostedSessionFixture::SetUp();
        script_success();
        ASSERT_TRUE(connect()) << error;
    }

    bool poll() { return pipe->poll(events, error); }

    std::vector<HostedSessionEvent> events;
};

TEST_F(HostedSessionPoll, NothingWaitingIsQuiet) {
    EXPECT_TRUE(poll());
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(error, "");
}

TEST_F(HostedSessionPoll, ThreeBytesWaitingGiveNothingYet) {
    const std::string frame = wire::framed(wire::room_event(kJoined, "p-5", "Five"));
    room->push(frame.substr(0, 3));
    EXPECT_TRUE(poll());
    EXPECT_TRUE(events.empty());

    room->push(frame.substr(3));
    EXPECT_TRUE(poll());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].player_name, "Five");
}

TEST_F(HostedSessionPoll, HalfAFrameIsFinishedByALaterCall) {
    const std::string frame = wire::framed(wire::room_event(kJoined, "p-5", "Five"));
    room->push(frame.substr(0, 4 + (frame.size() - 4) / 2));
    EXPECT_TRUE(poll());
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(room->bytes_waiting(), 0u);

    room->push(frame.substr(4 + (frame.size() - 4) / 2));
    EXPECT_TRUE(poll());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, HostedSessionEventKind::PlayerJoined);
    EXPECT_EQ(events[0].player_id, "p-5");
}

TEST_F(HostedSessionPoll, BytesTrickledOneByOneAcrossCalls) {
    const std::string bytes = wire::framed(wire::room_event(kLeft, "p-2", "Two")) +
                              wire::framed(wire::room_event(kJoined, "p-3", "Three"));
    for (const char byte : bytes) {
        ASSERT_TRUE(poll()) << error;
        room->push(std::string(1, byte));
    }
    ASSERT_TRUE(poll()) << error;
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].kind, HostedSessionEventKind::PlayerLeft);
    EXPECT_EQ(events[1].kind, HostedSessionEventKind::PlayerJoined);
    EXPECT_EQ(events[1].player_name, "Three");
}

TEST_F(HostedSessionPoll, EventsThenDetachedEndWithTheDetachedEvent) {
    events.push_back(HostedSessionEvent{});  // poll appends, never clears
    room->push(wire::framed(wire::room_event(kJoined, "p-5", "Five")) +
               wire::framed(wire::room_event(kHostTransferred, "p-2", "Two", "p-9", "p-2")) +
               wire::framed(wire::detached("Room closed by host")) +
               wire::framed(wire::room_event(kLeft, "p-5", "Five")));
    EXPECT_TRUE(poll());
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[1].kind, HostedSessionEventKind::PlayerJoined);
    EXPECT_EQ(events[2].kind, HostedSessionEventKind::HostTransferred);
    EXPECT_EQ(events[2].previous_host_id, "p-9");
    EXPECT_EQ(events[2].current_host_id, "p-2");
    EXPECT_EQ(events[2].player_id, "p-2");
    EXPECT_EQ(events[3].kind, HostedSessionEventKind::Detached);
    EXPECT_EQ(events[3].reason, "Room closed by host");
    EXPECT_EQ(events[3].player_id, "");
    EXPECT_GT(room->bytes_waiting(), 0u);  // reading stopped at the notice
}

TEST_F(HostedSessionPoll, UnusedMessagesAndEventTypesAreDropped) {
    const std::string json = wire::descriptor_json();
    room->push(wire::framed(wire::room_event(kGameStarted, "p-5", "Five")) +
               wire::framed(wire::room_event(kGameEnded, "p-5", "Five")) +
               wire::framed(wire::room_event(9, "p-5", "Five")) +
               wire::framed(wire::room_event(0, "p-5", "Five")) + wire::framed(wire::attached()) +
               wire::framed(wire::data_plane("godot-data-plane", true, "", &json)) +
               wire::frame(wire::bytes({0x1A, 0x00})) +        // command_result
               wire::frame(wire::bytes({0x22, 0x01, 0x41})) +  // reserved field 4
               wire::frame(wire::bytes({0xFF})) +              // undecodable
               wire::framed(wire::snapshot("p-5", {{"p-5", "Five"}})) +
               wire::framed(wire::room_event(kLeft, "", "")));
    EXPECT_TRUE(poll()) << error;
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, HostedSessionEventKind::PlayerLeft);
    EXPECT_EQ(events[0].player_id, "");
    EXPECT_EQ(events[0].player_name, "");
    EXPECT_EQ(room->bytes_waiting(), 0u);
}

TEST_F(HostedSessionPoll, ServerThatNeverStopsWritingCannotHoldTheCaller) {
    const std::string frame = wire::framed(wire::room_event(kJoined, "p-5", "Five"));
    room->push(frame);
    room->resend_after_every_read(frame);
    EXPECT_TRUE(poll());  // returns: only what was waiting at the start is read
    EXPECT_EQ(events.size(), 1u);
    EXPECT_TRUE(poll());
    EXPECT_GE(events.size(), 2u);
}

TEST_F(HostedSessionPoll, ServerErrorEndsTheSession) {
    room->push(wire::framed(wire::room_event(kJoined, "p-5", "Five")) +
               wire::framed(wire::session_error("ROOM_GONE", "The room was deleted")));
    EXPECT_FALSE(poll());
    EXPECT_EQ(error, "ROOM_GONE: The room was deleted");
    EXPECT_EQ(events.size(), 1u);
}

struct PollFailureCase {
    const char* name;
    std::string bytes;
    bool hang_up;
    const char* error;
};

void PrintTo(const PollFailureCase& c, std::ostream* os) {
    *os << c.name;
}

class HostedSessionPollFailure : public HostedSessionPoll,
                                 public ::testing::WithParamInterface<PollFailureCase> {};

TEST_P(HostedSessionPollFailure, EndsTheSession) {
    room->push(GetParam().bytes);
    if (GetParam().hang_up) {
        room->hang_up();
    }
    bool result = poll();
    // A frame cut short may need a second call to notice the server is gone.
    if (result) {
        result = poll();
    }
    EXPECT_FALSE(result);
    EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostedSessionPollFailure,
    ::testing::Values(PollFailureCase{"ServerGone", "", true, "Hosted session pipe closed"},
                      PollFailureCase{"ServerGoneMidHeader", wire::bytes({0x10, 0x00}), true,
                                      "Hosted session pipe closed"},
                      PollFailureCase{"ServerGoneMidFrame",
                                      wire::bytes({0x10, 0, 0, 0, 0x32, 0x02}), true,
                                      "Hosted session pipe closed while reading"},
                      PollFailureCase{"ServerGoneRightAfterTheLengthPrefix",
                                      wire::bytes({0x10, 0, 0, 0}), true,
                                      "Hosted session pipe closed while reading"},
                      PollFailureCase{"ZeroLength", wire::length_prefix(0), false,
                                      "Hosted session returned an invalid frame length"},
                      PollFailureCase{"LengthOverTheLimit", wire::length_prefix(1048577) + "xx",
                                      false, "Hosted session returned an invalid frame length"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HostedSessionPoll, CloseStopsPolling) {
    room->push(wire::framed(wire::room_event(kJoined, "p-5", "Five")));
    pipe->close();
    EXPECT_TRUE(room->client_closed());
    EXPECT_TRUE(poll());
    EXPECT_TRUE(events.empty());
    pipe->close();  // twice is fine
}

TEST(HostedSessionPipeUnconnected, PollIsQuietAndCloseIsSafe) {
    network::HostedSessionPipe pipe;
    std::vector<HostedSessionEvent> events;
    std::string error;
    EXPECT_TRUE(pipe.poll(events, error));
    EXPECT_TRUE(events.empty());
    pipe.close();
    pipe.close();
}

#ifndef _WIN32
TEST(HostedSessionPipeUnconnected, HasNoPipesOffWindows) {
    network::HostedSessionPipe pipe;
    network::DataPlaneConnectionContext context;
    std::string error;
    EXPECT_FALSE(pipe.connect({"t", "qop-boot", "s"}, context, error));
    EXPECT_EQ(error, "Hosted session pipe could not be connected");
}
#endif

}  // namespace
}  // namespace qop::test
