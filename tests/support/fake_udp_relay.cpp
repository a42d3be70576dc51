#include "support/fake_udp_relay.hpp"

#include <algorithm>
#include <cstring>

namespace qop::test {
namespace {

#ifdef _WIN32
using AddressLength = int;
#else
using AddressLength = socklen_t;
#endif

constexpr std::size_t kLargestDatagram = 65536;
const std::uint8_t kMagic[4] = {'Q', 'O', 'P', 'U'};

bool has_header(const std::uint8_t* datagram, std::size_t size, std::uint8_t type) {
    return size >= 8 && std::memcmp(datagram, kMagic, 4) == 0 && datagram[4] == 1 &&
           datagram[5] == type;
}

std::size_t read_u16(const std::uint8_t* bytes) {
    return (static_cast<std::size_t>(bytes[0]) << 8) | bytes[1];
}

void put_u16(std::vector<std::uint8_t>& out, std::size_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    put_u16(out, value >> 16);
    put_u16(out, value & 0xFFFF);
}

void put_header(std::vector<std::uint8_t>& out, std::uint8_t type) {
    out.insert(out.end(), std::begin(kMagic), std::end(kMagic));
    out.push_back(1);
    out.push_back(type);
}

// The relay's own reading of an envelope route: which slots a payload goes to. Returns false
// for anything too short to carry its route.
bool read_route_targets(const std::vector<std::uint8_t>& payload, std::uint8_t sender_slot,
                        std::uint64_t& slots) {
    if (payload.size() < 4) {
        return false;
    }
    switch (payload[2]) {
        case 0:  // to the host
            slots = 1;
            return true;
        case 1:  // to everybody else
            slots = ~std::uint64_t{0};
            break;
        case 2:  // to one slot
            if (payload.size() < 5 || payload[4] < 1 || payload[4] > 64) {
                return false;
            }
            slots = std::uint64_t{1} << (payload[4] - 1);
            return true;
        case 3:  // to a set of slots
            if (payload.size() < 12) {
                return false;
            }
            slots = 0;
            for (int i = 0; i < 8; ++i) {
                slots = (slots << 8) | payload[4 + i];
            }
            return true;
        default:
            return false;
    }
    if (sender_slot >= 1 && sender_slot <= 64) {
        slots &= ~(std::uint64_t{1} << (sender_slot - 1));
    }
    return true;
}

}  // namespace

FakeUdpRelay::FakeUdpRelay(std::vector<Player> room, std::uint32_t payload_max_bytes)
    : room_(std::move(room)), payload_max_bytes_(payload_max_bytes) {}

FakeUdpRelay::~FakeUdpRelay() {
    stop();
}

bool FakeUdpRelay::start(std::string& error) {
    if (!network::start_socket_library()) {
        error = "socket library did not start";
        return false;
    }
    socket_ = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket_ == network::kInvalidSocket) {
        error = "socket failed";
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    AddressLength length = sizeof(address);
    if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = "bind failed";
        network::close_socket(socket_);
        socket_ = network::kInvalidSocket;
        return false;
    }
    port_ = ntohs(address.sin_port);
    // A short receive time-out lets the loop notice stop() promptly.
    network::set_receive_timeout(socket_, std::chrono::milliseconds(20));
    thread_ = std::thread([this] { run(); });
    return true;
}

void FakeUdpRelay::stop() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (socket_ != network::kInvalidSocket) {
        network::close_socket(socket_);
        socket_ = network::kInvalidSocket;
    }
}

void FakeUdpRelay::run() {
    std::vector<std::uint8_t> buffer(kLargestDatagram);
    while (!stopping_) {
        sockaddr_storage from{};
        AddressLength from_length = sizeof(from);
        const auto received = ::recvfrom(socket_, reinterpret_cast<char*>(buffer.data()),
                                         static_cast<int>(buffer.size()), 0,
                                         reinterpret_cast<sockaddr*>(&from), &from_length);
        if (received < 0) {
            continue;  // time-out (or an error reported for an earlier send): look again
        }
        const auto* raw = reinterpret_cast<const std::uint8_t*>(&from);
        handle(buffer.data(), static_cast<std::size_t>(received),
               std::vector<std::uint8_t>(raw, raw + from_length));
    }
}

