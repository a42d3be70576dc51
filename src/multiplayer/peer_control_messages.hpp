#pragma once

// The room's housekeeping traffic: the host's SessionAnnounce and Disconnect
// frames and every peer's keep-alive envelope.

#include <cstdint>
#include <string>
#include <vector>

#include "multiplayer/peer_data_frame.hpp"

namespace qop::network {

// A control frame of `kind` (SessionAnnounce or Disconnect): reliable mode,
// channel, sequence and message id 0, one fragment, total size 2, the payload
// "{}" and the host's nonce.
std::vector<std::uint8_t> encode_control_frame(PeerFrameKind kind, std::uint64_t session_nonce);

// The keep-alive: a Ping envelope (flags 0x01, route Host) from `local_slot`
// whose payload is {"transport":"tcp"}. False with the encoder's message in
// `error` when it cannot be encoded.
bool encode_keepalive_envelope(std::uint8_t local_slot, std::vector<std::uint8_t>& out,
                               std::string& error);

}  // namespace qop::network
