// Cuts arbitrary bytes as a TCP relay stream twice: all at once, and fed in chunks whose sizes
// come from the input. Both must agree frame for frame, keep every frame within the limit, and
// account for exactly the bytes they cut.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "relay/reliable_frame_reader.hpp"

namespace {

using Frames = std::vector<std::vector<std::uint8_t>>;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 5) {
        return 0;
    }
    // Small limits make over-limit prefixes reachable; the top bit allows any 32-bit limit.
    std::uint32_t limit = (static_cast<std::uint32_t>(data[0]) << 24) |
                          (static_cast<std::uint32_t>(data[1]) << 16) |
                          (static_cast<std::uint32_t>(data[2]) << 8) | data[3];
    if ((data[0] & 0x80) == 0) {
        limit = 1 + limit % 4096;
    }
    std::uint32_t chunk_seed = data[4] | 1u;
    const std::uint8_t* stream = data + 5;
    const std::size_t stream_size = size - 5;

    Frames whole;
    std::size_t consumed = 0;
    std::string whole_error;
    const bool whole_ok =
        qop::network::cut_reliable_frames(stream, stream_size, limit, whole, consumed, whole_error);
    require(consumed <= stream_size);
    require(whole_ok || whole_error == "TCP transport frame exceeds the negotiated limit");

    // The frames cut must re-frame to exactly the bytes consumed.
    std::size_t offset = 0;
    for (const auto& frame : whole) {
        require(!frame.empty() && frame.size() <= limit);
        const std::size_t length = (static_cast<std::size_t>(stream[offset]) << 24) |
                                   (static_cast<std::size_t>(stream[offset + 1]) << 16) |
                                   (static_cast<std::size_t>(stream[offset + 2]) << 8) |
                                   stream[offset + 3];
        require(length == frame.size());
        for (std::size_t i = 0; i < length; ++i) {
            require(frame[i] == stream[offset + 4 + i]);
        }
        offset += 4 + length;
    }
    require(offset == consumed);

    qop::network::ReliableFrameReader reader;
    reader.set_frame_limit(limit);
    Frames chunked;
    std::string chunked_error;
    bool chunked_ok = true;
    std::size_t fed = 0;
    while (fed < stream_size && chunked_ok) {
        chunk_seed ^= chunk_seed << 13;
        chunk_seed ^= chunk_seed >> 17;
        chunk_seed ^= chunk_seed << 5;
        const std::size_t step = std::min<std::size_t>(1 + chunk_seed % 64, stream_size - fed);
        reader.append(stream + fed, step);
        fed += step;
        chunked_ok = reader.cut(chunked, chunked_error);
    }
    require(chunked_ok == whole_ok);
    require(chunked == whole);
    if (whole_ok) {
        require(reader.buffered_bytes() == stream_size - consumed);
    }
    return 0;
}
