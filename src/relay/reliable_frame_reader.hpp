#pragma once

// The TCP relay's framing on the receiving side: length prefixes checked
// against the frame limit, and whole frames cut from the bytes as they come.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qop::network {

// A TCP relay frame is a 4-byte big-endian length (1 to the frame limit) and
// that many payload bytes.
inline constexpr std::size_t kReliableLengthBytes = 4;
// The frame limit when the relay's descriptor names none.
inline constexpr std::uint32_t kDefaultReliableFrameLimit = 65536;
inline constexpr char kReliableFrameOverLimit[] =
    "TCP transport frame exceeds the negotiated limit";

// Reads the length prefix at `prefix`; fails on a length of 0 or above
// `frame_limit`.
bool read_reliable_frame_length(const std::uint8_t* prefix, std::uint32_t frame_limit,
                                std::uint32_t& length, std::string& error);

// Cuts every whole frame from `data`, at most `max_frames` of them, and
// appends its payload to `frames`. `consumed` is set to the bytes of the
// whole frames cut; a partial frame at the end, and whole frames beyond
// `max_frames`, stay uncut. Fails on a length of 0 or above `frame_limit`
// (frames before it are still appended). Allocates only for bytes that are
// present.
bool cut_reliable_frames(const std::uint8_t* data, std::size_t size, std::uint32_t frame_limit,
                         std::vector<std::vector<std::uint8_t>>& frames, std::size_t& consumed,
                         std::string& error, std::size_t max_frames = SIZE_MAX);

// Keeps received bytes between reads and cuts frames as they complete. Cut
// bytes are skipped with a read offset and dropped in one move afterwards, so
// large buffers are never shifted once per frame. The storage is kept between
// reads, and a socket can receive straight into it (space, then commit).
class ReliableFrameReader {
public:
    void set_frame_limit(std::uint32_t frame_limit) { frame_limit_ = frame_limit; }
    void append(const std::uint8_t* bytes, std::size_t count);
    // Room for `count` more bytes after those buffered; commit() says how
    // many of them were filled.
    std::uint8_t* space(std::size_t count);
    void commit(std::size_t count) { end_ += count; }
    // Cuts at most `max_frames` whole frames; the rest stay buffered.
    bool cut(std::vector<std::vector<std::uint8_t>>& frames, std::string& error,
             std::size_t max_frames = SIZE_MAX);
    // True when cut() would hand out a frame or fail: a whole frame, or a
    // length prefix out of bounds, is buffered.
    bool can_cut() const;
    void clear();
    std::size_t buffered_bytes() const { return end_ - read_offset_; }

private:
    std::uint32_t frame_limit_ = kDefaultReliableFrameLimit;
    // Bytes [read_offset_, end_) are buffered; the rest is spare room.
    std::vector<std::uint8_t> buffer_;
    std::size_t read_offset_ = 0;
    std::size_t end_ = 0;
};

}  // namespace qop::network
