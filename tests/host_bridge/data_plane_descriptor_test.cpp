#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "host_bridge/data_plane_descriptor.hpp"

namespace qop::test {
namespace {

using network::DataPlaneConnectionContext;
using network::is_descriptor_expired;
using network::parse_data_plane_descriptor;

constexpr char kUnsupported[] = "UNSUPPORTED_DATA_PLANE_DESCRIPTOR_VERSION";
constexpr char kInvalid[] = "INVALID_DATA_PLANE_DESCRIPTOR";
constexpr char kNoTcp[] = "TCP_DATA_PLANE_UNAVAILABLE";
constexpr char kNoUdp[] = "UDP_DATA_PLANE_UNAVAILABLE";

// A descriptor assembled from its parts so that each case changes one of them.
struct Parts {
    std::string version = R"("version":1,)";
    std::string token = R"("token":"tok",)";
    std::string expiry = R"("expiresAtUnixSeconds":1700000000,)";
    std::string tcp = R"("tcp":{"host":"10.0.0.1","port":7000,"frameMaxBytes":65536})";
    std::string udp = R"(,"rawUdp":{"host":"10.0.0.2","port":7001,"payloadMaxBytes":1200})";

    std::string json() const {
        return "{" + version + token + expiry + R"("transports":{)" + tcp + udp + "}}";
    }
};

Parts with_version(const std::string& v) {
    Parts p;
    p.version = v;
    return p;
}
Parts with_token(const std::string& v) {
    Parts p;
    p.token = v;
    return p;
}
Parts with_expiry(const std::string& v) {
    Parts p;
    p.expiry = v;
    return p;
}
Parts with_tcp(const std::string& v) {
    Parts p;
    p.tcp = v;
    return p;
}
Parts with_udp(const std::string& v) {
    Parts p;
    p.udp = v;
    return p;
}
std::string tcp_port(const std::string& port) {
    return R"("tcp":{"host":"h","port":)" + port + R"(,"frameMaxBytes":1})";
}
std::string tcp_frame_max(const std::string& size) {
    return R"("tcp":{"host":"h","port":1,"frameMaxBytes":)" + size + "}";
}
std::string udp_port(const std::string& port) {
    return R"(,"rawUdp":{"host":"h","port":)" + port + R"(,"payloadMaxBytes":1})";
}

struct DescriptorCase {
    const char* name;
    std::string json;
    const char* error;  // empty: accepted
};

void PrintTo(const DescriptorCase& c, std::ostream* os) {
    *os << c.name;
}

class DescriptorTable : public ::testing::TestWithParam<DescriptorCase> {};

TEST_P(DescriptorTable, ParsesOrNamesTheFault) {
    DataPlaneConnectionContext context;
    std::string error = "stale";
    const bool parsed = parse_data_plane_descriptor(GetParam().json, context, error);
    EXPECT_EQ(parsed, std::string(GetParam().error).empty());
    EXPECT_EQ(error, GetParam().error);
}

std::string nested(int depth) {
    return R"({"version":1,"extra":)" + std::string(depth - 1, '[') + std::string(depth - 1, ']') +
           R"(,"token":"t"})";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DescriptorTable,
    ::testing::Values(
        DescriptorCase{"Valid", Parts().json(), ""},
        DescriptorCase{"VersionOnePointZero", with_version(R"("version":1.0,)").json(), ""},
        DescriptorCase{"VersionTwo", with_version(R"("version":2,)").json(), kUnsupported},
        DescriptorCase{"VersionZero", with_version(R"("version":0,)").json(), kUnsupported},
        DescriptorCase{"VersionHalf", with_version(R"("version":0.5,)").json(), kUnsupported},
        DescriptorCase{"VersionAsText", with_version(R"("version":"1",)").json(), kUnsupported},
        DescriptorCase{"VersionMissing", with_version("").json(), kUnsupported},
        DescriptorCase{"TokenEmpty", with_token(R"("token":"",)").json(), kInvalid},
        DescriptorCase{"TokenMissing", with_token("").json(), kInvalid},
        DescriptorCase{"TokenNumber", with_token(R"("token":5,)").json(), kInvalid},
        DescriptorCase{"ExpiryZero", with_expiry(R"("expiresAtUnixSeconds":0,)").json(), kInvalid},
        DescriptorCase{"ExpiryOne", with_expiry(R"("expiresAtUnixSeconds":1,)").json(), ""},
        DescriptorCase{"ExpiryNegative", with_expiry(R"("expiresAtUnixSeconds":-5,)").json(),
                       kInvalid},
        DescriptorCase{"ExpiryFraction", with_expiry(R"("expiresAtUnixSeconds":1.5,)").json(),
                       kInvalid},
        DescriptorCase{"ExpiryLargestBelowTwoToThe63",
                       with_expiry(R"("expiresAtUnixSeconds":9223372036854774784,)").json(), ""},
        DescriptorCase{"ExpiryInt64MaxRoundsToTwoToThe63",
                       with_expiry(R"("expiresAtUnixSeconds":9223372036854775807,)").json(),
                       kInvalid},
        DescriptorCase{"ExpiryHuge", with_expiry(R"("expiresAtUnixSeconds":1e300,)").json(),
                       kInvalid},
        DescriptorCase{"ExpiryAsText",
                       with_expiry(R"("expiresAtUnixSeconds":"1700000000",)").json(), kInvalid},
        DescriptorCase{"ExpiryMissing", with_expiry("").json(), kInvalid},
        DescriptorCase{"TransportsMissing", R"({"version":1,"token":"t","expiresAtUnixSeconds":5})",
                       kInvalid},
        DescriptorCase{"TransportsNotAnObject",
                       R"({"version":1,"token":"t","expiresAtUnixSeconds":5,"transports":[]})",
                       kInvalid},
        DescriptorCase{"TcpMissing", with_tcp(R"("other":{})").json(), kNoTcp},
        DescriptorCase{"TcpIsText", with_tcp(R"("tcp":"10.0.0.1:7000")").json(), kNoTcp},
        DescriptorCase{"TcpIsNull", with_tcp(R"("tcp":null)").json(), kNoTcp},
        DescriptorCase{"TcpPortZero", with_tcp(tcp_port("0")).json(), kInvalid},
        DescriptorCase{"TcpPortMax", with_tcp(tcp_port("65535")).json(), ""},
        DescriptorCase{"TcpPortTooLarge", with_tcp(tcp_port("65536")).json(), kInvalid},
        DescriptorCase{"TcpPortFraction", with_tcp(tcp_port("80.5")).json(), kInvalid},
        DescriptorCase{"TcpPortAsText", with_tcp(tcp_port(R"("80")")).json(), kInvalid},
        DescriptorCase{"TcpPortNegative", with_tcp(tcp_port("-80")).json(), kInvalid},
        DescriptorCase{"TcpHostEmpty",
                       with_tcp(R"("tcp":{"host":"","port":1,"frameMaxBytes":1})").json(),
                       kInvalid},
        DescriptorCase{"TcpFrameMaxZero", with_tcp(tcp_frame_max("0")).json(), kInvalid},
        DescriptorCase{"TcpFrameMaxLargest", with_tcp(tcp_frame_max("4294967295")).json(), ""},
        DescriptorCase{"TcpFrameMaxTooLarge", with_tcp(tcp_frame_max("4294967296")).json(),
                       kInvalid},
        DescriptorCase{"UdpMissing", with_udp("").json(), kNoUdp},
        DescriptorCase{"UdpIsNumber", with_udp(R"(,"rawUdp":7001)").json(), kNoUdp},
        DescriptorCase{"UdpPortZero", with_udp(udp_port("0")).json(), kInvalid},
        DescriptorCase{"UdpPortTooLarge", with_udp(udp_port("65536")).json(), kInvalid},
        DescriptorCase{"UdpPayloadMissing", with_udp(R"(,"rawUdp":{"host":"h","port":1})").json(),
                       kInvalid},
        DescriptorCase{"UnknownKeysIgnored",
                       R"({"extra":{"deep":[1,2,{"x":null}]},"version":1,"token":"t",)"
                       R"("expiresAtUnixSeconds":5,"transports":{"kcp":{},"tcp":{"host":"h",)"
                       R"("port":1,"frameMaxBytes":1,"tls":true},"rawUdp":{"host":"h",)"
                       R"("port":2,"payloadMaxBytes":3}}})",
                       ""},
        DescriptorCase{"RootArray", "[1]", kInvalid},
        DescriptorCase{"RootText", R"("version")", kInvalid},
        DescriptorCase{"RootNull", "null", kInvalid}, DescriptorCase{"Empty", "", kInvalid},
        DescriptorCase{"NotJson", "version=1", kInvalid},
        DescriptorCase{"Truncated", Parts().json().substr(0, 40), kInvalid},
        DescriptorCase{"DuplicateKey", R"({"version":1,"version":1})", kInvalid},
        DescriptorCase{"InvalidUtf8InToken", with_token("\"token\":\"\xC3\x28\",").json(),
                       kInvalid},
        DescriptorCase{"InvalidUtf8InUnknownKey", "{\"\xFF\":1," + Parts().json().substr(1),
                       kInvalid},
        DescriptorCase{"NestedSixtyFourDeep", nested(64), kInvalid},  // no transports
        DescriptorCase{"NestedSixtyFiveDeep", nested(65), kInvalid},
        DescriptorCase{
            "BracketsInsideStringsDoNotCount",
            R"({"note":")" + std::string(200, '[') + R"(\"[{",)" + Parts().json().substr(1), ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DataPlaneDescriptor, FillsTheRelayPartAndResetsTheIdentity) {
    DataPlaneConnectionContext context;
    context.room_id = "old-room";
    context.player_id = "old-player";
    context.host_id = "old-host";
    context.players.push_back({"old", "Old"});
    std::string error;
    ASSERT_TRUE(parse_data_plane_descriptor(Parts().json(), context, error)) << error;

    EXPECT_EQ(context.room_id, "");
    EXPECT_EQ(context.player_id, "");
    EXPECT_EQ(context.host_id, "");
    EXPECT_TRUE(context.players.empty());
    EXPECT_EQ(context.tcp_host, "10.0.0.1");
    EXPECT_EQ(context.tcp_port, 7000);
    EXPECT_EQ(context.token, "tok");
    EXPECT_EQ(context.expires_at_unix_seconds, 1700000000);
    EXPECT_EQ(context.tcp_frame_max_bytes, 65536u);
    EXPECT_EQ(context.udp_host, "10.0.0.2");
    EXPECT_EQ(context.udp_port, 7001);
    EXPECT_EQ(context.udp_token, "tok");
    EXPECT_EQ(context.udp_payload_max_bytes, 1200u);
}

TEST(DataPlaneDescriptor, KeepsLimitsAtTheirMaximum) {
    Parts parts;
    parts.expiry = R"("expiresAtUnixSeconds":9223372036854774784,)";
    parts.tcp = R"("tcp":{"host":"h","port":65535,"frameMaxBytes":4294967295})";
    parts.udp = R"(,"rawUdp":{"host":"u","port":65535,"payloadMaxBytes":4294967295})";
    DataPlaneConnectionContext context;
    std::string error;
    ASSERT_TRUE(parse_data_plane_descriptor(parts.json(), context, error)) << error;
    EXPECT_EQ(context.expires_at_unix_seconds, 9223372036854774784);
    EXPECT_EQ(context.tcp_port, 65535);
    EXPECT_EQ(context.tcp_frame_max_bytes, 4294967295u);
    EXPECT_EQ(context.udp_payload_max_bytes, 4294967295u);
}

TEST(DataPlaneDescriptor, DeepNestingIsRefusedQuickly) {
    // Protobuf would take many seconds over this; the depth check refuses it first.
    const std::string json = R"({"a":)" + std::string(200000, '[') + std::string(200000, ']') + "}";
    DataPlaneConnectionContext context;
    std::string error;
    EXPECT_FALSE(parse_data_plane_descriptor(json, context, error));
    EXPECT_EQ(error, kInvalid);
}

TEST(DataPlaneDescriptor, ExpiresAtTheExpirySecond) {
    DataPlaneConnectionContext context;
    context.expires_at_unix_seconds = 1700000000;
    struct Case {
        std::int64_t now;
        bool expired;
    };
    for (const Case& c : {Case{1699999999, false}, Case{1700000000, true}, Case{1700000001, true},
                          Case{-1, false}, Case{INT64_MIN, false}, Case{INT64_MAX, true}}) {
        EXPECT_EQ(is_descriptor_expired(context, c.now), c.expired) << c.now;
    }
    context.expires_at_unix_seconds = 0;
    EXPECT_TRUE(is_descriptor_expired(context, 0));
    EXPECT_FALSE(is_descriptor_expired(context, -1));
}

}  // namespace
}  // namespace qop::test
