#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qop::network {

// What a relay transport connects with. Each transport reads only the fields
// that concern it: the TCP relay uses the frame limit, the UDP relay the
// payload limit and the requested envelope version.
struct TransportEndpoint {
    std::string host;
    std::uint16_t port = 0;
    std::string token;
    // UDP: the largest payload asked for; 0 takes the relay's value.
    std::uint32_t payload_max_bytes = 0;
    // TCP: the largest frame accepted and sent; 0 means 65536.
    std::uint32_t frame_max_bytes = 0;
    // UDP: the envelope version the hello requests; 0 requests none.
    std::uint8_t envelope_version = 0;
};

// One player of the room as the relay announced it. The slot (1 to 64) is the
// player's peer id in the engine's multiplayer layer; slot 1 is the host.
struct SlotRosterEntry {
    std::string player_id;
    std::uint8_t slot = 0;
};

enum class TransportState : std::int32_t {
    Idle = 0,
    Connecting = 1,
    Connected = 2,
    Failed = 3,
};

// When a send may write to the socket.
enum class SendPolicy {
    // A payload sent while nothing waits in the send queue is written at once
    // as far as the socket takes it, so that a game that sends after its poll
    // does not wait a frame; the rest, and everything sent behind it, waits
    // for the next poll. A write that fails there is reported by the next
    // poll, as a failed write of the queue always is: send itself refuses
    // only what it always refused, and a datagram that the socket refuses at
    // once as too large (no later write could send it either).
    WriteThroughWhenIdle,
    // Every payload waits in the queue until the next poll writes it.
    QueueUntilPoll,
};

// What became of one payload given to send(). The error text that comes with
// every result but Sent is for logs and the game's last error; callers decide
// on the value.
enum class SendResult {
    // Written to the socket or queued behind what waits there.
    Sent,
    // The send queue is full for now: nothing of the payload was taken, and a
    // later send, after a poll has written some of the queue, may succeed.
    QueueFull,
    // The payload itself is at fault (empty, over the negotiated limit, or
    // larger than one datagram the socket sends); the connection is fine.
    OverLimit,
    // The transport is not connected.
    Failed,
};

// A connection to one relay. Used by one thread at a time: connect blocks (it
// runs on a worker); poll and send never block once connected.
class NetworkTransport {
public:
    virtual ~NetworkTransport() = default;

    // Starts from a clean object, opens the socket and performs the relay's
    // handshake. On failure the transport ends in Failed with `error` set.
    virtual bool connect(const TransportEndpoint& endpoint, std::string& error) = 0;
    // Writes what the socket takes from the send queue, then appends every
    // received frame or datagram to `frames` (which it never clears).
    virtual bool poll(std::vector<std::vector<std::uint8_t>>& frames, std::string& error) = 0;
    // Sends one payload as the transport's SendPolicy says.
    virtual SendResult send(const std::vector<std::uint8_t>& payload, std::string& error) = 0;
    virtual void close() = 0;
    // May be called from any thread while another thread is inside connect():
    // makes that connect, and any connect that starts before the next close(),
    // fail promptly (within tens of milliseconds) with "... connect was
    // cancelled". Only name resolution cannot be interrupted; the connect
    // fails as soon as it returns. Does nothing else; the connecting thread
    // still owns the object and closes it.
    virtual void cancel() = 0;
    // True when send() would accept `frames` more payloads of `payload_bytes`
    // bytes in all right now (ignoring each payload's own size limit).
    virtual bool send_queue_can_take(std::size_t frames, std::uint64_t payload_bytes) const = 0;
    // True when they would fit an empty send queue: false means such a batch
    // can never be queued whole.
    virtual bool send_queue_could_ever_take(std::size_t frames,
                                            std::uint64_t payload_bytes) const = 0;
    // The largest payload send() accepts while connected; a transport that
    // sets no limit of its own answers UINT64_MAX.
    virtual std::uint64_t largest_payload_bytes() const { return UINT64_MAX; }
    // For a caller that asks about several transports in one system call
    // (transports_to_poll.hpp). True, with the socket in `socket` (the
    // system's handle widened to an integer), when poll() would do nothing
    // but read: connected, nothing queued to write and no failed write to
    // report. A poll then finds something only if that socket is readable.
    virtual bool poll_only_reads(std::uint64_t& socket) const {
        (void)socket;
        return false;
    }
    virtual TransportState state() const = 0;
    virtual std::uint8_t envelope_version() const = 0;
    virtual std::uint8_t player_slot() const = 0;
    virtual std::uint8_t host_slot() const = 0;
    virtual const std::vector<SlotRosterEntry>& slot_roster() const = 0;
};

// The whole connect to a relay, from the first address tried to the last byte
// of the acknowledgement, must finish within this time (name resolution,
// which cannot be interrupted, excepted).
inline constexpr std::chrono::milliseconds kRelayHandshakeDeadline{5000};

// One poll reads at most this much, so that a relay that sends faster than
// the game drains cannot hold the caller's thread or grow its memory without
// bound; the rest stays in the socket for the next poll. The TCP budget
// still lets a 60 Hz loop take several MiB per frame.
inline constexpr std::size_t kTcpPollReceiveBudgetBytes = 4u * 1024 * 1024;
// And at most this many frames, so that a flood of tiny frames, each of which
// costs the peer far more than its bytes, still costs a poll only a small part
// of a frame; what is left waits in the reader and the socket, in order.
inline constexpr std::size_t kTcpPollReceiveFrameBudget = 4096;
inline constexpr std::size_t kUdpPollDatagramBudget = 1024;

// Tests shorten the handshake deadline, and tests of the send queue itself
// keep every payload in it; everyone else takes the defaults.
std::unique_ptr<NetworkTransport> make_tcp_transport(
    std::chrono::milliseconds handshake_deadline = kRelayHandshakeDeadline,
    SendPolicy send_policy = SendPolicy::WriteThroughWhenIdle);
std::unique_ptr<NetworkTransport> make_udp_transport(
    std::chrono::milliseconds handshake_deadline = kRelayHandshakeDeadline,
    SendPolicy send_policy = SendPolicy::WriteThroughWhenIdle);

}  // namespace qop::network
