#include "support/fake_tcp_relay.hpp"

#include <google/protobuf/struct.pb.h>
#include <google/protobuf/util/json_util.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <map>
#include <utility>

#include "relay/socket_compat.hpp"
#include "support/fake_envelope_route.hpp"

namespace qop::test {

using network::SocketHandle;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A run of bytes that may not leave before `not_before`.
struct OutboundPiece {
    Bytes bytes;
    std::size_t written = 0;
    Clock::time_point not_before;
    bool close_after = false;
};

struct Connection {
    SocketHandle socket = network::kInvalidSocket;
    Bytes inbound;
    std::deque<OutboundPiece> outbound;
    bool answered = false;
    bool handshaken = false;
    bool reading_paused = false;
    bool closing = false;
    std::uint8_t slot = 0;
};

std::string json_escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

std::uint32_t read_u32_be(const std::uint8_t* bytes) {
    return (static_cast<std::uint32_t>(bytes[0]) << 24) |
           (static_cast<std::uint32_t>(bytes[1]) << 16) |
           (static_cast<std::uint32_t>(bytes[2]) << 8) | bytes[3];
}

}  // namespace

struct FakeTcpRelay::State {
    SocketHandle listener = network::kInvalidSocket;
    std::uint16_t port = 0;
    std::atomic<bool> stopping{false};
    std::vector<std::unique_ptr<Connection>> connections;
    std::vector<std::string> handshakes;
    std::map<std::uint8_t, std::vector<Bytes>> frames_from;
    std::map<std::uint8_t, std::vector<Bytes>> routed_to;
    std::vector<std::uint8_t> departed_slots;

    Connection* by_slot(std::uint8_t slot) {
        for (auto& connection : connections) {
            if (connection->handshaken && connection->slot == slot && !connection->closing) {
                return connection.get();
            }
        }
        return nullptr;
    }
};

