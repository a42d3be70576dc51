#include <algorithm>
#include <atomic>
#include <deque>

#include "relay/network_transport.hpp"
#include "relay/relay_socket.hpp"
#include "relay/socket_compat.hpp"
#include "relay/udp_acknowledgement.hpp"
#include "relay/udp_datagram.hpp"

namespace qop::network {
namespace {

constexpr std::uint32_t kInitialPayloadLimit = 1200;
// A payload may exceed the negotiated limit by this much (room for the envelope header).
constexpr std::uint64_t kPayloadAllowance = 512;
constexpr std::size_t kMaxQueuedDatagrams = 256;
// Room for the datagram header and whatever else the relay adds to a payload.
constexpr std::uint64_t kReceiveHeadroom = 1024;
// No UDP datagram is larger than this, so no receive buffer needs to be either. It also holds
// an acknowledgement with a full roster of long player ids.
constexpr std::size_t kLargestDatagram = 65536;
// What one UDP datagram over IPv4 carries (65535 less the IP and UDP headers):
// the socket refuses anything larger, whatever the relay negotiated.
constexpr std::uint64_t kLargestUdpPayload = 65507;
// Ahead of the payload in a data datagram: header and session id length (then the id).
constexpr std::uint64_t kDataHeaderBytes = kUdpHeaderBytes + 2;
constexpr char kPacketOverLimit[] = "UDP packet exceeds the negotiated limit";
// A payload that fits the negotiated limit but not a datagram the socket sends.
constexpr char kPacketTooLarge[] = "UDP packet exceeds the largest datagram";
constexpr char kConnectCancelled[] = "UDP transport connect was cancelled";

class UdpTransport final : public NetworkTransport {
public:
    UdpTransport(std::chrono::milliseconds handshake_deadline, SendPolicy send_policy)
        : handshake_deadline_(handshake_deadline), send_policy_(send_policy) {}
    ~UdpTransport() override { close(); }

    bool connect(const TransportEndpoint& endpoint, std::string& error) override;
    bool poll(std::vector<std::vector<std::uint8_t>>& frames, std::string& error) override;
    SendResult send(const std::vector<std::uint8_t>& payload, std::string& error) override;
    void close() override;

    TransportState state() const override { return state_; }
    std::uint8_t envelope_version() const override { return envelope_version_; }
    std::uint8_t player_slot() const override { return player_slot_; }
    std::uint8_t host_slot() const override { return host_slot_; }
    const std::vector<SlotRosterEntry>& slot_roster() const override { return roster_; }
    std::uint64_t largest_payload_bytes() const override;

