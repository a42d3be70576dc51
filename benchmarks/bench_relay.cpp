#include "bench_relay.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <google/protobuf/struct.pb.h>
#include <google/protobuf/util/json_util.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "shared/big_endian.hpp"

namespace qop::bench {
namespace {

constexpr std::size_t kTcpPrefixBytes = 4;
// The largest frame a client may send; the descriptor announces the peers'
// own limit, this one only guards the relay.
constexpr std::uint32_t kTcpFrameLimit = 16u * 1024 * 1024;
// A connection whose unwritten bytes pass this stops the others' reading
// until it drains, so no buffer grows without bound.
constexpr std::uint64_t kOutboundHighWater = 32u * 1024 * 1024;
constexpr std::size_t kReadStep = 256 * 1024;
constexpr std::size_t kReadBudgetPerTurn = 4u * 1024 * 1024;
constexpr std::size_t kLargestDatagram = 65536;
constexpr std::size_t kUdpHeaderBytes = 8;  // "QOPU", version, type, session id length
const std::uint8_t kUdpMagic[4] = {'Q', 'O', 'P', 'U'};
constexpr std::uint8_t kRouteHost = 0, kRouteBroadcast = 1, kRouteDirect = 2, kRouteMask = 3;
constexpr std::uint8_t kKindCustom = 0, kKindPeerToPeer = 1;
constexpr std::uint8_t kEnvelopeFragmentFlag = 0x02;

using qop::network::append_u16_be;
using qop::network::append_u32_be;
using qop::network::read_u16_be;
using qop::network::read_u32_be;

std::uint64_t slot_bit(std::uint8_t slot) {
    return slot >= 1 && slot <= 64 ? std::uint64_t{1} << (slot - 1) : 0;
}

// The slots an envelope is routed to, without its sender. False when the
// header is too short for its route or names an unknown one.
bool route_targets(const std::uint8_t* envelope, std::size_t size, std::uint8_t sender,
                   std::uint64_t& targets) {
    if (size < 4) {
        return false;
    }
    switch (envelope[2]) {
        case kRouteHost:
            targets = slot_bit(1);
            break;
        case kRouteBroadcast:
            targets = ~std::uint64_t{0};
            break;
        case kRouteDirect:
            if (size < 5) {
                return false;
            }
            targets = slot_bit(envelope[4]);
            break;
        case kRouteMask:
            if (size < 12) {
                return false;
            }
            targets = 0;
            for (int i = 0; i < 8; ++i) {
                targets = (targets << 8) | envelope[4 + i];
            }
            break;
        default:
            return false;
    }
    targets &= ~slot_bit(sender);
    return true;
}

// True for the last data frame of a packet cut into several: the envelope's
// payload is the room peer's frame ("QOPG", version, kind, mode, channel,
// sequence, message id, fragment index at 17, fragment count at 19, ...).
bool is_last_of_several_fragments(const std::uint8_t* envelope, std::size_t size) {
    if (size < 4 || envelope[1] != kKindPeerToPeer) {
        return false;
    }
    std::size_t at = 4;
    at += envelope[2] == kRouteDirect ? 1 : envelope[2] == kRouteMask ? 8 : 0;
    at += 4;  // P2P metadata
    if ((envelope[0] & kEnvelopeFragmentFlag) != 0) {
        at += 24;
    }
    if (size < at + 21 || std::memcmp(envelope + at, "QOPG", 4) != 0) {
        return false;
    }
    const std::uint16_t index = read_u16_be(envelope + at + 17);
    const std::uint16_t count = read_u16_be(envelope + at + 19);
    return count > 1 && index + 1 == count;
}

bool would_block() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

bool make_non_blocking(int socket) {
    return fcntl(socket, F_SETFL, fcntl(socket, F_GETFL) | O_NONBLOCK) == 0;
}

// Bytes kept between reads or writes: consumed from the front, appended at
// the back, moved down only when the front has grown past the rest.
class ByteQueue {
public:
    std::size_t size() const { return end_ - begin_; }
    bool empty() const { return end_ == begin_; }
    const std::uint8_t* data() const { return bytes_.data() + begin_; }
    void consume(std::size_t count) {
        begin_ += count;
        if (begin_ == end_) {
            begin_ = end_ = 0;
        }
    }
    // Room for at least `count` more bytes at the back.
    std::uint8_t* space(std::size_t count) {
        if (bytes_.size() - end_ < count && begin_ > 0) {
            std::memmove(bytes_.data(), bytes_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        if (bytes_.size() - end_ < count) {
            bytes_.resize(std::max(bytes_.size() * 2, end_ + count));
        }
        return bytes_.data() + end_;
    }
    std::size_t room() const { return bytes_.size() - end_; }
    void commit(std::size_t count) { end_ += count; }
    void append(const std::uint8_t* source, std::size_t count) {
        std::memcpy(space(count), source, count);
        commit(count);
    }

private:
    std::vector<std::uint8_t> bytes_;
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

}  // namespace

struct BenchRelay::Connection {
    int socket = -1;
    ByteQueue in;
    ByteQueue out;
    bool handshaken = false;
    bool closed = false;
    std::uint8_t slot = 0;
};

struct BenchRelay::UdpClient {
    sockaddr_in address{};
    std::uint8_t slot = 0;
    std::string session_id;
};

BenchRelay::BenchRelay(std::vector<RelaySeat> seats, std::uint32_t udp_payload_max_bytes,
                       Waiting waiting)
    : seats_(std::move(seats)),
      udp_payload_max_bytes_(udp_payload_max_bytes),
      waiting_(waiting),
      datagram_in_(kLargestDatagram) {
    datagram_out_.reserve(kLargestDatagram);
}

BenchRelay::~BenchRelay() {
    stop();
}

bool BenchRelay::start(std::string& error) {
    int wake_pipe[2];
    if (pipe(wake_pipe) != 0) {
        error = "relay: pipe failed";
        return false;
    }
    wake_read_ = wake_pipe[0];
    wake_write_ = wake_pipe[1];
    make_non_blocking(wake_read_);
    make_non_blocking(wake_write_);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    tcp_listener_ = socket(AF_INET, SOCK_STREAM, 0);
    if (tcp_listener_ < 0 ||
        bind(tcp_listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(tcp_listener_, 16) != 0 ||
        getsockname(tcp_listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        !make_non_blocking(tcp_listener_)) {
        error = std::string("relay: TCP listen failed: ") + std::strerror(errno);
        return false;
    }
    tcp_port_ = ntohs(address.sin_port);

    address.sin_port = 0;
    length = sizeof(address);
    udp_socket_ = socket(AF_INET, SOCK_DGRAM, 0);
    if (udp_socket_ < 0 ||
        bind(udp_socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(udp_socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        !make_non_blocking(udp_socket_)) {
        error = std::string("relay: UDP bind failed: ") + std::strerror(errno);
        return false;
    }
    udp_port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
    return true;
}

void BenchRelay::stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        wake();
        thread_.join();
    }
    for (auto& connection : connections_) {
        close(connection->socket);
    }
    connections_.clear();
    for (int* descriptor : {&tcp_listener_, &udp_socket_, &wake_read_, &wake_write_}) {
        if (*descriptor >= 0) {
            close(*descriptor);
            *descriptor = -1;
        }
    }
}

void BenchRelay::wake() {
    const std::uint8_t byte = 1;
    // A full pipe already holds a wake-up.
    (void)!write(wake_write_, &byte, 1);
}

void BenchRelay::hold_last_fragments_to(std::uint8_t slot) {
    hold_slot_ = slot;
}

void BenchRelay::release_held() {
    hold_slot_ = 0;
    release_requested_ = true;
    wake();
}

std::uint64_t BenchRelay::tcp_bytes_pending_to(std::uint8_t slot) const {
    return slot <= 64 ? pending_to_[slot].load() : 0;
}

const RelaySeat* BenchRelay::seat_of_token(const std::string& token) const {
    for (const RelaySeat& seat : seats_) {
        if (seat.token == token) {
            return &seat;
        }
    }
    return nullptr;
}

void BenchRelay::run() {
    std::vector<pollfd> watched;
    while (!stopping_.load()) {
        bool backed_up = false;
        for (const auto& connection : connections_) {
            backed_up = backed_up || connection->out.size() > kOutboundHighWater;
        }
        watched.clear();
        watched.push_back({wake_read_, POLLIN, 0});
        watched.push_back({tcp_listener_, POLLIN, 0});
        watched.push_back({udp_socket_, POLLIN, 0});
        for (const auto& connection : connections_) {
            short events = backed_up ? 0 : POLLIN;
            if (!connection->out.empty()) {
                events |= POLLOUT;
            }
            watched.push_back({connection->socket, events, 0});
        }
        const int ready = poll(watched.data(), watched.size(), waiting_ == Waiting::Spin ? 0 : -1);
        if (ready <= 0) {
            continue;  // nothing yet (spinning), or interrupted
        }
        if (watched[0].revents != 0) {
            std::uint8_t drain[64];
            while (read(wake_read_, drain, sizeof(drain)) > 0) {
            }
        }
        if (release_requested_.exchange(false)) {
            release_held_frames();
        }
        if (watched[1].revents != 0) {
            accept_connections();
        }
        if (watched[2].revents != 0) {
            serve_udp();
        }
        // Connections accepted in this turn were not watched yet.
        for (std::size_t i = 3; i < watched.size(); ++i) {
            Connection& connection = *connections_[i - 3];
            if ((watched[i].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                read_tcp(connection);
            }
            if ((watched[i].revents & POLLOUT) != 0) {
                write_tcp(connection);
            }
        }
        for (auto it = connections_.begin(); it != connections_.end();) {
            if ((*it)->closed) {
                close((*it)->socket);
                pending_to_[(*it)->slot] = 0;
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
}

void BenchRelay::accept_connections() {
    for (;;) {
        const int accepted = accept(tcp_listener_, nullptr, nullptr);
        if (accepted < 0) {
            return;
        }
        const int enabled = 1;
        setsockopt(accepted, IPPROTO_TCP, TCP_NODELAY, &enabled, sizeof(enabled));
        make_non_blocking(accepted);
        auto connection = std::make_unique<Connection>();
        connection->socket = accepted;
        connections_.push_back(std::move(connection));
    }
}

void BenchRelay::read_tcp(Connection& connection) {
    std::size_t budget = kReadBudgetPerTurn;
    while (budget > 0 && !connection.closed) {
        std::uint8_t* space = connection.in.space(kReadStep);
        const std::size_t room = std::min(connection.in.room(), budget);
        const ssize_t received = recv(connection.socket, space, room, 0);
        if (received > 0) {
            connection.in.commit(static_cast<std::size_t>(received));
            budget -= static_cast<std::size_t>(received);
            cut_tcp_frames(connection);
            if (static_cast<std::size_t>(received) < room) {
                return;  // drained
            }
            continue;
        }
        if (received < 0 && would_block()) {
            return;
        }
        connection.closed = true;
    }
}

void BenchRelay::cut_tcp_frames(Connection& connection) {
    while (!connection.closed && connection.in.size() >= kTcpPrefixBytes) {
        const std::uint32_t length = read_u32_be(connection.in.data());
        if (length == 0 || length > kTcpFrameLimit) {
            connection.closed = true;
            return;
        }
        if (connection.in.size() - kTcpPrefixBytes < length) {
            return;
        }
        const std::uint8_t* payload = connection.in.data() + kTcpPrefixBytes;
        if (connection.handshaken) {
            forward_tcp(connection, payload, length);
        } else {
            answer_handshake(connection, payload, length);
        }
        connection.in.consume(kTcpPrefixBytes + length);
    }
}

void BenchRelay::answer_handshake(Connection& connection, const std::uint8_t* payload,
                                  std::size_t size) {
    using google::protobuf::Value;
    google::protobuf::Struct handshake;
    const std::string text(reinterpret_cast<const char*>(payload), size);
    const RelaySeat* seat = nullptr;
    if (google::protobuf::util::JsonStringToMessage(text, &handshake).ok()) {
        const auto& fields = handshake.fields();
        const auto type = fields.find("type");
        const auto version = fields.find("version");
        const auto token = fields.find("token");
        const auto supported = fields.find("supportedEnvelopeVersions");
        bool offers_v1 = false;
        if (supported != fields.end()) {
            for (const Value& offered : supported->second.list_value().values()) {
                offers_v1 = offers_v1 || offered.number_value() == 1.0;
            }
        }
        if (type != fields.end() && type->second.string_value() == "reliable_handshake" &&
            version != fields.end() && version->second.number_value() == 1.0 &&
            token != fields.end() && offers_v1) {
            seat = seat_of_token(token->second.string_value());
        }
    }
    std::string answer;
    if (seat == nullptr) {
        answer = "{\"type\": \"reliable_handshake_rejected\"}";
        connection.closed = true;
    } else {
        answer =
            "{\"type\": \"reliable_handshake_ack\", \"selectedEnvelopeVersion\": 1, "
            "\"playerSlot\": " +
            std::to_string(seat->slot) + ", \"hostSlot\": 1, \"playerSlots\": [";
        for (std::size_t i = 0; i < seats_.size(); ++i) {
            answer += (i == 0 ? "" : ", ");
            answer += "{\"playerId\": \"" + seats_[i].player_id +
                      "\", \"slot\": " + std::to_string(seats_[i].slot) + "}";
        }
        answer += "]}";
        connection.handshaken = true;
        connection.slot = seat->slot;
    }
    queue_tcp(connection, reinterpret_cast<const std::uint8_t*>(answer.data()), answer.size());
    write_tcp(connection);
}

void BenchRelay::forward_tcp(Connection& sender, const std::uint8_t* payload, std::size_t size) {
    std::uint64_t targets = 0;
    if (!route_targets(payload, size, sender.slot, targets)) {
        return;
    }
    const int hold_slot = hold_slot_.load();
    for (const auto& target : connections_) {
        if (!target->handshaken || target->closed || (targets & slot_bit(target->slot)) == 0) {
            continue;
        }
        if (target->slot == hold_slot && is_last_of_several_fragments(payload, size)) {
            held_.push_back({target->slot, std::vector<std::uint8_t>(payload, payload + size)});
            held_count_ = held_.size();
            continue;
        }
        queue_tcp(*target, payload, size);
        write_tcp(*target);
    }
}

void BenchRelay::queue_tcp(Connection& target, const std::uint8_t* payload, std::size_t size) {
    std::uint8_t* space = target.out.space(kTcpPrefixBytes + size);
    space[0] = static_cast<std::uint8_t>(size >> 24);
    space[1] = static_cast<std::uint8_t>(size >> 16);
    space[2] = static_cast<std::uint8_t>(size >> 8);
    space[3] = static_cast<std::uint8_t>(size);
    std::memcpy(space + kTcpPrefixBytes, payload, size);
    target.out.commit(kTcpPrefixBytes + size);
    pending_to_[target.slot] = target.out.size();
}

void BenchRelay::write_tcp(Connection& connection) {
    while (!connection.out.empty() && !connection.closed) {
        const ssize_t sent =
            send(connection.socket, connection.out.data(), connection.out.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            connection.out.consume(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && would_block()) {
            break;
        }
        connection.closed = true;
    }
    pending_to_[connection.slot] = connection.out.size();
}

void BenchRelay::release_held_frames() {
    std::vector<HeldFrame> frames;
    frames.swap(held_);
    held_count_ = 0;
    for (const HeldFrame& frame : frames) {
        for (const auto& target : connections_) {
            if (target->handshaken && !target->closed && target->slot == frame.slot) {
                queue_tcp(*target, frame.payload.data(), frame.payload.size());
                write_tcp(*target);
            }
        }
    }
}

void BenchRelay::serve_udp() {
    for (int taken = 0; taken < 1024; ++taken) {
        sockaddr_in from{};
        socklen_t from_length = sizeof(from);
        const ssize_t received = recvfrom(udp_socket_, datagram_in_.data(), datagram_in_.size(), 0,
                                          reinterpret_cast<sockaddr*>(&from), &from_length);
        if (received < 0) {
            return;  // drained (or an error reported for an earlier send)
        }
        const auto size = static_cast<std::size_t>(received);
        if (size < kUdpHeaderBytes || std::memcmp(datagram_in_.data(), kUdpMagic, 4) != 0 ||
            datagram_in_[4] != 1) {
            continue;
        }
        if (datagram_in_[5] == 1) {
            answer_hello(datagram_in_.data(), size, &from, from_length);
        } else if (datagram_in_[5] == 3) {
            forward_udp(datagram_in_.data(), size, &from, from_length);
        }
    }
}

void BenchRelay::answer_hello(const std::uint8_t* datagram, std::size_t size, const void* from,
                              unsigned from_length) {
    const std::size_t token_length = read_u16_be(datagram + 6);
    if (size != 8 + token_length && size != 9 + token_length) {
        return;
    }
    const RelaySeat* seat =
        seat_of_token(std::string(reinterpret_cast<const char*>(datagram + 8), token_length));
    if (seat == nullptr) {
        return;  // an unknown token gets no answer
    }
    const std::uint8_t version = size == 9 + token_length ? datagram[8 + token_length] : 0;
    auto client = std::make_unique<UdpClient>();
    std::memcpy(&client->address, from, std::min<std::size_t>(from_length, sizeof(sockaddr_in)));
    client->slot = seat->slot;
    client->session_id = "udp-session-" + std::to_string(seat->slot);

    std::vector<std::uint8_t> ack(kUdpMagic, kUdpMagic + 4);
    ack.push_back(1);
    ack.push_back(2);
    append_u16_be(ack, static_cast<std::uint16_t>(client->session_id.size()));
    ack.insert(ack.end(), client->session_id.begin(), client->session_id.end());
    append_u32_be(ack, udp_payload_max_bytes_);
    ack.insert(ack.end(), 8, 0);  // the relay's own bytes
    if (version != 0) {
        ack.push_back(version);
        ack.push_back(seat->slot);
        ack.push_back(1);
        ack.push_back(static_cast<std::uint8_t>(seats_.size()));
        for (const RelaySeat& other : seats_) {
            ack.push_back(other.slot);
            append_u16_be(ack, static_cast<std::uint16_t>(other.player_id.size()));
            ack.insert(ack.end(), other.player_id.begin(), other.player_id.end());
        }
    }
    udp_clients_.erase(std::remove_if(udp_clients_.begin(), udp_clients_.end(),
                                      [&](const auto& c) { return c->slot == seat->slot; }),
                       udp_clients_.end());
    sendto(udp_socket_, ack.data(), ack.size(), 0,
           reinterpret_cast<const sockaddr*>(&client->address), sizeof(client->address));
    udp_clients_.push_back(std::move(client));
}

void BenchRelay::forward_udp(const std::uint8_t* datagram, std::size_t size, const void* from,
                             unsigned from_length) {
    const UdpClient* sender = nullptr;
    for (const auto& client : udp_clients_) {
        if (from_length >= sizeof(sockaddr_in) &&
            std::memcmp(&client->address, from, sizeof(sockaddr_in)) == 0) {
            sender = client.get();
        }
    }
    if (sender == nullptr) {
        return;
    }
    const std::size_t id_length = read_u16_be(datagram + 6);
    if (id_length != sender->session_id.size() || size <= kUdpHeaderBytes + id_length ||
        std::memcmp(datagram + kUdpHeaderBytes, sender->session_id.data(), id_length) != 0) {
        return;
    }
    const std::uint8_t* envelope = datagram + kUdpHeaderBytes + id_length;
    const std::size_t envelope_size = size - kUdpHeaderBytes - id_length;
    std::uint64_t targets = 0;
    if (!route_targets(envelope, envelope_size, sender->slot, targets)) {
        return;
    }
    for (const auto& target : udp_clients_) {
        if ((targets & slot_bit(target->slot)) == 0) {
            continue;
        }
        datagram_out_.assign(datagram, datagram + 6);
        append_u16_be(datagram_out_, static_cast<std::uint16_t>(target->session_id.size()));
        datagram_out_.insert(datagram_out_.end(), target->session_id.begin(),
                             target->session_id.end());
        datagram_out_.insert(datagram_out_.end(), envelope, envelope + envelope_size);
        sendto(udp_socket_, datagram_out_.data(), datagram_out_.size(), 0,
               reinterpret_cast<const sockaddr*>(&target->address), sizeof(target->address));
    }
}

}  // namespace qop::bench