void FakeUdpRelay::handle(const std::uint8_t* datagram, std::size_t size,
                          const std::vector<std::uint8_t>& from) {
    if (has_header(datagram, size, 1)) {
        handle_hello(datagram, size, from);
    } else if (has_header(datagram, size, 3)) {
        handle_data(datagram, size, from);
    }
}

void FakeUdpRelay::handle_hello(const std::uint8_t* datagram, std::size_t size,
                                const std::vector<std::uint8_t>& from) {
    std::vector<std::uint8_t> answer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        hellos_.emplace_back(datagram, datagram + size);
        const std::size_t token_length = read_u16(datagram + 6);
        if (size != 8 + token_length && size != 9 + token_length) {
            return;
        }
        const std::string token(reinterpret_cast<const char*>(datagram + 8), token_length);
        const auto player = std::find_if(room_.begin(), room_.end(),
                                         [&](const Player& p) { return p.token == token; });
        if (player == room_.end()) {
            return;  // unknown tokens get no answer
        }
        Client client;
        client.player = &*player;
        client.address = from;
        client.session_id = session_id_for(*player);
        client.envelope_version = size == 9 + token_length ? datagram[8 + token_length] : 0;
        clients_.erase(std::remove_if(clients_.begin(), clients_.end(),
                                      [&](const Client& c) { return c.player == client.player; }),
                       clients_.end());
        clients_.push_back(client);
        if (holding_) {
            held_hellos_.push_back(from);
            return;
        }
        answer = raw_answer_set_ ? raw_answer_ : acknowledgement_for(client);
    }
    send_to(from, answer);
}

std::vector<std::uint8_t> FakeUdpRelay::acknowledgement_for(const Client& client) const {
    std::vector<std::uint8_t> ack;
    put_header(ack, 2);
    put_u16(ack, client.session_id.size());
    ack.insert(ack.end(), client.session_id.begin(), client.session_id.end());
    put_u32(ack, payload_max_bytes_);
    ack.insert(ack.end(), 8, 0xEE);  // the relay's own bytes
    if (client.envelope_version == 0) {
        return ack;
    }
    ack.push_back(client.envelope_version);
    ack.push_back(client.player->slot);
    ack.push_back(1);
    ack.push_back(static_cast<std::uint8_t>(room_.size()));
    for (const Player& player : room_) {
        ack.push_back(player.slot);
        put_u16(ack, player.player_id.size());
        ack.insert(ack.end(), player.player_id.begin(), player.player_id.end());
    }
    return ack;
}

void FakeUdpRelay::handle_data(const std::uint8_t* datagram, std::size_t size,
                               const std::vector<std::uint8_t>& from) {
    std::vector<std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>> sends;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        received_data_.emplace_back(datagram, datagram + size);
        const auto sender = std::find_if(clients_.begin(), clients_.end(),
                                         [&](const Client& c) { return c.address == from; });
        const std::size_t id_length = read_u16(datagram + 6);
        if (sender == clients_.end() || id_length != sender->session_id.size() ||
            size <= 8 + id_length ||
            !std::equal(sender->session_id.begin(), sender->session_id.end(), datagram + 8)) {
            return;
        }
        const std::vector<std::uint8_t> payload(datagram + 8 + id_length, datagram + size);
        for (const Client* target : recipients(*sender, payload)) {
            std::vector<std::uint8_t> out;
            put_header(out, 3);
            put_u16(out, target->session_id.size());
            out.insert(out.end(), target->session_id.begin(), target->session_id.end());
            out.insert(out.end(), payload.begin(), payload.end());
            forwarded_.push_back({sender->player->player_id, target->player->player_id, out});
            sends.emplace_back(target->address, std::move(out));
        }
    }
    for (const auto& [address, bytes] : sends) {
        send_to(address, bytes);
    }
}

