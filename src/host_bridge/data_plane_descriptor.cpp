#include "host_bridge/data_plane_descriptor.hpp"

#include <cmath>

#include <google/protobuf/struct.pb.h>

#include "shared/json_struct_fields.hpp"
#include "shared/untrusted_json.hpp"

namespace qop::network {

namespace {

using google::protobuf::Struct;
using google::protobuf::Value;

constexpr char kUnsupportedVersion[] = "UNSUPPORTED_DATA_PLANE_DESCRIPTOR_VERSION";
constexpr char kInvalidDescriptor[] = "INVALID_DATA_PLANE_DESCRIPTOR";
constexpr char kTcpUnavailable[] = "TCP_DATA_PLANE_UNAVAILABLE";
constexpr char kUdpUnavailable[] = "UDP_DATA_PLANE_UNAVAILABLE";

constexpr std::uint64_t kMaxPort = 65535;
constexpr std::uint64_t kMaxSize = 4294967295u;
// Doubles at or above 2^63 have no int64 value; the largest double below it
// (9223372036854774784) still converts exactly.
constexpr double kTwoPow63 = 9223372036854775808.0;

const Struct* find_object_field(const Struct& object, const std::string& key) {
    const Value* value = find_struct_field(object, key);
    if (value == nullptr || value->kind_case() != Value::kStructValue) {
        return nullptr;
    }
    return &value->struct_value();
}

bool read_non_empty_string(const Struct& object, const std::string& key, std::string& out) {
    const Value* value = find_struct_field(object, key);
    if (value == nullptr || value->kind_case() != Value::kStringValue ||
        value->string_value().empty()) {
        return false;
    }
    out = value->string_value();
    return true;
}

bool read_positive_whole_number(const Struct& object, const std::string& key, double& out) {
    const Value* value = find_struct_field(object, key);
    if (value == nullptr || value->kind_case() != Value::kNumberValue) {
        return false;
    }
    const double number = value->number_value();
    if (!std::isfinite(number) || number <= 0 || std::floor(number) != number) {
        return false;
    }
    out = number;
    return true;
}

bool read_uint_field(const Struct& object, const std::string& key, std::uint64_t maximum,
                     std::uint64_t& out) {
    double number = 0;
    if (!read_positive_whole_number(object, key, number) || number > static_cast<double>(maximum)) {
        return false;
    }
    out = static_cast<std::uint64_t>(number);
    return true;
}

bool fail(std::string& error, const char* code) {
    error = code;
    return false;
}

bool parse_tcp(const Struct& tcp, DataPlaneConnectionContext& out) {
    std::uint64_t port = 0;
    std::uint64_t frame_max = 0;
    if (!read_non_empty_string(tcp, "host", out.tcp_host) ||
        !read_uint_field(tcp, "port", kMaxPort, port) ||
        !read_uint_field(tcp, "frameMaxBytes", kMaxSize, frame_max)) {
        return false;
    }
    out.tcp_port = static_cast<std::uint16_t>(port);
    out.tcp_frame_max_bytes = static_cast<std::uint32_t>(frame_max);
    return true;
}

bool parse_udp(const Struct& udp, DataPlaneConnectionContext& out) {
    std::uint64_t port = 0;
    std::uint64_t payload_max = 0;
    if (!read_non_empty_string(udp, "host", out.udp_host) ||
        !read_uint_field(udp, "port", kMaxPort, port) ||
        !read_uint_field(udp, "payloadMaxBytes", kMaxSize, payload_max)) {
        return false;
    }
    out.udp_port = static_cast<std::uint16_t>(port);
    out.udp_token = out.token;
    out.udp_payload_max_bytes = static_cast<std::uint32_t>(payload_max);
    return true;
}

}  // namespace

bool parse_data_plane_descriptor(const std::string& descriptor_json,
                                 DataPlaneConnectionContext& out, std::string& error) {
    out = DataPlaneConnectionContext{};
    error.clear();

    Struct root;
    if (!parse_untrusted_json_object(descriptor_json, root)) {
        return fail(error, kInvalidDescriptor);
    }
    std::uint64_t version = 0;
    if (!read_uint_field(root, "version", 1, version)) {
        return fail(error, kUnsupportedVersion);
    }
    if (!read_non_empty_string(root, "token", out.token)) {
        return fail(error, kInvalidDescriptor);
    }
    double expires_at = 0;
    if (!read_positive_whole_number(root, "expiresAtUnixSeconds", expires_at) ||
        expires_at >= kTwoPow63) {
        return fail(error, kInvalidDescriptor);
    }
    out.expires_at_unix_seconds = static_cast<std::int64_t>(expires_at);

    const Struct* transports = find_object_field(root, "transports");
    if (transports == nullptr) {
        return fail(error, kInvalidDescriptor);
    }
    const Struct* tcp = find_object_field(*transports, "tcp");
    if (tcp == nullptr) {
        return fail(error, kTcpUnavailable);
    }
    if (!parse_tcp(*tcp, out)) {
        return fail(error, kInvalidDescriptor);
    }
    const Struct* udp = find_object_field(*transports, "rawUdp");
    if (udp == nullptr) {
        return fail(error, kUdpUnavailable);
    }
    if (!parse_udp(*udp, out)) {
        return fail(error, kInvalidDescriptor);
    }
    return true;
}

bool is_descriptor_expired(const DataPlaneConnectionContext& context,
                           std::int64_t now_unix_seconds) {
    return now_unix_seconds >= context.expires_at_unix_seconds;
}

}  // namespace qop::network
