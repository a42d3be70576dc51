#include "multiplayer/peer_data_frame.hpp"

#include <algorithm>

#include "shared/big_endian.hpp"

namespace qop::network {
namespace {

constexpr std::uint8_t kPeerFrameMagic[4] = {'Q', 'O', 'P', 'G'};

}  // namespace

void append_data_frame(std::vector<std::uint8_t>& out, const PeerFrameHeader& header,
                       const std::uint8_t* chunk, std::size_t chunk_size) {
    out.insert(out.end(), std::begin(kPeerFrameMagic), std::end(kPeerFrameMagic));
    out.push_back(kPeerFrameVersion);
    out.push_back(header.kind);
    out.push_back(header.transfer_mode);
    append_u16_be(out, header.channel);
    append_u32_be(out, header.sequence);
    append_u32_be(out, header.message_id);
    append_u16_be(out, header.fragment_index);
    append_u16_be(out, header.fragment_count);
    append_u32_be(out, header.total_size);
    append_u64_be(out, header.session_nonce);
    if (chunk_size > 0) {
        out.insert(out.end(), chunk, chunk + chunk_size);
    }
}

std::vector<std::uint8_t> encode_data_frame(const std::uint8_t* chunk, std::size_t chunk_size,
                                            std::uint8_t transfer_mode, std::uint16_t channel,
                                            std::uint32_t sequence, std::uint32_t message_id,
                                            std::uint16_t fragment_index,
                                            std::uint16_t fragment_count, std::uint32_t total_size,
                                            std::uint64_t session_nonce, std::uint8_t kind) {
    PeerFrameHeader header;
    header.kind = kind;
    header.transfer_mode = transfer_mode;
    header.channel = channel;
    header.sequence = sequence;
    header.message_id = message_id;
    header.fragment_index = fragment_index;
    header.fragment_count = fragment_count;
    header.total_size = total_size;
    header.session_nonce = session_nonce;
    std::vector<std::uint8_t> frame;
    frame.reserve(kPeerFrameHeaderBytes + chunk_size);
    append_data_frame(frame, header, chunk, chunk_size);
    return frame;
}

bool decode_peer_frame_header(const std::uint8_t* bytes, std::size_t size, PeerFrameHeader& out) {
    if (bytes == nullptr || size < kPeerFrameHeaderBytes ||
        !std::equal(std::begin(kPeerFrameMagic), std::end(kPeerFrameMagic), bytes) ||
        bytes[4] != kPeerFrameVersion || bytes[6] > kTransferModeReliable) {
        return false;
    }
    out.kind = bytes[5];
    out.transfer_mode = bytes[6];
    out.channel = read_u16_be(bytes + 7);
    out.sequence = read_u32_be(bytes + 9);
    out.message_id = read_u32_be(bytes + 13);
    out.fragment_index = read_u16_be(bytes + 17);
    out.fragment_count = read_u16_be(bytes + 19);
    out.total_size = read_u32_be(bytes + 21);
    out.session_nonce = read_u64_be(bytes + 25);
    return true;
}

}  // namespace qop::network
