// The host-bridge bootstrap messages on the wire, against hand-written bytes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dovral_host_bootstrap.pb.h"
#include "support/message_fields.hpp"
#include "support/wire_hex.hpp"

namespace {

namespace proto = marzel::desktop::hostbridge::bootstrap;
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

const DecodeCase kResponseCases[] = {
    {R"(0A 03 0A 01 "r")", {"redeem_launch_ticket.room_id=r"}},
    {R"(0A 03 12 01 "c")", {"redeem_launch_ticket.room_code=c"}},
    {R"(0A 03 1A 01 "p")", {"redeem_launch_ticket.player_id=p"}},
    {R"(0A 05 22 03 0A 01 "i")", {"redeem_launch_ticket.player.id=i"}},
    {R"(0A 05 22 03 12 01 "n")", {"redeem_launch_ticket.player.name=n"}},
    {R"(0A 02 22 00)", {"redeem_launch_ticket.player={}"}},
    {R"(0A 03 2A 01 "t")", {"redeem_launch_ticket.token=t"}},
    {R"(0A 03 32 01 "x")", {"redeem_launch_ticket.expires_at=x"}},
    {R"(0A 03 3A 01 "u")", {"redeem_launch_ticket.server_url=u"}},
    {R"(0A 03 42 01 "e")", {"redeem_launch_ticket.session_endpoint=e"}},
    {R"(0A 03 4A 01 "s")", {"redeem_launch_ticket.session_secret=s"}},
    {R"(0A 02 50 01)", {"redeem_launch_ticket#unknown=10"}},
    {R"(0A 03 5A 01 "z")", {"redeem_launch_ticket#unknown=11"}},
    {R"(0A 02 68 01)", {"redeem_launch_ticket#unknown=13"}},
    {R"(0A 00)", {"redeem_launch_ticket={}"}},
    {R"(12 03 0A 01 "C")", {"error.code=C"}},
    {R"(12 03 12 01 "M")", {"error.message=M"}},
    {R"(1A 00)", {"#unknown=3"}},
};

class BootstrapResponseDecode : public testing::TestWithParam<DecodeCase> {};

TEST_P(BootstrapResponseDecode, SetsExactlyTheFieldOnTheWire) {
    proto::BootstrapResponse response;
    ASSERT_TRUE(response.ParseFromString(wire_string(GetParam().wire))) << GetParam().wire;
    EXPECT_EQ(set_fields(response), GetParam().fields) << GetParam().wire;
}

INSTANTIATE_TEST_SUITE_P(EveryField, BootstrapResponseDecode, testing::ValuesIn(kResponseCases),
                         [](const testing::TestParamInfo<DecodeCase>& info) {
                             return qop::test::case_name(info.param.fields, info.index);
                         });

TEST(HostBootstrapWire, RedeemRequestAsTheLibrarySendsIt) {
    proto::BootstrapRequest request;
    request.mutable_redeem_launch_ticket()->set_ticket("t1");
    request.mutable_redeem_launch_ticket()->set_secret("s");
    EXPECT_EQ(to_hex(request.SerializeAsString()),
              to_hex(wire_string(R"(0A 07 0A 02 "t1" 12 01 "s")")));
}

TEST(HostBootstrapWire, PresentEmptyRequestDiffersFromAbsentOne) {
    proto::BootstrapRequest request;
    EXPECT_EQ(request.SerializeAsString(), "");
    request.mutable_redeem_launch_ticket();
    EXPECT_EQ(to_hex(request.SerializeAsString()), "0A 00");
}

TEST(HostBootstrapWire, LastBodyMemberOnTheWireWins) {
    proto::BootstrapResponse response;
    ASSERT_TRUE(response.ParseFromString(wire_string(R"(0A 03 0A 01 "r" 12 03 0A 01 "C")")));
    EXPECT_EQ(response.body_case(), proto::BootstrapResponse::kError);
    EXPECT_EQ(response.error().code(), "C");
    ASSERT_TRUE(response.ParseFromString(wire_string(R"(12 03 0A 01 "C" 0A 03 0A 01 "r")")));
    EXPECT_EQ(response.body_case(), proto::BootstrapResponse::kRedeemLaunchTicket);
    EXPECT_EQ(response.redeem_launch_ticket().room_id(), "r");
}

TEST(HostBootstrapWire, ReservedFieldIsKeptAfterKnownFields) {
    proto::RedeemLaunchTicketResponse response;
    ASSERT_TRUE(response.ParseFromString(wire_string(R"(5A 01 "z" 0A 01 "r")")));
    EXPECT_EQ(response.room_id(), "r");
    EXPECT_EQ(to_hex(response.SerializeAsString()), to_hex(wire_string(R"(0A 01 "r" 5A 01 "z")")));
}

TEST(HostBootstrapWire, InvalidUtf8AtAnyDepthFailsTheParse) {
    const char* const kBroken[] = {
        R"(0A 03 4A 01 FF)",
        R"(0A 05 22 03 12 01 C3)",
        R"(12 03 12 01 80)",
    };
    for (const char* wire : kBroken) {
        proto::BootstrapResponse response;
        EXPECT_FALSE(response.ParseFromString(wire_string(wire))) << wire;
    }
}

}  // namespace
