#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qop::network {

// Every datagram exchanged with the UDP relay starts with "QOPU", version 1 and a type byte.
constexpr std::size_t kUdpHeaderBytes = 6;
constexpr std::uint8_t kUdpProtocolVersion = 1;
constexpr std::uint8_t kUdpTypeHello = 1;
constexpr std::uint8_t kUdpTypeAcknowledgement = 2;
constexpr std::uint8_t kUdpTypeData = 3;

// Appends "QOPU", the version and `type`.
void append_udp_header(std::vector<std::uint8_t>& datagram, std::uint8_t type);

// True when `size` bytes at `datagram` start with the header of the given type.
bool has_udp_header(const std::uint8_t* datagram, std::size_t size, std::uint8_t type);

// The hello that opens a session: token length, token and, when a version is requested, the
// requested envelope version.
std::vector<std::uint8_t> build_udp_hello(const std::string& token, std::uint8_t envelope_version);

// One data datagram: session id length, session id, payload.
std::vector<std::uint8_t> build_udp_data(const std::vector<std::uint8_t>& session_id,
                                         const std::vector<std::uint8_t>& payload);
// The same, replacing what `datagram` held (its storage is reused).
void write_udp_data(const std::vector<std::uint8_t>& session_id,
                    const std::vector<std::uint8_t>& payload, std::vector<std::uint8_t>& datagram);

// When the datagram is a data datagram of this session with at least one payload byte, appends
// its payload to `frames` and returns true; any other datagram is left alone.
bool take_udp_data_payload(const std::uint8_t* datagram, std::size_t size,
                           const std::vector<std::uint8_t>& session_id,
                           std::vector<std::vector<std::uint8_t>>& frames);

}  // namespace qop::network