namespace {

using State = FakeTcpRelay::State;

void queue_pieces(Connection& connection, const Bytes& bytes, std::vector<std::size_t> splits,
                  Clock::time_point first, std::chrono::milliseconds gap, bool close_after) {
    splits.push_back(bytes.size());
    std::sort(splits.begin(), splits.end());
    std::size_t start = 0;
    Clock::time_point when = first;
    for (const std::size_t split : splits) {
        const std::size_t end = std::min(split, bytes.size());
        if (end <= start) {
            continue;
        }
        OutboundPiece piece;
        piece.bytes.assign(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                           bytes.begin() + static_cast<std::ptrdiff_t>(end));
        piece.not_before = when;
        connection.outbound.push_back(std::move(piece));
        start = end;
        when += gap;
    }
    if (close_after) {
        OutboundPiece closer;
        closer.not_before = when;
        closer.close_after = true;
        connection.outbound.push_back(std::move(closer));
    }
}

std::string build_ack(const FakeTcpRelayOptions& options, std::uint8_t slot) {
    std::string text = "{\"type\": \"reliable_handshake_ack\"";
    if (options.selected_envelope_version >= 0) {
        text +=
            ", \"selectedEnvelopeVersion\": " + std::to_string(options.selected_envelope_version);
    }
    text += ", \"playerSlot\": " + std::to_string(slot) + ", \"hostSlot\": 1, \"playerSlots\": [";
    bool first = true;
    for (const FakeRelayPlayer& player : options.room) {
        text += first ? "" : ", ";
        first = false;
        text += "{\"playerId\": \"" + json_escape(player.player_id) +
                "\", \"slot\": " + std::to_string(player.slot) + "}";
    }
    text += "]}";
    return text;
}

const FakeRelayPlayer* check_handshake(const FakeTcpRelayOptions& options,
                                       const std::string& text) {
    using google::protobuf::Value;
    google::protobuf::Struct handshake;
    if (!google::protobuf::util::JsonStringToMessage(text, &handshake).ok()) {
        return nullptr;
    }
    const auto& fields = handshake.fields();
    auto field = [&](const char* key) -> const Value* {
        const auto it = fields.find(key);
        return it == fields.end() ? nullptr : &it->second;
    };
    const Value* type = field("type");
    const Value* version = field("version");
    const Value* token = field("token");
    const Value* supported = field("supportedEnvelopeVersions");
    if (type == nullptr || type->string_value() != "reliable_handshake" || version == nullptr ||
        version->number_value() != 1.0 || token == nullptr ||
        token->kind_case() != Value::kStringValue || supported == nullptr) {
        return nullptr;
    }
    const auto& versions = supported->list_value().values();
    if (std::none_of(versions.begin(), versions.end(),
                     [](const Value& v) { return v.number_value() == 1.0; })) {
        return nullptr;
    }
    for (const FakeRelayPlayer& player : options.room) {
        if (player.token == token->string_value()) {
            return &player;
        }
    }
    return nullptr;
}

void answer_handshake(const FakeTcpRelayOptions& options, State& state, Connection& connection,
                      const std::string& text) {
    state.handshakes.push_back(text);
    const FakeRelayPlayer* player = check_handshake(options, text);
    if (player == nullptr) {
        queue_pieces(connection,
                     fake_relay_frame(std::string("{\"type\": \"reliable_handshake_rejected\"}")),
                     {}, Clock::now(), {}, true);
        return;
    }
    connection.handshaken = true;
    connection.slot = player->slot;
    Bytes reply = options.ack_bytes
                      ? *options.ack_bytes
                      : fake_relay_frame(options.ack_text ? *options.ack_text
                                                          : build_ack(options, player->slot));
    reply.insert(reply.end(), options.after_ack.begin(), options.after_ack.end());
    std::vector<std::size_t> splits;
    if (options.ack_trickle_interval.count() > 0) {
        for (std::size_t i = 1; i < reply.size(); ++i) {
            splits.push_back(i);
        }
    }
    queue_pieces(connection, reply, splits, Clock::now() + options.ack_delay,
                 options.ack_trickle_interval, options.close_after_ack);
}

void route_frame(const FakeTcpRelayOptions& options, State& state, Connection& sender,
                 Bytes payload) {
    std::vector<std::uint8_t> connected;
    for (const auto& connection : state.connections) {
        if (connection->handshaken && !connection->closing) {
            connected.push_back(connection->slot);
        }
    }
    std::vector<std::uint8_t> targets;
    if (options.selected_envelope_version == 1) {
        targets = fake_relay_targets(payload.data(), payload.size(), sender.slot, connected);
    } else {
        std::copy_if(connected.begin(), connected.end(), std::back_inserter(targets),
                     [&](std::uint8_t slot) { return slot != sender.slot; });
    }
    for (const std::uint8_t slot : targets) {
        Connection* target = state.by_slot(slot);
        if (target != nullptr) {
            state.routed_to[slot].push_back(payload);
            queue_pieces(*target, fake_relay_frame(payload), {}, Clock::now(), {}, false);
        }
    }
    state.frames_from[sender.slot].push_back(std::move(payload));
}

// Cuts the client's frames; the first is its handshake. A frame the relay
// cannot accept ends the connection.
void process_inbound(const FakeTcpRelayOptions& options, State& state, Connection& connection) {
    std::size_t offset = 0;
    while (connection.inbound.size() - offset >= 4) {
        const std::uint32_t length = read_u32_be(connection.inbound.data() + offset);
        if (length == 0 || length > options.frame_limit) {
            connection.closing = true;
            break;
        }
        if (connection.inbound.size() - offset - 4 < length) {
            break;
        }
        const auto begin = connection.inbound.begin() + static_cast<std::ptrdiff_t>(offset + 4);
        Bytes payload(begin, begin + length);
        offset += 4 + length;
        if (connection.handshaken) {
            route_frame(options, state, connection, std::move(payload));
        } else if (!connection.answered) {
            connection.answered = true;
            answer_handshake(options, state, connection,
                             std::string(payload.begin(), payload.end()));
        }
    }
    connection.inbound.erase(connection.inbound.begin(),
                             connection.inbound.begin() + static_cast<std::ptrdiff_t>(offset));
}

void read_from(const FakeTcpRelayOptions& options, State& state, Connection& connection) {
    std::uint8_t chunk[65536];
    for (;;) {
        const std::int64_t received =
            network::receive_some(connection.socket, chunk, sizeof(chunk));
        if (received > 0) {
            connection.inbound.insert(connection.inbound.end(), chunk, chunk + received);
            continue;
        }
        if (received < 0 && network::is_would_block(network::last_socket_error())) {
            break;
        }
        connection.closing = true;
        break;
    }
    process_inbound(options, state, connection);
}

void write_to(Connection& connection, Clock::time_point now) {
    while (!connection.outbound.empty() && connection.outbound.front().not_before <= now) {
        OutboundPiece& piece = connection.outbound.front();
        if (piece.close_after) {
            connection.outbound.clear();
            connection.closing = true;
            return;
        }
        const std::int64_t sent =
            network::send_some(connection.socket, piece.bytes.data() + piece.written,
                               piece.bytes.size() - piece.written);
        if (sent <= 0) {
            if (sent < 0 && network::is_would_block(network::last_socket_error())) {
                return;
            }
            connection.closing = true;
            return;
        }
        piece.written += static_cast<std::size_t>(sent);
        if (piece.written < piece.bytes.size()) {
            return;
        }
        connection.outbound.pop_front();
        // Pieces are separate writes: let each reach the wire on its own.
        if (!connection.outbound.empty() && connection.outbound.front().not_before <= now &&
            !connection.outbound.front().close_after) {
            return;
        }
    }
}

}  // namespace

