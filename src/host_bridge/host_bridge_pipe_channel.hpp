#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qop::network {

// One open host-bridge pipe, read without blocking: callers ask how many
// bytes are waiting and read no more than that. Destroying the channel closes
// the pipe. One thread uses a channel; only cancel() may come from another.
class PipeChannel {
public:
    virtual ~PipeChannel() = default;

    // The number of bytes that can be read at once. False when the pipe is
    // broken, the server has gone and nothing is left, or the channel was
    // cancelled.
    virtual bool bytes_waiting(std::size_t& count) = 0;

    // Reads up to `count` bytes, never more than bytes_waiting reported.
    // False, or true with `got` 0, when nothing could be read.
    virtual bool read(std::uint8_t* buffer, std::size_t count, std::size_t& got) = 0;

    // Writes up to `count` bytes and says how many went out. May block while
    // the server reads nothing; cancel() ends such a write.
    virtual bool write(const std::uint8_t* data, std::size_t count, std::size_t& written) = 0;

    // Returns when bytes may have arrived, after at most `limit`, or at once
    // when the channel is cancelled.
    virtual void wait_readable(std::chrono::milliseconds limit) = 0;

    // Thread-safe and sticky: ends the current and every later wait, read and
    // write of this channel promptly.
    virtual void cancel() = 0;
};

enum class PipeOpenResult {
    Opened,
    Busy,    // the pipe exists but every instance is in use
    Failed,  // missing, refused, not a pipe, or the name cannot be used
};

// Opens host-bridge pipes by their full path ("\\.\pipe\<name>", UTF-8).
class PipeConnector {
public:
    virtual ~PipeConnector() = default;

    // One attempt; on Opened `channel` holds the pipe.
    virtual PipeOpenResult try_open(const std::string& path,
                                    std::unique_ptr<PipeChannel>& channel) = 0;

    // After Busy: waits at most `limit` for an instance of the pipe to free up.
    virtual void wait_for_instance(const std::string& path, std::chrono::milliseconds limit) = 0;
};

// The operating system's named pipes; where the library has none, a connector
// whose every open fails.
std::unique_ptr<PipeConnector> create_default_pipe_connector();

}  // namespace qop::network
