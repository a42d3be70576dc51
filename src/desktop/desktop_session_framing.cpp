#include "desktop/desktop_session_codec.hpp"

namespace qop::desktop {

bool read_frame_length(const std::array<std::uint8_t, kDesktopFrameHeaderSize>& header,
                       std::uint32_t& length) {
    length = static_cast<std::uint32_t>(header[0]) | (static_cast<std::uint32_t>(header[1]) << 8) |
             (static_cast<std::uint32_t>(header[2]) << 16) |
             (static_cast<std::uint32_t>(header[3]) << 24);
    return length >= 1 && length <= kMaxDesktopFramePayload;
}

std::vector<std::uint8_t> frame_with_length_prefix(const std::vector<std::uint8_t>& payload) {
    // Encoded messages never exceed 2 GiB (protobuf refuses to serialize
    // more), so the low 32 bits are the whole size.
    const auto size = static_cast<std::uint32_t>(payload.size());
    std::vector<std::uint8_t> frame;
    frame.reserve(payload.size() + kDesktopFrameHeaderSize);
    frame.push_back(static_cast<std::uint8_t>(size & 0xFFu));
    frame.push_back(static_cast<std::uint8_t>((size >> 8) & 0xFFu));
    frame.push_back(static_cast<std::uint8_t>((size >> 16) & 0xFFu));
    frame.push_back(static_cast<std::uint8_t>((size >> 24) & 0xFFu));
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

}  // namespace qop::desktop