std::vector<std::uint8_t> fake_relay_frame(const std::vector<std::uint8_t>& payload) {
    const auto length = static_cast<std::uint32_t>(payload.size());
    Bytes frame(4 + payload.size());
    for (int i = 0; i < 4; ++i) {
        frame[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    }
    std::copy(payload.begin(), payload.end(), frame.begin() + 4);
    return frame;
}

std::vector<std::uint8_t> fake_relay_frame(const std::string& text) {
    return fake_relay_frame(Bytes(text.begin(), text.end()));
}

FakeTcpRelay::FakeTcpRelay(FakeTcpRelayOptions options)
    : options_(std::move(options)), state_(std::make_unique<State>()) {}

FakeTcpRelay::~FakeTcpRelay() {
    stop();
}

bool FakeTcpRelay::start(std::string& error) {
    if (!network::start_socket_library()) {
        error = "socket library did not start";
        return false;
    }
    const SocketHandle listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listener == network::kInvalidSocket) {
        error = "socket() failed";
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof(address);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener, 16) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        !network::set_non_blocking(listener)) {
        network::close_socket(listener);
        error = "could not listen on 127.0.0.1";
        return false;
    }
    state_->listener = listener;
    state_->port = ntohs(address.sin_port);
    thread_ = std::thread([this] { run(); });
    return true;
}

void FakeTcpRelay::stop() {
    state_->stopping = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    for (auto& connection : state_->connections) {
        network::close_socket(connection->socket);
    }
    state_->connections.clear();
    if (state_->listener != network::kInvalidSocket) {
        network::close_socket(state_->listener);
        state_->listener = network::kInvalidSocket;
    }
}

std::uint16_t FakeTcpRelay::port() const {
    return state_->port;
}

network::TransportEndpoint FakeTcpRelay::endpoint(const std::string& token,
                                                  std::uint32_t frame_max_bytes) const {
    network::TransportEndpoint endpoint;
    endpoint.host = "127.0.0.1";
    endpoint.port = port();
    endpoint.token = token;
    endpoint.frame_max_bytes = frame_max_bytes;
    return endpoint;
}

