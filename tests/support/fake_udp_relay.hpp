#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "relay/socket_compat.hpp"

namespace qop::test {

// A UDP relay on 127.0.0.1 (ephemeral port) for one room. It answers hellos whose token it
// knows with an acknowledgement carrying the room's roster, then forwards data datagrams to
// the players their envelope routes them to, rewriting the session id for each recipient. It
// reads envelopes with its own small parser so that it never trusts the codec under test.
class FakeUdpRelay {
public:
    struct Player {
        std::string token;
        std::string player_id;
        std::uint8_t slot = 0;
    };

    // One data datagram as the relay sent it on.
    struct Forwarded {
        std::string from_player;
        std::string to_player;
        std::vector<std::uint8_t> datagram;
    };

    explicit FakeUdpRelay(std::vector<Player> room, std::uint32_t payload_max_bytes = 1200);
    ~FakeUdpRelay();
    FakeUdpRelay(const FakeUdpRelay&) = delete;
    FakeUdpRelay& operator=(const FakeUdpRelay&) = delete;

    bool start(std::string& error);
    void stop();
    std::uint16_t port() const { return port_; }

    // Misbehaviour on request.
    // Every later hello is answered with exactly these bytes instead of an acknowledgement.
    void answer_hellos_with(std::vector<std::uint8_t> raw_acknowledgement);
    // Later hellos are held without an answer until release_acknowledgements().
    void hold_acknowledgements();
    // Answers every held hello now (a late acknowledgement) and stops holding.
    void release_acknowledgements();
    // Sends raw bytes from the relay to a player that has said hello.
    bool inject(const std::string& player_id, const std::vector<std::uint8_t>& datagram);
    // Sends every datagram as fast as the socket takes them (callable from several threads).
    bool inject_burst(const std::string& player_id,
                      const std::vector<std::vector<std::uint8_t>>& datagrams);

    // Records.
    std::vector<std::vector<std::uint8_t>> hellos() const;
    std::vector<std::vector<std::uint8_t>> received_data() const;
    std::vector<Forwarded> forwarded() const;
    std::vector<std::uint8_t> session_id_of(const std::string& player_id) const;
    // The session id the relay gives a player (also before it has said hello).
    static std::vector<std::uint8_t> session_id_for(const Player& player);

private:
    struct Client {
        const Player* player = nullptr;
        std::vector<std::uint8_t> address;  // the raw sockaddr the hello came from
        std::vector<std::uint8_t> session_id;
        std::uint8_t envelope_version = 0;
    };

    void run();
    void handle(const std::uint8_t* datagram, std::size_t size,
                const std::vector<std::uint8_t>& from);
    void handle_hello(const std::uint8_t* datagram, std::size_t size,
                      const std::vector<std::uint8_t>& from);
    void handle_data(const std::uint8_t* datagram, std::size_t size,
                     const std::vector<std::uint8_t>& from);
    std::vector<std::uint8_t> acknowledgement_for(const Client& client) const;
    std::vector<std::uint8_t> address_of(const std::string& player_id) const;
    std::vector<const Client*> recipients(const Client& sender,
                                          const std::vector<std::uint8_t>& payload) const;
    void send_to(const std::vector<std::uint8_t>& address, const std::vector<std::uint8_t>& bytes);

    const std::vector<Player> room_;
    const std::uint32_t payload_max_bytes_;
    network::SocketHandle socket_ = network::kInvalidSocket;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;

    mutable std::mutex mutex_;
    std::vector<Client> clients_;
    std::vector<std::vector<std::uint8_t>> hellos_;
    std::vector<std::vector<std::uint8_t>> received_data_;
    std::vector<Forwarded> forwarded_;
    bool raw_answer_set_ = false;
    std::vector<std::uint8_t> raw_answer_;
    bool holding_ = false;
    std::vector<std::vector<std::uint8_t>> held_hellos_;  // addresses waiting for an answer
};

}  // namespace qop::test