std::vector<const FakeUdpRelay::Client*> FakeUdpRelay::recipients(
    const Client& sender, const std::vector<std::uint8_t>& payload) const {
    std::uint64_t slots = ~std::uint64_t{0};
    if (sender.envelope_version != 0 && !read_route_targets(payload, sender.player->slot, slots)) {
        return {};
    }
    std::vector<const Client*> out;
    for (const Client& client : clients_) {
        const std::uint8_t slot = client.player->slot;
        if (&client != &sender && slot >= 1 && slot <= 64 &&
            (slots & (std::uint64_t{1} << (slot - 1))) != 0) {
            out.push_back(&client);
        }
    }
    return out;
}

void FakeUdpRelay::send_to(const std::vector<std::uint8_t>& address,
                           const std::vector<std::uint8_t>& bytes) {
    ::sendto(socket_, reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()),
             0, reinterpret_cast<const sockaddr*>(address.data()),
             static_cast<AddressLength>(address.size()));
}

void FakeUdpRelay::answer_hellos_with(std::vector<std::uint8_t> raw_acknowledgement) {
    std::lock_guard<std::mutex> lock(mutex_);
    raw_answer_set_ = true;
    raw_answer_ = std::move(raw_acknowledgement);
}

void FakeUdpRelay::hold_acknowledgements() {
    std::lock_guard<std::mutex> lock(mutex_);
    holding_ = true;
}

void FakeUdpRelay::release_acknowledgements() {
    std::vector<std::pair<std::vector<std::uint8_t>, std::vector<std::uint8_t>>> sends;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        holding_ = false;
        for (const auto& address : held_hellos_) {
            for (const Client& client : clients_) {
                if (client.address == address) {
                    sends.emplace_back(address,
                                       raw_answer_set_ ? raw_answer_ : acknowledgement_for(client));
                }
            }
        }
        held_hellos_.clear();
    }
    for (const auto& [address, bytes] : sends) {
        send_to(address, bytes);
    }
}

std::vector<std::uint8_t> FakeUdpRelay::address_of(const std::string& player_id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::uint8_t> address;
    for (const Client& client : clients_) {
        if (client.player->player_id == player_id) {
            address = client.address;
        }
    }
    return address;
}

bool FakeUdpRelay::inject(const std::string& player_id, const std::vector<std::uint8_t>& datagram) {
    return inject_burst(player_id, {datagram});
}

bool FakeUdpRelay::inject_burst(const std::string& player_id,
                                const std::vector<std::vector<std::uint8_t>>& datagrams) {
    const std::vector<std::uint8_t> address = address_of(player_id);
    if (address.empty()) {
        return false;
    }
    for (const auto& datagram : datagrams) {
        send_to(address, datagram);
    }
    return true;
}

std::vector<std::vector<std::uint8_t>> FakeUdpRelay::hellos() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hellos_;
}

std::vector<std::vector<std::uint8_t>> FakeUdpRelay::received_data() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_data_;
}

std::vector<FakeUdpRelay::Forwarded> FakeUdpRelay::forwarded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return forwarded_;
}

std::vector<std::uint8_t> FakeUdpRelay::session_id_of(const std::string& player_id) const {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Client& client : clients_) {
        if (client.player->player_id == player_id) {
            return client.session_id;
        }
    }
    return {};
}

std::vector<std::uint8_t> FakeUdpRelay::session_id_for(const Player& player) {
    // Lengths differ from player to player so that rewriting is visible on the wire.
    const std::string id =
        "udp-session-" + std::to_string(player.slot) + std::string(player.slot % 5, '#');
    return std::vector<std::uint8_t>(id.begin(), id.end());
}

}  // namespace qop::test
