#include "relay/reliable_frame_reader.hpp"

#include <algorithm>
#include <cstring>

#include "shared/big_endian.hpp"

namespace qop::network {

bool read_reliable_frame_length(const std::uint8_t* prefix, std::uint32_t frame_limit,
                                std::uint32_t& length, std::string& error) {
    length = read_u32_be(prefix);
    if (length == 0 || length > frame_limit) {
        error = kReliableFrameOverLimit;
        return false;
    }
    return true;
}

bool cut_reliable_frames(const std::uint8_t* data, std::size_t size, std::uint32_t frame_limit,
                         std::vector<std::vector<std::uint8_t>>& frames, std::size_t& consumed,
                         std::string& error, std::size_t max_frames) {
    consumed = 0;
    for (std::size_t cut = 0; cut < max_frames && size - consumed >= kReliableLengthBytes; ++cut) {
        std::uint32_t length = 0;
        if (!read_reliable_frame_length(data + consumed, frame_limit, length, error)) {
            return false;
        }
        // Compared as "what is left after the prefix" so nothing can wrap.
        const std::size_t after_prefix = size - consumed - kReliableLengthBytes;
        if (after_prefix < length) {
            break;
        }
        const std::uint8_t* payload = data + consumed + kReliableLengthBytes;
        frames.emplace_back(payload, payload + length);
        consumed += kReliableLengthBytes + length;
    }
    return true;
}

void ReliableFrameReader::append(const std::uint8_t* bytes, std::size_t count) {
    if (count > 0) {
        std::memcpy(space(count), bytes, count);
        commit(count);
    }
}

std::uint8_t* ReliableFrameReader::space(std::size_t count) {
    if (buffer_.size() - end_ < count) {
        // Only bytes that really arrived decide the size: a frame announced
        // as huge costs nothing until its bytes come.
        buffer_.resize(std::max(end_ + count, 2 * buffer_.size()));
    }
    return buffer_.data() + end_;
}

bool ReliableFrameReader::cut(std::vector<std::vector<std::uint8_t>>& frames, std::string& error,
                              std::size_t max_frames) {
    std::size_t consumed = 0;
    const bool ok = cut_reliable_frames(buffer_.data() + read_offset_, buffered_bytes(),
                                        frame_limit_, frames, consumed, error, max_frames);
    read_offset_ += consumed;
    if (read_offset_ == end_) {
        read_offset_ = 0;
        end_ = 0;
    } else if (read_offset_ >= buffered_bytes()) {
        // The kept tail is no longer than what was dropped: moving it costs
        // at most as much as cutting did.
        std::memmove(buffer_.data(), buffer_.data() + read_offset_, buffered_bytes());
        end_ -= read_offset_;
        read_offset_ = 0;
    }
    return ok;
}

bool ReliableFrameReader::can_cut() const {
    if (buffered_bytes() < kReliableLengthBytes) {
        return false;
    }
    const std::uint32_t length = read_u32_be(buffer_.data() + read_offset_);
    return length == 0 || length > frame_limit_ ||
           buffered_bytes() - kReliableLengthBytes >= length;
}

void ReliableFrameReader::clear() {
    buffer_.clear();
    buffer_.shrink_to_fit();
    read_offset_ = 0;
    end_ = 0;
}

}  // namespace qop::network