    void cancel() override { cancel_requested_.store(true); }
    bool send_queue_can_take(std::size_t frames, std::uint64_t) const override {
        return frames <= kMaxQueuedDatagrams - send_queue_.size();
    }
    bool send_queue_could_ever_take(std::size_t frames, std::uint64_t) const override {
        return frames <= kMaxQueuedDatagrams;
    }
    bool poll_only_reads(std::uint64_t& socket) const override {
        if (state_ != TransportState::Connected || !send_queue_.empty() || write_failed_) {
            return false;
        }
        socket = static_cast<std::uint64_t>(socket_);
        return true;
    }

private:
    bool flush(std::string& error);
    // Writes the datagram straight to the socket while nothing is queued
    // ahead of it; one the socket cannot take now is queued. OverLimit only
    // when the socket refuses the datagram as too large.
    SendResult write_through(const std::vector<std::uint8_t>& payload, std::string& error);
    bool receive(std::vector<std::vector<std::uint8_t>>& frames, std::string& error);
    bool fail(std::string& error, const char* message);
    bool abandon();
    bool abandon_connect(std::string& error);
    // close() without forgetting a cancel: connect() starts with it.
    void release();

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
    std::vector<std::uint8_t> session_id_;
    std::uint32_t payload_limit_ = kInitialPayloadLimit;
    std::deque<std::vector<std::uint8_t>> send_queue_;
    std::vector<std::uint8_t> receive_buffer_;
    // A write-through that failed: the next poll reports it.
    bool write_failed_ = false;
    // Holds the datagram being written through, kept between sends so that
    // a datagram the socket takes costs no allocation.
    std::vector<std::uint8_t> write_through_datagram_;
};

bool UdpTransport::fail(std::string& error, const char* message) {
    error = message;
    return abandon();
}

// Closes everything and leaves the transport Failed; the caller has set the error.
bool UdpTransport::abandon() {
    release();
    state_ = TransportState::Failed;
    return false;
}

// Whichever step noticed a cancel, the connect says that it was cancelled.
bool UdpTransport::abandon_connect(std::string& error) {
    if (cancel_requested_.load()) {
        error = kConnectCancelled;
    }
    return abandon();
}

bool UdpTransport::connect(const TransportEndpoint& endpoint, std::string& error) {
    release();
    state_ = TransportState::Connecting;
    // One deadline for the whole connect: the socket, the hello and the wait
    // for its acknowledgement.
    const ConnectLimits limits = connect_limits_within(handshake_deadline_, &cancel_requested_);
    if (limits.cancel_requested()) {
        return abandon_connect(error);
    }
    socket_ = open_socket(endpoint, SOCK_DGRAM, IPPROTO_UDP, limits, error);
    if (socket_ == kInvalidSocket) {
        return abandon_connect(error);
    }
    const std::vector<std::uint8_t> hello =
        build_udp_hello(endpoint.token, endpoint.envelope_version);
    if (!send_all_before(socket_, hello.data(), hello.size(), limits, error)) {
        return abandon_connect(error);
    }

    // One receive, bounded by whatever is left of the deadline.
    std::vector<std::uint8_t> answer(kLargestDatagram);
    const std::int64_t received = receive_one_before(socket_, answer.data(), answer.size(), limits);
    UdpAcknowledgement acknowledgement;
    const std::size_t answer_size = received > 0 ? static_cast<std::size_t>(received) : 0;
    if (!parse_udp_acknowledgement(answer.data(), answer_size, endpoint.envelope_version,
                                   acknowledgement, error)) {
        return abandon_connect(error);
    }

    session_id_ = std::move(acknowledgement.session_id);
    payload_limit_ = negotiate_udp_payload_limit(endpoint.payload_max_bytes,
                                                 acknowledgement.relay_payload_max_bytes);
    envelope_version_ = endpoint.envelope_version;
    player_slot_ = acknowledgement.player_slot;
    host_slot_ = acknowledgement.host_slot;
    roster_ = std::move(acknowledgement.roster);

    const std::uint64_t wanted =
        static_cast<std::uint64_t>(payload_limit_) + session_id_.size() + kReceiveHeadroom;
    receive_buffer_.resize(
        static_cast<std::size_t>(std::min<std::uint64_t>(wanted, kLargestDatagram)));
    // A cancel that came during the last step still wins: the caller has
    // given this connection up. The socket is already non-blocking.
    if (limits.cancel_requested()) {
        return abandon_connect(error);
    }
    state_ = TransportState::Connected;
    return true;
}

SendResult UdpTransport::send(const std::vector<std::uint8_t>& payload, std::string& error) {
    if (state_ != TransportState::Connected) {
        error = "UDP transport is not connected";
        return SendResult::Failed;
    }
    if (payload.empty() || payload.size() > largest_payload_bytes()) {
        error = payload.empty() || payload.size() > payload_limit_ + kPayloadAllowance
                    ? kPacketOverLimit
                    : kPacketTooLarge;
        return SendResult::OverLimit;
    }
    if (send_queue_.size() >= kMaxQueuedDatagrams) {
        error = "UDP transport send queue is full";
        return SendResult::QueueFull;
    }
    if (send_policy_ == SendPolicy::WriteThroughWhenIdle && send_queue_.empty() && !write_failed_) {
        return write_through(payload, error);
    }
    send_queue_.push_back(build_udp_data(session_id_, payload));
    return SendResult::Sent;
}

std::uint64_t UdpTransport::largest_payload_bytes() const {
    const std::uint64_t header_bytes = kDataHeaderBytes + session_id_.size();
    const std::uint64_t carried =
        kLargestUdpPayload > header_bytes ? kLargestUdpPayload - header_bytes : 0;
    return std::min<std::uint64_t>(payload_limit_ + kPayloadAllowance, carried);
}

SendResult UdpTransport::write_through(const std::vector<std::uint8_t>& payload,
                                       std::string& error) {
    write_udp_data(session_id_, payload, write_through_datagram_);
    const std::int64_t sent =
        send_some(socket_, write_through_datagram_.data(), write_through_datagram_.size());
    if (sent >= 0 && static_cast<std::uint64_t>(sent) == write_through_datagram_.size()) {
        return SendResult::Sent;
    }
    const int reason = last_socket_error();
    if (sent < 0 && is_would_block(reason)) {
        send_queue_.push_back(std::move(write_through_datagram_));
        write_through_datagram_ = {};
        return SendResult::Sent;
    }
    // The packet is at fault, not the connection: nothing went out, and the
    // session goes on.
    if (sent < 0 && is_message_too_long(reason)) {
        error = kPacketTooLarge;
        return SendResult::OverLimit;
    }
    // The send itself succeeds: the caller learns of the failure from the
    // next poll, as it would have from that poll's own write.
    write_failed_ = true;
    return SendResult::Sent;
}

bool UdpTransport::poll(std::vector<std::vector<std::uint8_t>>& frames, std::string& error) {
    switch (state_) {
        case TransportState::Idle:
        case TransportState::Connecting:
            return true;
        case TransportState::Failed:
            return false;
        case TransportState::Connected:
            break;
    }
    return flush(error) && receive(frames, error);
}

bool UdpTransport::flush(std::string& error) {
    if (write_failed_) {
        return fail(error, "UDP transport send failed");
    }
    while (!send_queue_.empty()) {
        const std::vector<std::uint8_t>& datagram = send_queue_.front();
        const std::int64_t sent = send_some(socket_, datagram.data(), datagram.size());
        if (sent < 0 && is_would_block(last_socket_error())) {
            return true;
        }
        if (sent < 0 || static_cast<std::uint64_t>(sent) != datagram.size()) {
            return fail(error, "UDP transport send failed");
        }
        send_queue_.pop_front();
    }
    return true;
}

bool UdpTransport::receive(std::vector<std::vector<std::uint8_t>>& frames, std::string& error) {
    // Datagrams beyond the budget wait in the socket for the next poll.
    for (std::size_t taken = 0; taken < kUdpPollDatagramBudget; ++taken) {
        bool oversized = false;
        const std::int64_t received =
            receive_datagram(socket_, receive_buffer_.data(), receive_buffer_.size(), oversized);
        if (received > 0) {
            // Anything that is not data of this session is dropped without a word.
            take_udp_data_payload(receive_buffer_.data(), static_cast<std::size_t>(received),
                                  session_id_, frames);
            continue;
        }
        if (received == 0) {
            // An empty datagram is as foreign as any other; it does not end the session.
            continue;
        }
        if (!oversized && is_would_block(last_socket_error())) {
            return true;
        }
        return fail(error, "UDP transport receive failed");
    }
    return true;
}

void UdpTransport::close() {
    release();
    cancel_requested_.store(false);
}

void UdpTransport::release() {
    if (socket_ != kInvalidSocket) {
        close_socket(socket_);
        socket_ = kInvalidSocket;
    }
    receive_buffer_ = {};
    send_queue_.clear();
    write_failed_ = false;
    roster_.clear();
    session_id_.clear();
    state_ = TransportState::Idle;
    envelope_version_ = 0;
    player_slot_ = 0;
    host_slot_ = 0;
}

}  // namespace

std::unique_ptr<NetworkTransport> make_udp_transport(std::chrono::milliseconds handshake_deadline,
                                                     SendPolicy send_policy) {
    return std::make_unique<UdpTransport>(handshake_deadline, send_policy);
}

}  // namespace qop::network
