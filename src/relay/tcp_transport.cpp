#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <string_view>
#include <utility>

#include "relay/network_transport.hpp"
#include "relay/relay_socket.hpp"
#include "relay/socket_compat.hpp"
#include "relay/reliable_frame_reader.hpp"
#include "relay/tcp_handshake.hpp"
#include "shared/big_endian.hpp"

namespace qop::network {
namespace {

constexpr std::size_t kMaxQueuedFrames = 2048;
constexpr std::uint64_t kMaxQueuedBytes = 32ull * 1024 * 1024;
constexpr std::size_t kReceiveChunkBytes = 16384;
// The acknowledgement is read in steps of this size, so a relay that
// announces a huge frame costs only the memory of the bytes it really sends.
constexpr std::size_t kHandshakeReadStepBytes = 65536;
constexpr char kConnectCancelled[] = "TCP transport connect was cancelled";

// The length prefix, then the payload, replacing what `frame` held; `size`
// fits the 32-bit prefix.
void write_reliable_frame_into(const std::uint8_t* payload, std::size_t size,
                               std::vector<std::uint8_t>& frame) {
    frame.clear();
    frame.reserve(kReliableLengthBytes + size);
    append_u32_be(frame, static_cast<std::uint32_t>(size));
    frame.insert(frame.end(), payload, payload + size);
}

std::vector<std::uint8_t> make_reliable_frame(const std::uint8_t* payload, std::size_t size) {
    std::vector<std::uint8_t> frame;
    write_reliable_frame_into(payload, size, frame);
    return frame;
}

class TcpTransport final : public NetworkTransport {
public:
    TcpTransport(std::chrono::milliseconds handshake_deadline, SendPolicy send_policy)
        : handshake_deadline_(handshake_deadline), send_policy_(send_policy) {}
    ~TcpTransport() override { close(); }

    bool connect(const TransportEndpoint& endpoint, std::string& error) override;
    bool poll(std::vector<std::vector<std::uint8_t>>& frames, std::string& error) override;
    SendResult send(const std::vector<std::uint8_t>& payload, std::string& error) override;
    void close() override;
    TransportState state() const override { return state_; }
    std::uint8_t envelope_version() const override { return envelope_version_; }
    std::uint8_t player_slot() const override { return player_slot_; }
    std::uint8_t host_slot() const override { return host_slot_; }
    const std::vector<SlotRosterEntry>& slot_roster() const override { return roster_; }
    void cancel() override { cancel_requested_.store(true); }
    bool send_queue_can_take(std::size_t frames, std::uint64_t payload_bytes) const override {
        return queue_fits(send_queue_.size(), queued_bytes_, frames, payload_bytes);
    }
    bool send_queue_could_ever_take(std::size_t frames,
                                    std::uint64_t payload_bytes) const override {
        return queue_fits(0, 0, frames, payload_bytes);
    }
    bool poll_only_reads(std::uint64_t& socket) const override {
        // Frames an earlier poll left in the reader are handed out whether or
        // not the socket has more.
        if (state_ != TransportState::Connected || !send_queue_.empty() || write_failed_ ||
            reader_.can_cut()) {
            return false;
        }
        socket = static_cast<std::uint64_t>(socket_);
        return true;
    }

private:
    static bool queue_fits(std::size_t queued_frames, std::uint64_t queued_bytes,
                           std::size_t frames, std::uint64_t payload_bytes) {
        if (frames > kMaxQueuedFrames - queued_frames) {
            return false;
        }
        // Every frame carries its 4-byte length prefix in the queue. Compared
        // as "what is left" so that no size the caller names can wrap.
        const std::uint64_t room = kMaxQueuedBytes - queued_bytes;
        const std::uint64_t prefixes = kReliableLengthBytes * static_cast<std::uint64_t>(frames);
        return prefixes <= room && payload_bytes <= room - prefixes;
    }
    // close() without forgetting a cancel: connect() starts with it.
    void release();
    bool fail(std::string message, std::string& error);
    bool fail_connect(std::string message, std::string& error);
    bool write_reliable_frame(const std::string& bytes, const ConnectLimits& limits,
                              std::string& error);
    bool read_reliable_frame(std::vector<std::uint8_t>& bytes, const ConnectLimits& limits,
                             std::string& error);
    bool flush_send_queue(std::string& error);
    // Writes the frame straight to the socket while nothing is queued ahead
    // of it; what the socket does not take is queued.
    void write_through(const std::vector<std::uint8_t>& payload);
    bool receive_waiting(std::vector<std::vector<std::uint8_t>>& frames, std::string& error);
    // Cuts what the reader holds, at most `frame_budget` frames, and lowers
    // the budget by what it cut.
    bool cut_within(std::vector<std::vector<std::uint8_t>>& frames, std::size_t& frame_budget,
                    std::string& error);

