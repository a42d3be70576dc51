#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "host_bridge/host_bridge_pipe_channel.hpp"

namespace google::protobuf {
class MessageLite;
}

namespace qop::network {

// A host-bridge frame is a 4-byte little-endian length and that many bytes of
// one protobuf message; the length lies in 1 to 1 MiB.
constexpr std::size_t kHostBridgeFrameMaxBytes = 1048576;

// Writes all bytes; "Hosted session pipe write failed" when a write fails or
// makes no progress.
bool write_all(PipeChannel& channel, const std::uint8_t* data, std::size_t count,
               std::string& error);

// Serialises `message` and writes it as one frame; "Hosted session protobuf
// serialization failed" when it serialises to nothing or to more than a frame
// can hold.
bool write_message(PipeChannel& channel, const google::protobuf::MessageLite& message,
                   std::string& error);

// Assembles one frame at a time from the bytes a pipe has waiting, without
// ever blocking: a frame that has only partly arrived (its length prefix
// included) is kept and finished by a later call. Taking the waiting bytes
// out, rather than leaving a short prefix in the pipe, is what lets a server
// that hangs up mid-frame show as a closed pipe.
class HostBridgeFrameReader {
public:
    enum class Status {
        Incomplete,     // no whole frame yet; call again when more may have come
        Complete,       // `frame` holds one frame's payload
        PipeClosed,     // the pipe reports no bytes waiting any more
        ReadFailed,     // a read failed or returned nothing
        InvalidLength,  // the length prefix is 0 or above 1 MiB
    };

    // Reads no more than `budget` bytes (which it lowers by what it read) and
    // never past the end of the current frame.
    Status read_waiting(PipeChannel& channel, std::string& frame, std::size_t& budget);

    // Drops a partly read frame.
    void reset();

    // True once the current frame's length prefix is in and its payload is
    // being read.
    bool has_length_prefix() const { return in_body_; }

private:
    std::uint8_t header_[4] = {};
    std::size_t header_bytes_ = 0;
    bool in_body_ = false;
    std::size_t body_length_ = 0;
    std::string body_;
};

// A budget for callers that take whatever is waiting.
constexpr std::size_t kUnlimitedReadBudget = std::numeric_limits<std::size_t>::max();

}  // namespace qop::network
