#include "host_bridge/host_bridge_frames.hpp"

#include <algorithm>

#include <google/protobuf/message_lite.h>

#include "shared/little_endian.hpp"

namespace qop::network {

namespace {

constexpr char kWriteFailed[] = "Hosted session pipe write failed";
constexpr char kSerializationFailed[] = "Hosted session protobuf serialization failed";

}  // namespace

bool write_all(PipeChannel& channel, const std::uint8_t* data, std::size_t count,
               std::string& error) {
    std::size_t done = 0;
    while (done < count) {
        std::size_t written = 0;
        if (!channel.write(data + done, count - done, written) || written == 0) {
            error = kWriteFailed;
            return false;
        }
        done += std::min(written, count - done);
    }
    return true;
}

bool write_message(PipeChannel& channel, const google::protobuf::MessageLite& message,
                   std::string& error) {
    std::string bytes;
    if (!message.SerializeToString(&bytes) || bytes.empty() ||
        bytes.size() > kHostBridgeFrameMaxBytes) {
        error = kSerializationFailed;
        return false;
    }
    std::uint8_t header[4] = {};
    write_u32_le(header, static_cast<std::uint32_t>(bytes.size()));
    return write_all(channel, header, sizeof header, error) &&
           write_all(channel, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                     error);
}

HostBridgeFrameReader::Status HostBridgeFrameReader::read_waiting(PipeChannel& channel,
                                                                  std::string& frame,
                                                                  std::size_t& budget) {
    for (;;) {
        std::size_t waiting = 0;
        if (!channel.bytes_waiting(waiting)) {
            return Status::PipeClosed;
        }
        const std::size_t usable = std::min(waiting, budget);
        const std::size_t needed =
            in_body_ ? body_length_ - body_.size() : sizeof header_ - header_bytes_;
        const std::size_t count = std::min(usable, needed);
        if (count == 0) {
            return Status::Incomplete;
        }

        std::size_t got = 0;
        if (in_body_) {
            const std::size_t have = body_.size();
            body_.resize(have + count);
            const bool ok = channel.read(reinterpret_cast<std::uint8_t*>(&body_[have]), count, got);
            got = ok ? std::min(got, count) : 0;
            body_.resize(have + got);
        } else {
            const bool ok = channel.read(header_ + header_bytes_, count, got);
            got = ok ? std::min(got, count) : 0;
            header_bytes_ += got;
        }
        if (got == 0) {
            return Status::ReadFailed;
        }
        budget -= got;

        if (!in_body_ && header_bytes_ == sizeof header_) {
            const std::uint32_t length = read_u32_le(header_);
            if (length == 0 || length > kHostBridgeFrameMaxBytes) {
                reset();
                return Status::InvalidLength;
            }
            in_body_ = true;
            body_length_ = length;
            body_.clear();
        }
        if (in_body_ && body_.size() == body_length_) {
            frame = std::move(body_);
            reset();
            return Status::Complete;
        }
    }
}

void HostBridgeFrameReader::reset() {
    header_bytes_ = 0;
    in_body_ = false;
    body_length_ = 0;
    body_ = std::string();
}

}  // namespace qop::network