    const std::chrono::milliseconds handshake_deadline_;
    const SendPolicy send_policy_;
    // The only member another thread touches (through cancel()).
    std::atomic<bool> cancel_requested_{false};
    SocketHandle socket_ = kInvalidSocket;
    TransportState state_ = TransportState::Idle;
    std::uint8_t envelope_version_ = 0;
    std::uint8_t player_slot_ = 0;
    std::uint8_t host_slot_ = 0;
    std::vector<SlotRosterEntry> roster_;

    std::uint32_t frame_limit_ = kDefaultReliableFrameLimit;
    ReliableFrameReader reader_;
    std::deque<std::vector<std::uint8_t>> send_queue_;
    std::uint64_t front_offset_ = 0;
    std::uint64_t queued_bytes_ = 0;
    // A write-through that failed: the next poll reports it, as a failed
    // write of the queue would be reported.
    bool write_failed_ = false;
    // Holds the frame being written through, kept between sends so that a
    // frame the socket takes whole costs no allocation.
    std::vector<std::uint8_t> write_through_frame_;
};

bool TcpTransport::fail(std::string message, std::string& error) {
    error = std::move(message);
    release();
    state_ = TransportState::Failed;
    return false;
}

// Whichever step noticed a cancel, the connect says that it was cancelled.
bool TcpTransport::fail_connect(std::string message, std::string& error) {
    return fail(cancel_requested_.load() ? std::string(kConnectCancelled) : std::move(message),
                error);
}

bool TcpTransport::connect(const TransportEndpoint& endpoint, std::string& error) {
    release();
    state_ = TransportState::Connecting;
    // One deadline for the whole connect, every address and the handshake: a
    // host with many addresses, or a relay that trickles its answer a byte at
    // a time, must not keep the worker waiting once per address or byte.
    const ConnectLimits limits = connect_limits_within(handshake_deadline_, &cancel_requested_);
    if (limits.cancel_requested()) {
        return fail_connect(kConnectCancelled, error);
    }
    socket_ = open_socket(endpoint, SOCK_STREAM, IPPROTO_TCP, limits, error);
    if (socket_ == kInvalidSocket) {
        return fail_connect(error, error);
    }
    set_tcp_no_delay(socket_);
    frame_limit_ =
        endpoint.frame_max_bytes == 0 ? kDefaultReliableFrameLimit : endpoint.frame_max_bytes;
    reader_.set_frame_limit(frame_limit_);

    std::string handshake;
    if (!encode_reliable_handshake(endpoint.token, handshake, error)) {
        return fail_connect(error, error);
    }
    std::vector<std::uint8_t> ack;
    if (!write_reliable_frame(handshake, limits, error) ||
        !read_reliable_frame(ack, limits, error)) {
        return fail_connect(error, error);
    }
    const std::string_view ack_text(reinterpret_cast<const char*>(ack.data()), ack.size());
    if (!parse_reliable_handshake_ack(ack_text, envelope_version_, player_slot_, host_slot_,
                                      roster_, error)) {
        return fail_connect(error, error);
    }
    // A cancel that came during the last step still wins: the caller has
    // given this connection up. The socket is already non-blocking.
    if (limits.cancel_requested()) {
        return fail_connect(kConnectCancelled, error);
    }
    state_ = TransportState::Connected;
    return true;
}

bool TcpTransport::write_reliable_frame(const std::string& bytes, const ConnectLimits& limits,
                                        std::string& error) {
    // The length prefix has 32 bits; nothing longer can be framed.
    if (bytes.empty() || bytes.size() > UINT32_MAX) {
        error = kReliableFrameOverLimit;
        return false;
    }
    const std::vector<std::uint8_t> frame =
        make_reliable_frame(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return send_all_before(socket_, frame.data(), frame.size(), limits, error);
}

bool TcpTransport::read_reliable_frame(std::vector<std::uint8_t>& bytes,
                                       const ConnectLimits& limits, std::string& error) {
    std::uint8_t prefix[kReliableLengthBytes];
    if (!recv_exact_before(socket_, prefix, sizeof(prefix), limits, error)) {
        return false;
    }
    std::uint32_t length = 0;
    if (!read_reliable_frame_length(prefix, frame_limit_, length, error)) {
        return false;
    }
    bytes.clear();
    while (bytes.size() < length) {
        const std::size_t filled = bytes.size();
        const std::size_t step = std::min<std::size_t>(length - filled, kHandshakeReadStepBytes);
        bytes.resize(filled + step);
        if (!recv_exact_before(socket_, bytes.data() + filled, step, limits, error)) {
            return false;
        }
    }
    return true;
}

SendResult TcpTransport::send(const std::vector<std::uint8_t>& payload, std::string& error) {
    if (state_ != TransportState::Connected) {
        error = "TCP transport is not connected";
        return SendResult::Failed;
    }
    if (payload.empty() || payload.size() > frame_limit_) {
        error = kReliableFrameOverLimit;
        return SendResult::OverLimit;
    }
    const std::uint64_t frame_bytes = kReliableLengthBytes + payload.size();
    if (send_queue_.size() >= kMaxQueuedFrames || queued_bytes_ + frame_bytes > kMaxQueuedBytes) {
        error = "TCP transport send queue is full";
        return SendResult::QueueFull;
    }
    if (send_policy_ == SendPolicy::WriteThroughWhenIdle && send_queue_.empty() && !write_failed_) {
        write_through(payload);
        return SendResult::Sent;
    }
    send_queue_.push_back(make_reliable_frame(payload.data(), payload.size()));
    queued_bytes_ += frame_bytes;
    return SendResult::Sent;
}

void TcpTransport::write_through(const std::vector<std::uint8_t>& payload) {
    write_reliable_frame_into(payload.data(), payload.size(), write_through_frame_);
    const std::int64_t sent =
        send_some(socket_, write_through_frame_.data(), write_through_frame_.size());
    if (sent > 0 && static_cast<std::uint64_t>(sent) == write_through_frame_.size()) {
        return;
    }
    std::uint64_t written = 0;
    if (sent > 0) {
        written = static_cast<std::uint64_t>(sent);
    } else if (sent == 0 || !is_would_block(last_socket_error())) {
        // The send itself succeeds: the caller learns of the broken
        // connection from the next poll, as it always has.
        write_failed_ = true;
    }
    // The rest waits, ahead of anything sent later.
    queued_bytes_ += write_through_frame_.size() - written;
    front_offset_ = written;
    send_queue_.push_back(std::move(write_through_frame_));
    write_through_frame_ = {};
}

bool TcpTransport::poll(std::vector<std::vector<std::uint8_t>>& frames, std::string& error) {
    if (state_ != TransportState::Connected) {
        return state_ != TransportState::Failed;
    }
    return flush_send_queue(error) && receive_waiting(frames, error);
}

bool TcpTransport::flush_send_queue(std::string& error) {
    if (write_failed_) {
        return fail("TCP transport send failed", error);
    }
    while (!send_queue_.empty()) {
        const std::vector<std::uint8_t>& front = send_queue_.front();
        const std::size_t offset = static_cast<std::size_t>(front_offset_);
        const std::int64_t sent = send_some(socket_, front.data() + offset, front.size() - offset);
        if (sent > 0) {
            front_offset_ += static_cast<std::uint64_t>(sent);
            queued_bytes_ -= static_cast<std::uint64_t>(sent);
            if (front_offset_ == front.size()) {
                send_queue_.pop_front();
                front_offset_ = 0;
            }
            continue;
        }
        if (sent < 0 && is_would_block(last_socket_error())) {
            return true;
        }
        return fail("TCP transport send failed", error);
    }
    return true;
}

bool TcpTransport::receive_waiting(std::vector<std::vector<std::uint8_t>>& frames,
                                   std::string& error) {
    // What is not read within the budgets stays in the socket for the next
    // poll; a frame cut in half, and whole frames beyond the frame budget,
    // stay in the reader, and those go first next time.
    std::size_t frame_budget = kTcpPollReceiveFrameBudget;
    if (!cut_within(frames, frame_budget, error)) {
        return false;
    }
    std::size_t budget = kTcpPollReceiveBudgetBytes;
    bool first_read = true;
    while (budget > 0 && frame_budget > 0) {
        // Received straight into the reader: no chunk is copied twice.
        const std::size_t step = std::min(kReceiveChunkBytes, budget);
        const std::int64_t received = receive_some(socket_, reader_.space(step), step);
        if (received > 0) {
            budget -= static_cast<std::size_t>(received);
            reader_.commit(static_cast<std::size_t>(received));
            // Cutting after every chunk keeps the buffer at one partial frame,
            // and frames that arrived whole before a close are still handed
            // out.
            if (!cut_within(frames, frame_budget, error)) {
                return false;
            }
            // A first read that did not fill its step took everything that
            // was waiting: asking again would only hear that nothing is left,
            // one system call later on every small delivery. What arrives
            // meanwhile, a close included, is read by the next poll. Once a
            // stream is flowing, reading goes on until the socket is empty:
            // the relay refills it as it is read, and a game that polls once
            // a frame would otherwise take no more than one socket buffer per
            // frame.
            if (first_read && static_cast<std::size_t>(received) < step) {
                return true;
            }
            first_read = false;
            continue;
        }
        if (received == 0) {
            return fail("TCP transport closed", error);
        }
        if (is_would_block(last_socket_error())) {
            return true;
        }
        return fail("TCP transport receive failed", error);
    }
    return true;
}

bool TcpTransport::cut_within(std::vector<std::vector<std::uint8_t>>& frames,
                              std::size_t& frame_budget, std::string& error) {
    const std::size_t before = frames.size();
    if (!reader_.cut(frames, error, frame_budget)) {
        return fail(kReliableFrameOverLimit, error);
    }
    frame_budget -= frames.size() - before;
    return true;
}

void TcpTransport::close() {
    release();
    cancel_requested_.store(false);
}

void TcpTransport::release() {
    if (socket_ != kInvalidSocket) {
        shutdown_both_directions(socket_);
        close_socket(socket_);
        socket_ = kInvalidSocket;
    }
    reader_.clear();
    send_queue_.clear();
    front_offset_ = 0;
    queued_bytes_ = 0;
    write_failed_ = false;
    roster_.clear();
    state_ = TransportState::Idle;
    envelope_version_ = 0;
    player_slot_ = 0;
    host_slot_ = 0;
}

}  // namespace

std::unique_ptr<NetworkTransport> make_tcp_transport(std::chrono::milliseconds handshake_deadline,
                                                     SendPolicy send_policy) {
    return std::make_unique<TcpTransport>(handshake_deadline, send_policy);
}

}  // namespace qop::network
