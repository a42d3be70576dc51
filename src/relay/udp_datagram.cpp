#include "relay/udp_datagram.hpp"

#include <algorithm>
#include <cstring>

#include "shared/big_endian.hpp"

namespace qop::network {
namespace {

constexpr char kUdpMagic[4] = {'Q', 'O', 'P', 'U'};
constexpr std::size_t kLengthFieldBytes = 2;

}  // namespace

void append_udp_header(std::vector<std::uint8_t>& datagram, std::uint8_t type) {
    datagram.insert(datagram.end(), std::begin(kUdpMagic), std::end(kUdpMagic));
    datagram.push_back(kUdpProtocolVersion);
    datagram.push_back(type);
}

bool has_udp_header(const std::uint8_t* datagram, std::size_t size, std::uint8_t type) {
    return size >= kUdpHeaderBytes && std::memcmp(datagram, kUdpMagic, sizeof(kUdpMagic)) == 0 &&
           datagram[4] == kUdpProtocolVersion && datagram[5] == type;
}

std::vector<std::uint8_t> build_udp_hello(const std::string& token, std::uint8_t envelope_version) {
    std::vector<std::uint8_t> hello;
    hello.reserve(kUdpHeaderBytes + kLengthFieldBytes + token.size() + 1);
    append_udp_header(hello, kUdpTypeHello);
    // A token above 65535 bytes cannot be described here; it also cannot fit in one datagram,
    // so the socket refuses the hello and the handshake fails before anything is sent.
    append_u16_be(hello, static_cast<std::uint16_t>(token.size()));
    hello.insert(hello.end(), token.begin(), token.end());
    if (envelope_version != 0) {
        hello.push_back(envelope_version);
    }
    return hello;
}

std::vector<std::uint8_t> build_udp_data(const std::vector<std::uint8_t>& session_id,
                                         const std::vector<std::uint8_t>& payload) {
    std::vector<std::uint8_t> datagram;
    write_udp_data(session_id, payload, datagram);
    return datagram;
}

void write_udp_data(const std::vector<std::uint8_t>& session_id,
                    const std::vector<std::uint8_t>& payload, std::vector<std::uint8_t>& datagram) {
    datagram.clear();
    datagram.reserve(kUdpHeaderBytes + kLengthFieldBytes + session_id.size() + payload.size());
    append_udp_header(datagram, kUdpTypeData);
    append_u16_be(datagram, static_cast<std::uint16_t>(session_id.size()));
    datagram.insert(datagram.end(), session_id.begin(), session_id.end());
    datagram.insert(datagram.end(), payload.begin(), payload.end());
}

bool take_udp_data_payload(const std::uint8_t* datagram, std::size_t size,
                           const std::vector<std::uint8_t>& session_id,
                           std::vector<std::vector<std::uint8_t>>& frames) {
    const std::size_t prefix = kUdpHeaderBytes + kLengthFieldBytes;
    if (size < prefix || !has_udp_header(datagram, size, kUdpTypeData)) {
        return false;
    }
    const std::size_t length = read_u16_be(datagram + kUdpHeaderBytes);
    if (length != session_id.size() || size <= prefix + length ||
        !std::equal(session_id.begin(), session_id.end(), datagram + prefix)) {
        return false;
    }
    frames.emplace_back(datagram + prefix + length, datagram + size);
    return true;
}

}  // namespace qop::network