void FakeTcpRelay::run() {
    while (!state_->stopping) {
        fd_set readable;
        fd_set writable;
        FD_ZERO(&readable);
        FD_ZERO(&writable);
        SocketHandle highest = state_->listener;
        auto wait = std::chrono::microseconds(2000);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            FD_SET(state_->listener, &readable);
            const Clock::time_point now = Clock::now();
            for (const auto& connection : state_->connections) {
                if (!connection->reading_paused) {
                    FD_SET(connection->socket, &readable);
                }
                if (!connection->outbound.empty()) {
                    const auto due = connection->outbound.front().not_before;
                    if (due <= now) {
                        FD_SET(connection->socket, &writable);
                    } else {
                        wait = std::min(
                            wait, std::chrono::duration_cast<std::chrono::microseconds>(due - now));
                    }
                }
                highest = std::max(highest, connection->socket);
            }
        }
        timeval timeout{};
        timeout.tv_usec = static_cast<long>(std::max<long long>(wait.count(), 100));
        // On Windows the first argument is ignored; elsewhere it bounds the sets.
        const int ready =
            ::select(static_cast<int>(highest) + 1, &readable, &writable, nullptr, &timeout);
        if (ready < 0) {
            continue;
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        if (FD_ISSET(state_->listener, &readable)) {
            for (;;) {
                const SocketHandle accepted = ::accept(state_->listener, nullptr, nullptr);
                if (accepted == network::kInvalidSocket) {
                    break;
                }
                network::set_non_blocking(accepted);
                network::set_tcp_no_delay(accepted);
                auto connection = std::make_unique<Connection>();
                connection->socket = accepted;
                state_->connections.push_back(std::move(connection));
            }
        }
        const Clock::time_point now = Clock::now();
        for (std::size_t i = 0; i < state_->connections.size(); ++i) {
            Connection& connection = *state_->connections[i];
            if (!connection.reading_paused && FD_ISSET(connection.socket, &readable)) {
                read_from(options_, *state_, connection);
            }
        }
        for (auto& connection : state_->connections) {
            if (!connection->closing) {
                write_to(*connection, now);
            }
        }
        auto& connections = state_->connections;
        for (auto it = connections.begin(); it != connections.end();) {
            if ((*it)->closing) {
                if ((*it)->handshaken) {
                    state_->departed_slots.push_back((*it)->slot);
                }
                network::close_socket((*it)->socket);
                it = connections.erase(it);
            } else {
                ++it;
            }
        }
        changed_.notify_all();
    }
}

bool FakeTcpRelay::wait_until(const std::function<bool()>& condition,
                              std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, condition);
}

bool FakeTcpRelay::wait_for_players(std::size_t count, std::chrono::milliseconds limit) {
    return wait_until(
        [&] {
            return static_cast<std::size_t>(std::count_if(
                       state_->connections.begin(), state_->connections.end(),
                       [](const auto& c) { return c->handshaken && !c->closing; })) >= count;
        },
        limit);
}

bool FakeTcpRelay::wait_for_frames_from(std::uint8_t slot, std::size_t count,
                                        std::chrono::milliseconds limit) {
    return wait_until([&] { return state_->frames_from[slot].size() >= count; }, limit);
}

bool FakeTcpRelay::wait_until_written(std::uint8_t slot, std::chrono::milliseconds limit) {
    return wait_until(
        [&] {
            const Connection* connection = state_->by_slot(slot);
            return connection == nullptr || connection->outbound.empty();
        },
        limit);
}

bool FakeTcpRelay::wait_for_disconnect(std::uint8_t slot, std::chrono::milliseconds limit) {
    return wait_until(
        [&] {
            const auto& gone = state_->departed_slots;
            return std::find(gone.begin(), gone.end(), slot) != gone.end();
        },
        limit);
}

std::vector<std::string> FakeTcpRelay::handshakes() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return state_->handshakes;
}

std::vector<std::vector<std::uint8_t>> FakeTcpRelay::frames_from(std::uint8_t slot) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return state_->frames_from[slot];
}

std::vector<std::vector<std::uint8_t>> FakeTcpRelay::take_frames_from(std::uint8_t slot) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(state_->frames_from[slot], {});
}

std::vector<std::vector<std::uint8_t>> FakeTcpRelay::frames_routed_to(std::uint8_t slot) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return state_->routed_to[slot];
}

void FakeTcpRelay::send_raw(std::uint8_t slot, std::vector<std::uint8_t> bytes,
                            std::vector<std::size_t> split_points, std::chrono::milliseconds gap) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (Connection* connection = state_->by_slot(slot)) {
        queue_pieces(*connection, bytes, std::move(split_points), Clock::now(), gap, false);
    }
}

void FakeTcpRelay::send_frame(std::uint8_t slot, const std::vector<std::uint8_t>& payload) {
    send_raw(slot, fake_relay_frame(payload));
}

void FakeTcpRelay::send_raw_then_close(std::uint8_t slot, std::vector<std::uint8_t> bytes) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (Connection* connection = state_->by_slot(slot)) {
        queue_pieces(*connection, bytes, {}, Clock::now(), {}, true);
    }
}

void FakeTcpRelay::pause_reading(std::uint8_t slot) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (Connection* connection = state_->by_slot(slot)) {
        connection->reading_paused = true;
    }
}

void FakeTcpRelay::resume_reading(std::uint8_t slot) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (Connection* connection = state_->by_slot(slot)) {
        connection->reading_paused = false;
    }
}

}  // namespace qop::test
