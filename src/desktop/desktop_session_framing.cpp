#include "desktop/desktop_session_codec.hpp"

#include <algorithm>

#include "shared/little_endian.hpp"

namespace qop::desktop {

bool read_frame_length(const std::array<std::uint8_t, kDesktopFrameHeaderSize>& header,
                       std::uint32_t& length) {
    length = network::read_u32_le(header.data());
    return length >= 1 && length <= kMaxDesktopFramePayload;
}

std::vector<std::uint8_t> frame_with_length_prefix(const std::vector<std::uint8_t>& payload) {
    // Encoded messages never exceed 2 GiB (protobuf refuses to serialize
    // more), so the low 32 bits are the whole size.
    const auto size = static_cast<std::uint32_t>(payload.size());
    std::vector<std::uint8_t> frame(kDesktopFrameHeaderSize + payload.size());
    network::write_u32_le(frame.data(), size);
    std::copy(payload.begin(), payload.end(), frame.begin() + kDesktopFrameHeaderSize);
    return frame;
}

}  // namespace qop::desktop
