#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host_bridge/host_bridge_pipe_channel.hpp"
#include "support/manual_monotonic_clock.hpp"

namespace qop::test {

class ScriptedPipeChannel;
struct ScriptedPipeNetworkState;

// The server end of an in-memory host-bridge pipe. A test scripts what the
// server sends (at once, or after the client's n-th whole frame) and reads back
// every byte the client wrote. With a manual clock the client's waits advance
// that clock instead of sleeping; without one they block on real time and
// wake when bytes arrive or the channel is cancelled. Thread-safe.
class ScriptedPipeServer {
public:
    explicit ScriptedPipeServer(std::shared_ptr<ManualMonotonicClock> clock = nullptr);

    // Bytes the client can read right away.
    void push(const std::string& bytes);
    // Bytes sent once the client has written `frame_count` whole frames.
    void reply_after_frame(std::size_t frame_count, const std::string& bytes);
    // Replies arrive in pieces of `piece_size` bytes, one piece per client wait.
    void trickle(std::size_t piece_size);
    // The server closes its end: the client can still read what was sent, then
    // the pipe reports closed.
    void hang_up();
    // Hangs up once the client has written `frame_count` whole frames (after
    // sending the replies due then).
    void hang_up_after_frame(std::size_t frame_count);
    // After every client read the server sends `bytes` again, at most `times`
    // times: a server that never stops writing.
    void resend_after_every_read(const std::string& bytes,
                                 std::size_t times = static_cast<std::size_t>(-1));
    // With a manual clock: every client read moves it on by `step`, as reading
    // takes time.
    void charge_each_read(std::chrono::nanoseconds step);
    // Every later client write fails.
    void fail_writes();
    // Client writes block until the channel is cancelled.
    void block_writes();
    // Each client write takes at most `size` bytes.
    void limit_write_size(std::size_t size);

    std::string written() const;
    // Payloads of the whole frames the client wrote.
    std::vector<std::string> frames_written() const;
    std::size_t bytes_waiting() const;
    bool client_closed() const;
    bool cancelled() const;
    // Waits on real time until the client has written `count` whole frames.
    bool wait_for_frames(std::size_t count, std::chrono::milliseconds limit) const;
    // Waits on real time until a client write is blocked (see block_writes).
    bool wait_for_blocked_write(std::chrono::milliseconds limit) const;

private:
    friend class ScriptedPipeChannel;
    struct ScriptedPipeNetworkState;

    bool client_bytes_waiting(std::size_t& count);
    bool client_read(std::uint8_t* buffer, std::size_t count, std::size_t& got);
    bool client_write(const std::uint8_t* data, std::size_t count, std::size_t& written);
    void client_wait(std::chrono::milliseconds limit);
    void client_cancel();
    void client_close();

    void deliver_locked(const std::string& bytes);
    void count_frames_locked();

    const std::shared_ptr<ManualMonotonicClock> clock_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<std::uint8_t> readable_;
    std::deque<std::string> pieces_;  // trickled bytes not yet readable
    std::multimap<std::size_t, std::string> replies_;
    std::size_t piece_size_ = 0;
    std::string written_;
    std::size_t parsed_ = 0;
    std::vector<std::string> frames_;
    std::size_t write_limit_ = 0;
    std::size_t hang_up_after_ = 0;
    std::string resend_;
    std::size_t resends_left_ = 0;
    std::chrono::nanoseconds read_cost_{0};
    bool hung_up_ = false;
    bool writes_fail_ = false;
    bool writes_block_ = false;
    bool write_blocked_ = false;
    bool cancelled_ = false;
    bool client_closed_ = false;
};

// A set of scripted pipes by full path, and the connector that opens them.
class ScriptedPipeNetwork {
public:
    explicit ScriptedPipeNetwork(std::shared_ptr<ManualMonotonicClock> clock = nullptr);

    // `busy_opens` attempts find the pipe busy before it opens; -1: always busy.
    void add(const std::string& path, std::shared_ptr<ScriptedPipeServer> server,
             int busy_opens = 0);

    std::unique_ptr<qop::network::PipeConnector> connector();

    std::vector<std::string> open_attempts() const;
    std::size_t instance_waits() const;

private:
    // Shared with the connectors it hands out, which may outlive this object.
    std::shared_ptr<ScriptedPipeNetworkState> shared_;
};

}  // namespace qop::test
