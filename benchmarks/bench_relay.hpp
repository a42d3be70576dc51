#pragma once

// A TCP relay and a UDP relay for one room, on 127.0.0.1, served by one
// thread of their own, built to be measured through rather than to be
// inspected (the relays in tests/support record every frame they forward,
// and the TCP one writes one frame per turn of a loop that also wakes on a
// 2 ms timer; neither suits a stream of gigabytes).
//
// Both speak the relays' real handshakes: the TCP relay checks the JSON
// "reliable_handshake" against the seats and answers with the roster and
// envelope version 1; the UDP relay answers a hello whose token it knows with
// a session id, its payload limit and the same roster. Afterwards each frame
// or datagram goes to the slots its envelope's route names (Host, Broadcast,
// Direct or TargetMask), never back to its sender; a UDP datagram is
// rewritten with each receiver's session id.
//
// The thread waits in poll() on its sockets and on a wake-up pipe, with no
// time-out of its own: either blocking until something happens, or, like the
// reference benches' relays (a relay is a server, not a game), spinning on a
// poll that returns at once. Frames are forwarded in the turn that read them,
// and written at once while the receiver's socket takes them.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qop::bench {

struct RelaySeat {
    std::string token;
    std::string player_id;
    std::uint8_t slot = 0;
};

class BenchRelay {
public:
    enum class Waiting { Block, Spin };

    BenchRelay(std::vector<RelaySeat> seats, std::uint32_t udp_payload_max_bytes, Waiting waiting);
    ~BenchRelay();
    BenchRelay(const BenchRelay&) = delete;
    BenchRelay& operator=(const BenchRelay&) = delete;

    bool start(std::string& error);
    void stop();
    std::uint16_t tcp_port() const { return tcp_port_; }
    std::uint16_t udp_port() const { return udp_port_; }
    std::uint32_t udp_payload_max_bytes() const { return udp_payload_max_bytes_; }
    const std::vector<RelaySeat>& seats() const { return seats_; }

    // From now on the last fragment of every packet cut into several frames
    // is held back on its way to `slot` until release_held(); every other
    // frame goes on. Lets a bench deliver all of a large packet but its end.
    void hold_last_fragments_to(std::uint8_t slot);
    void release_held();
    std::size_t held_frames() const { return held_count_.load(); }
    // Bytes forwarded to `slot` over TCP that its socket has not taken yet.
    std::uint64_t tcp_bytes_pending_to(std::uint8_t slot) const;

    struct Connection;

private:
    void run();
    void wake();
    void accept_connections();
    void read_tcp(Connection& connection);
    void cut_tcp_frames(Connection& connection);
    void answer_handshake(Connection& connection, const std::uint8_t* payload, std::size_t size);
    void forward_tcp(Connection& sender, const std::uint8_t* payload, std::size_t size);
    void queue_tcp(Connection& target, const std::uint8_t* payload, std::size_t size);
    void write_tcp(Connection& connection);
    void serve_udp();
    void answer_hello(const std::uint8_t* datagram, std::size_t size, const void* from,
                      unsigned from_length);
    void forward_udp(const std::uint8_t* datagram, std::size_t size, const void* from,
                     unsigned from_length);
    void release_held_frames();
    const RelaySeat* seat_of_token(const std::string& token) const;

    struct UdpClient;
    struct HeldFrame {
        std::uint8_t slot = 0;
        std::vector<std::uint8_t> payload;
    };

    const std::vector<RelaySeat> seats_;
    const std::uint32_t udp_payload_max_bytes_;
    const Waiting waiting_;
    int tcp_listener_ = -1;
    int udp_socket_ = -1;
    int wake_read_ = -1;
    int wake_write_ = -1;
    std::uint16_t tcp_port_ = 0;
    std::uint16_t udp_port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};

    // Owned by the relay thread.
    std::vector<std::unique_ptr<Connection>> connections_;
    std::vector<std::unique_ptr<UdpClient>> udp_clients_;
    std::vector<std::uint8_t> datagram_in_;
    std::vector<std::uint8_t> datagram_out_;
    std::vector<HeldFrame> held_;

    // Shared with the bench's threads.
    std::atomic<int> hold_slot_{0};
    std::atomic<bool> release_requested_{false};
    std::atomic<std::size_t> held_count_{0};
    std::array<std::atomic<std::uint64_t>, 65> pending_to_{};
};

}  // namespace qop::bench
