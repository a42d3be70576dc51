// The room's data path, game A -> relay -> game B on loopback, measured the
// way the reference benches measure theirs: the host is A, the client is B,
// each driven through its overrides as the engine drives them, each on a
// thread of its own, the relay on a third.
//
// Tests (--tests):
//   lat     round trips: A sends a probe, B echoes it, A times send to echo
//   tput    reliable one-way throughput under a credit window
//   poll    the cost of _poll with nothing waiting or due
//   alloc   heap allocations per packet sent and per packet received, each side
//   reasm   reassembly and delivery of one 16 MiB packet after its last fragment
//           arrives, and the peak heap of each side while it is in flight
//   flood   the longest _poll of B while A floods it with the smallest packets

#include <fcntl.h>
#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "bench_packets.hpp"
#include "bench_report.hpp"
#include "heap_counter.hpp"
#include "room_rig.hpp"

namespace qop::bench {
namespace {

constexpr std::uint64_t kFrameNs = 1'000'000'000ull / 60;
constexpr std::size_t kMiB = 1024 * 1024;
// Above every buffer the room allocates, including a 16 MiB packet.
constexpr int kMallocMmapThreshold = 32 * 1024 * 1024;
constexpr int kMallocTrimThreshold = 64 * 1024 * 1024;
constexpr std::int32_t kHost = RoomRig::kHostPeer;
constexpr std::int32_t kClient = RoomRig::kClientPeer;

// Spinning, as the reference benches' relays do, unless --relay-blocks.
BenchRelay::Waiting relay_waiting = BenchRelay::Waiting::Spin;
// Writing through, as the library does, unless --queue-until-poll.
qop::network::SendPolicy send_policy = qop::network::SendPolicy::WriteThroughWhenIdle;

// Paces a loop: in 60 Hz mode tick() sleeps until the next frame (frames
// missed by a late wake are skipped, keeping the phase); in tight mode it
// returns at once.
class FrameClock {
public:
    FrameClock(bool hz60, std::uint64_t first_frame_ns) : hz60_(hz60), next_(first_frame_ns) {}
    void tick() {
        if (!hz60_) {
            return;
        }
        sleep_until_ns(next_);
        const std::uint64_t now = now_ns();
        next_ += kFrameNs;
        while (next_ <= now) {
            next_ += kFrameNs;
        }
    }

private:
    bool hz60_;
    std::uint64_t next_;
};

// Allocations made by the calling thread inside a span of work.
class AllocationTally {
public:
    template <typename Work>
    auto count(Work&& work) {
        const std::uint64_t before = heap_counts().allocations;
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            allocations_ += heap_counts().allocations - before;
        } else {
            auto result = work();
            allocations_ += heap_counts().allocations - before;
            return result;
        }
    }
    std::uint64_t total() const { return allocations_; }
    void reset() { allocations_ = 0; }

private:
    std::uint64_t allocations_ = 0;
};

// What one side allocated while the measured samples ran.
struct SideAllocations {
    std::uint64_t in_sends = 0;
    std::uint64_t in_frames = 0;  // _poll and the reads, the sends made while handling excluded
    std::uint64_t packets_sent = 0;
    std::uint64_t packets_received = 0;
};

struct Scale {
    std::uint64_t warm = 1000;
    std::uint64_t samples = 10000;
    std::uint64_t hz_warm_frames = 30;
    std::uint64_t hz_max_frames = 600;
    double tput_warm_s = 0.5;
    double tput_s = 2.0;
    double tput_cap_s = 40;
    std::uint64_t window_tight = 1u << 20;
    std::uint64_t window_60hz = 16u << 20;
};

struct LatencyResult {
    std::vector<std::uint64_t> rtt_ns;
    std::uint64_t lost = 0;
    SideAllocations host;
    SideAllocations client;
};

// Large packets go one at a time, so that one taking several frames to cross
// (16 MiB; a poll reads at most 4 MiB) never queues behind the one before,
// and fewer samples are taken.
bool one_in_flight(bool hz60, std::size_t size) {
    return hz60 && size >= kMiB;
}

void scale_for_size(std::size_t size, bool quick, std::uint64_t& warm, std::uint64_t& samples) {
    if (size >= 16 * kMiB) {
        warm = 2;
        samples = quick ? 5 : 30;
    } else if (size >= kMiB) {
        warm = 5;
        samples = quick ? 20 : 200;
    }
}

void send_or_fail(EngineDrive& side, const char* who, std::int32_t target, bool reliable,
                  const std::uint8_t* data, std::size_t size) {
    const godot::Error sent = side.send(target, reliable, data, size);
    if (sent != godot::OK) {
        fail("%s: _put_packet of %zu bytes returned %d", who, size, static_cast<int>(sent));
    }
}

LatencyResult run_latency(bool hz60, std::size_t size, bool reliable, const Scale& base,
                          bool quick) {
    Scale scale = base;
    scale_for_size(size, quick, scale.warm, scale.samples);
    RoomRig room(relay_waiting, send_policy);
    room.open();
    EngineDrive& a = room.host();
    EngineDrive& b = room.client();
    std::atomic<bool> stop{false};
    std::atomic<bool> measuring{false};
    const std::uint64_t start = now_ns() + 20'000'000;  // first frame; B runs half a frame after A
    LatencyResult result;

    std::thread echo([&] {
        std::vector<std::uint8_t> out(size);
        std::uint32_t last = 0;
        AllocationTally sends;
        AllocationTally frames;
        bool counted = false;
        auto on_packet = [&](const std::uint8_t* data, std::size_t length) {
            check_packet("B", data, length, size);
            const PacketHead head = read_head(data);
            if (head.type != PacketType::Probe) {
                fail("B: packet %u is not a probe", head.sequence);
            }
            if (reliable ? head.sequence != last + 1 : head.sequence <= last) {
                fail("B: probe %u arrived after probe %u (lost, duplicated or reordered)",
                     head.sequence, last);
            }
            last = head.sequence;
            std::memcpy(out.data(), data, length);
            set_type(out.data(), PacketType::Echo);
            if (counted) {
                ++result.client.packets_received;
                ++result.client.packets_sent;
            }
            sends.count([&] { send_or_fail(b, "B", kHost, reliable, out.data(), length); });
        };
        FrameClock clock(hz60, start + kFrameNs / 2);
        while (!stop.load(std::memory_order_relaxed)) {
            clock.tick();
            if (!counted && measuring.load(std::memory_order_relaxed)) {
                counted = true;
                sends.reset();
                frames.reset();
            }
            frames.count([&] { b.frame(on_packet); });
        }
        result.client.in_sends = sends.total();
        result.client.in_frames = frames.total() - sends.total();
    });

    std::vector<std::uint8_t> probe(size);
    AllocationTally sends;
    AllocationTally frames;
    auto check_echo = [&](const std::uint8_t* data, std::size_t length) {
        check_packet("A", data, length, size);
        const PacketHead head = read_head(data);
        if (head.type != PacketType::Echo) {
            fail("A: packet %u is not an echo", head.sequence);
        }
        return head.sequence;
    };

    if (!hz60 || one_in_flight(hz60, size)) {
        // One probe in flight. Tight: sent at once after its echo; 60 Hz: sent
        // in the frame after its echo arrived.
        const std::uint64_t timeout_ns = reliable ? 10'000'000'000ull : 50'000'000ull;
        std::uint32_t sequence = 0;
        std::uint64_t sent_at = 0;
        std::uint64_t done = 0;
        bool waiting = false;
        FrameClock clock(hz60, start);
        auto on_echo = [&](const std::uint8_t* data, std::size_t length) {
            const std::uint32_t echoed = check_echo(data, length);
            if (waiting && echoed == sequence) {
                const std::uint64_t now = now_ns();
                if (done++ >= scale.warm) {
                    result.rtt_ns.push_back(now - sent_at);
                    ++result.host.packets_received;
                }
                waiting = false;
            } else if (reliable) {
                fail("A: echo %u arrived while waiting for %u", echoed, sequence);
            }  // else: a late echo of an unreliable probe already counted lost
        };
        while (done < scale.warm + scale.samples) {
            clock.tick();
            if (done == scale.warm && !measuring.load()) {
                measuring = true;
                sends.reset();
                frames.reset();
            }
            // A game's frame polls first and sends after; the tight loop
            // sends the next probe as soon as the last echo is in.
            if (hz60) {
                frames.count([&] { a.frame(on_echo); });
            }
            if (!waiting) {
                write_packet(probe.data(), size, PacketType::Probe, ++sequence);
                sent_at = now_ns();
                sends.count([&] { send_or_fail(a, "A", kClient, reliable, probe.data(), size); });
                if (measuring.load()) {
                    ++result.host.packets_sent;
                }
                waiting = true;
            }
            if (!hz60) {
                frames.count([&] { a.frame(on_echo); });
            }
            if (waiting && now_ns() - sent_at > timeout_ns) {
                if (reliable) {
                    fail("A: reliable probe %u not echoed within 10 s", sequence);
                }
                waiting = false;
                if (++result.lost > 1000) {
                    fail("A: over 1000 unreliable probes lost");
                }
            }
        }
    } else {
        // A game frame: poll, handle the echoes, send k probes.
        const std::uint64_t per_frame = std::clamp<std::uint64_t>(65536 / size, 1, 32);
        const std::uint64_t frames_kept = std::min<std::uint64_t>(
            (scale.samples + per_frame - 1) / per_frame, scale.hz_max_frames);
        const std::uint64_t total = (scale.hz_warm_frames + frames_kept) * per_frame;
        const auto warm_sequence = static_cast<std::uint32_t>(scale.hz_warm_frames * per_frame);
        std::vector<std::uint64_t> sent_at(total + 1);
        std::uint32_t sequence = 0;
        std::uint32_t last = 0;
        auto on_echo = [&](const std::uint8_t* data, std::size_t length) {
            const std::uint64_t now = now_ns();
            const std::uint32_t echoed = check_echo(data, length);
            if (echoed == 0 || echoed > sequence) {
                fail("A: echo %u of a probe never sent", echoed);
            }
            if (reliable ? echoed != last + 1 : echoed <= last) {
                fail("A: echo %u arrived after echo %u (lost, duplicated or reordered)", echoed,
                     last);
            }
            result.lost += echoed - last - 1;
            last = echoed;
            if (echoed > warm_sequence) {
                result.rtt_ns.push_back(now - sent_at[echoed]);
            }
        };
        FrameClock clock(true, start);
        for (std::uint64_t frame = 0; frame < scale.hz_warm_frames + frames_kept; ++frame) {
            clock.tick();
            a.frame(on_echo);
            for (std::uint64_t i = 0; i < per_frame; ++i) {
                write_packet(probe.data(), size, PacketType::Probe, ++sequence);
                sent_at[sequence] = now_ns();
                send_or_fail(a, "A", kClient, reliable, probe.data(), size);
            }
        }
        // The last echoes: reliable ones as long as they keep coming,
        // unreliable ones for one second.
        const std::uint64_t drain_start = now_ns();
        std::uint64_t progress_at = drain_start;
        while (last < sequence) {
            clock.tick();
            const std::uint32_t before = last;
            a.frame(on_echo);
            const std::uint64_t now = now_ns();
            if (last != before) {
                progress_at = now;
            }
            if (!reliable && now - drain_start > 1'000'000'000ull) {
                break;
            }
            if (now - progress_at > 5'000'000'000ull) {
                fail("A: no echo for 5 s, %u reliable probes outstanding", sequence - last);
            }
        }
        result.lost += sequence - last;
    }
    result.host.in_sends = sends.total();
    result.host.in_frames = frames.total();
    stop = true;
    echo.join();
    return result;
}

struct ThroughputResult {
    double megabytes_per_s = 0;
    double packets_per_s = 0;
    std::uint64_t busy_refusals = 0;
};

// Measured between two packet arrivals at B: the first after the warm-up and
// the first at least tput_s later.
ThroughputResult run_throughput(bool hz60, std::size_t size, const Scale& scale) {
    RoomRig room(relay_waiting, send_policy);
    room.open();
    EngineDrive& a = room.host();
    EngineDrive& b = room.client();
    std::atomic<bool> stop{false};
    std::atomic<bool> measured{false};
    const std::uint64_t window =
        std::max<std::uint64_t>(hz60 ? scale.window_60hz : scale.window_tight, 2 * size);
    const std::uint64_t start = now_ns() + 20'000'000;
    const std::uint64_t measure_from = start + static_cast<std::uint64_t>(scale.tput_warm_s * 1e9);
    std::uint64_t first_at = 0, first_sequence = 0, last_at = 0, last_sequence = 0;
    ThroughputResult result;

    std::thread sink([&] {
        std::uint32_t expected = 1;
        std::uint64_t bytes = 0;
        std::uint64_t granted = 0;
        std::uint8_t credit[16];
        auto on_packet = [&](const std::uint8_t* data, std::size_t length) {
            check_packet("B", data, length, size);
            const PacketHead head = read_head(data);
            if (head.type != PacketType::Data || head.sequence != expected) {
                fail("B: packet %u arrived, expected data packet %u", head.sequence, expected);
            }
            ++expected;
            bytes += length;
            const std::uint64_t now = now_ns();
            if (first_at == 0 && now >= measure_from) {
                first_at = now;
                first_sequence = head.sequence;
            }
            if (first_at != 0) {
                last_at = now;
                last_sequence = head.sequence;
                if (now - first_at >= static_cast<std::uint64_t>(scale.tput_s * 1e9)) {
                    measured = true;
                }
            }
            if (bytes - granted >= window / 8) {
                // Confirms what arrived: A may send that much more.
                granted = bytes;
                write_packet(credit, sizeof(credit), PacketType::Credit, 0);
                std::memcpy(credit + 8, &bytes, 8);
                send_or_fail(b, "B", kHost, true, credit, sizeof(credit));
            }
        };
        FrameClock clock(hz60, start + kFrameNs / 2);
        while (!stop.load(std::memory_order_relaxed)) {
            clock.tick();
            b.frame(on_packet);
        }
    });

    std::thread source([&] {
        std::vector<std::uint8_t> packet(size);
        std::uint32_t sequence = 0;
        std::uint64_t sent = 0;
        std::uint64_t confirmed = 0;
        bool prepared = false;
        auto on_credit = [&](const std::uint8_t* data, std::size_t length) {
            std::uint64_t value = 0;
            if (length == 16) {
                std::memcpy(&value, data + 8, 8);
            }
            if (length != 16 || read_head(data).type != PacketType::Credit || value < confirmed ||
                value > sent) {
                fail("A: bad credit message (%zu bytes, %llu confirmed of %llu sent)", length,
                     static_cast<unsigned long long>(value), static_cast<unsigned long long>(sent));
            }
            confirmed = value;
        };
        FrameClock clock(hz60, start);
        while (!stop.load(std::memory_order_relaxed)) {
            clock.tick();
            a.frame(on_credit);
            while (sent - confirmed + size <= window) {
                if (!prepared) {
                    write_packet(packet.data(), size, PacketType::Data, sequence + 1);
                    prepared = true;
                }
                const godot::Error put = a.send(kClient, true, packet.data(), size);
                if (put == godot::ERR_BUSY) {
                    // The send queue is full: the game tries again next frame.
                    ++result.busy_refusals;
                    break;
                }
                if (put != godot::OK) {
                    fail("A: _put_packet returned %d", static_cast<int>(put));
                }
                ++sequence;
                prepared = false;
                sent += size;
            }
        }
    });

    const std::uint64_t cap = measure_from + static_cast<std::uint64_t>(scale.tput_cap_s * 1e9);
    sleep_until_ns(measure_from + static_cast<std::uint64_t>(scale.tput_s * 1e9));
    while (!measured.load() && now_ns() < cap) {
        sleep_until_ns(now_ns() + 10'000'000);
    }
    stop = true;
    source.join();
    sink.join();
    if (last_sequence == first_sequence) {
        fail("under 2 packets of %zu bytes arrived in %.0f s (stalled)", size, scale.tput_cap_s);
    }
    const double seconds = static_cast<double>(last_at - first_at) / 1e9;
    const auto packets = static_cast<double>(last_sequence - first_sequence);
    result.megabytes_per_s = packets * static_cast<double>(size) / seconds / 1e6;
    result.packets_per_s = packets / seconds;
    return result;
}

// ns per recv on an empty non-blocking socket: the floor under a poll that
// must ask each of its two sockets whether anything arrived.
double empty_receive_ns(std::uint64_t calls) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) {
        fail("socketpair failed");
    }
    fcntl(pair[0], F_SETFL, fcntl(pair[0], F_GETFL) | O_NONBLOCK);
    std::uint8_t byte = 0;
    const std::uint64_t begin = now_ns();
    for (std::uint64_t i = 0; i < calls; ++i) {
        if (recv(pair[0], &byte, 1, 0) >= 0) {
            fail("an empty socket had data");
        }
    }
    const double per_call = static_cast<double>(now_ns() - begin) / static_cast<double>(calls);
    close(pair[0]);
    close(pair[1]);
    return per_call;
}

// ns per _poll call of each side while nothing is waiting or due.
void run_poll_cost(bool quick) {
    RoomRig room(relay_waiting, send_policy);
    room.open();
    const std::uint64_t calls = quick ? 20'000 : 200'000;
    // Let the join's last bytes settle so that nothing is waiting.
    for (int i = 0; i < 100; ++i) {
        room.host().frame([](const std::uint8_t*, std::size_t) {});
        room.client().frame([](const std::uint8_t*, std::size_t) {});
    }
    const Row row{"qop", "idle", "-", 0};
    for (const bool host : {true, false}) {
        QOPMultiplayerPeer& peer = host ? room.host().peer() : room.client().peer();
        const std::uint64_t allocations_before = heap_counts().allocations;
        const std::uint64_t begin = now_ns();
        for (std::uint64_t i = 0; i < calls; ++i) {
            peer._poll();
        }
        const double per_call = static_cast<double>(now_ns() - begin) / static_cast<double>(calls);
        const double allocations =
            static_cast<double>(heap_counts().allocations - allocations_before) /
            static_cast<double>(calls);
        emit(row, host ? "poll_idle_host" : "poll_idle_client", per_call, "ns");
        emit(row, host ? "poll_idle_allocs_host" : "poll_idle_allocs_client", allocations,
             "allocs");
        if (peer._get_available_packet_count() != 0) {
            fail("a packet arrived while _poll was timed idle");
        }
    }
    emit(row, "recv_empty_socket", empty_receive_ns(calls), "ns");
}

// One 16 MiB packet from A to B with its last fragment held at the relay
// until B has taken everything else; then the time of the _poll (and the
// _get_packet) in which B reassembles and delivers it.
void run_reassembly(bool quick) {
    const std::size_t size = kLargestPacket;
    const int repeats = quick ? 2 : 5;
    RoomRig room(relay_waiting, send_policy);
    room.open();
    EngineDrive& a = room.host();
    EngineDrive& b = room.client();
    std::vector<std::uint8_t> packet(size);
    std::vector<std::uint64_t> reassembly_ns;
    std::vector<std::uint64_t> release_to_packet_ns;
    std::int64_t host_peak = 0;
    std::int64_t client_peak = 0;
    for (int repeat = 1; repeat <= repeats; ++repeat) {
        write_packet(packet.data(), size, PacketType::Data, static_cast<std::uint32_t>(repeat));
        room.relay().hold_last_fragments_to(static_cast<std::uint8_t>(kClient));
        std::atomic<bool> sender_done{false};
        std::uint64_t released_at = 0;
        std::int64_t host_start = 0;
        std::thread sender([&] {
            host_start = heap_counts().live_bytes;
            reset_heap_peak();
            send_or_fail(a, "A", kClient, true, packet.data(), size);
            while (!sender_done.load()) {
                a.frame([](const std::uint8_t*, std::size_t) { fail("A: unexpected packet"); });
            }
            host_peak = std::max(host_peak, heap_counts().peak_bytes - host_start);
        });
        const std::int64_t client_start = heap_counts().live_bytes;
        reset_heap_peak();
        bool delivered = false;
        auto on_packet = [&](const std::uint8_t* data, std::size_t length) {
            check_packet("B", data, length, size);
            delivered = true;
        };
        // Everything but the last fragment: B takes until the relay holds
        // that fragment and has nothing else left for B.
        const std::uint64_t give_up = now_ns() + 30'000'000'000ull;
        int quiet_frames = 0;
        while (quiet_frames < 20) {
            b.frame(on_packet);
            const bool settled =
                room.relay().held_frames() == 1 && room.relay().tcp_bytes_pending_to(kClient) == 0;
            quiet_frames = settled ? quiet_frames + 1 : 0;
            if (delivered || now_ns() > give_up) {
                fail("B: the held 16 MiB packet %s", delivered ? "arrived early" : "never settled");
            }
        }
        room.relay().release_held();
        released_at = now_ns();
        // The engine's frame, timed up to the moment the packet is in hand;
        // its bytes are checked afterwards.
        while (!delivered) {
            const std::uint64_t begin = now_ns();
            b.peer()._poll();
            const std::uint8_t* data = nullptr;
            std::size_t length = 0;
            if (b.take_packet(data, length)) {
                const std::uint64_t end = now_ns();
                reassembly_ns.push_back(end - begin);
                release_to_packet_ns.push_back(end - released_at);
                on_packet(data, length);
            }
            if (now_ns() - released_at > 10'000'000'000ull) {
                fail("B: the 16 MiB packet did not arrive within 10 s of its last fragment");
            }
        }
        client_peak = std::max(client_peak, heap_counts().peak_bytes - client_start);
        sender_done = true;
        sender.join();
    }
    const Row row{"qop", "tight", "reliable", size};
    emit(row, "reassembly_ms", percentile_us(reassembly_ns, 0.5) / 1000.0, "ms");
    // The slowest is usually the first: its buffer is memory the process
    // touches for the first time.
    emit(row, "reassembly_max_ms", percentile_us(reassembly_ns, 1.0) / 1000.0, "ms");
    emit(row, "last_fragment_to_packet_ms", percentile_us(release_to_packet_ns, 0.5) / 1000.0,
         "ms");
    emit(row, "peak_heap_host", static_cast<double>(host_peak) / kMiB, "MiB");
    emit(row, "peak_heap_client", static_cast<double>(client_peak) / kMiB, "MiB");
}

// A sends a flood of the smallest reliable packets, as fast as its queue
// takes them, and B makes its first poll only once A has sent them all or
// its queue is full (every buffer on the way is), so that B's socket and the
// relay hold several MiB of tiny frames; then B's _poll calls are timed one
// by one until every packet is in. Each poll's packets are read and checked
// after its timing.
void run_flood() {
    constexpr std::size_t kSize = 16;
    const std::uint32_t packets = 300'000;
    RoomRig room(relay_waiting, send_policy);
    room.open();
    EngineDrive& a = room.host();
    EngineDrive& b = room.client();
    std::atomic<bool> receiver_done{false};
    std::atomic<bool> flood_waiting{false};
    std::thread sender([&] {
        std::uint8_t packet[kSize];
        for (std::uint32_t sequence = 1; sequence <= packets; ++sequence) {
            write_packet(packet, kSize, PacketType::Data, sequence);
            while (a.send(kClient, true, packet, kSize) == godot::ERR_BUSY) {
                flood_waiting = true;
                a.frame([](const std::uint8_t*, std::size_t) { fail("A: unexpected packet"); });
            }
        }
        flood_waiting = true;
        while (!receiver_done.load()) {
            a.frame([](const std::uint8_t*, std::size_t) { fail("A: unexpected packet"); });
        }
    });
    const std::uint64_t fill_limit = now_ns() + 10'000'000'000ull;
    while (!flood_waiting.load() && now_ns() < fill_limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    // The relay's last writes settle.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::vector<std::uint64_t> poll_ns;
    std::uint32_t expected = 1;
    std::size_t most_in_one_poll = 0;
    const std::uint64_t give_up = now_ns() + 60'000'000'000ull;
    while (expected <= packets) {
        const std::uint64_t begin = now_ns();
        b.peer()._poll();
        const std::uint64_t end = now_ns();
        std::size_t taken = 0;
        const std::uint8_t* data = nullptr;
        std::size_t length = 0;
        while (b.take_packet(data, length)) {
            check_packet("B", data, length, kSize);
            if (read_head(data).sequence != expected) {
                fail("B: flood packet %u arrived as %u", expected, read_head(data).sequence);
            }
            ++expected;
            ++taken;
        }
        if (taken > 0) {
            poll_ns.push_back(end - begin);
            most_in_one_poll = std::max(most_in_one_poll, taken);
        }
        if (now_ns() > give_up) {
            fail("B: the flood did not arrive within 60 s");
        }
    }
    receiver_done = true;
    sender.join();
    const Row row{"qop", "tight", "reliable", kSize};
    emit(row, "flood_poll_p50_ms", percentile_us(poll_ns, 0.5) / 1000.0, "ms");
    emit(row, "flood_poll_max_ms", percentile_us(poll_ns, 1.0) / 1000.0, "ms");
    emit(row, "flood_packets_per_poll_max", static_cast<double>(most_in_one_poll), "packets");
}

void report_allocations(const Row& row, const LatencyResult& result) {
    auto per = [](std::uint64_t allocations, std::uint64_t packets) {
        return packets == 0 ? 0.0 : static_cast<double>(allocations) / static_cast<double>(packets);
    };
    emit(row, "allocs_per_send_host", per(result.host.in_sends, result.host.packets_sent),
         "allocs");
    emit(row, "allocs_per_receive_host", per(result.host.in_frames, result.host.packets_received),
         "allocs");
    emit(row, "allocs_per_send_client", per(result.client.in_sends, result.client.packets_sent),
         "allocs");
    emit(row, "allocs_per_receive_client",
         per(result.client.in_frames, result.client.packets_received), "allocs");
}

int run(int argc, char** argv) {
    const BenchOptions options = parse_bench_options(argc, argv, "lat,tput,poll,alloc,reasm,flood");
    if (options.relay_blocks) {
        relay_waiting = BenchRelay::Waiting::Block;
    }
    if (options.queue_until_poll) {
        send_policy = qop::network::SendPolicy::QueueUntilPoll;
    }
    if (!options.default_malloc) {
        // glibc hands freed memory back to the system early until a large
        // block has been freed, and raises its thresholds then; a page
        // touched again costs a fault, which is dear on a virtual machine.
        // Fixed thresholds make every measurement start from the same heap,
        // whatever ran before it in this process.
        mallopt(M_MMAP_THRESHOLD, kMallocMmapThreshold);
        mallopt(M_TRIM_THRESHOLD, kMallocTrimThreshold);
    }
    Scale scale;
    if (options.quick) {
        scale.warm = 100;
        scale.samples = 1000;
        scale.hz_warm_frames = 6;
        scale.hz_max_frames = 30;
        scale.tput_warm_s = 0.2;
        scale.tput_s = 0.5;
    }
    const std::size_t reliable_sizes[] = {16, 1024, 32768, kMiB, 16 * kMiB};
    const std::size_t unreliable_sizes[] = {16, 1024};
    const std::size_t throughput_sizes[] = {1024, 32768, kMiB};
    for (const bool hz60 : {false, true}) {
        if (!(hz60 ? options.hz60 : options.tight)) {
            continue;
        }
        const char* mode = hz60 ? "60hz" : "tight";
        for (const bool reliable : {true, false}) {
            if (!options.wants("lat") && !(options.wants("alloc") && !hz60)) {
                break;
            }
            const char* delivery = reliable ? "reliable" : "unreliable";
            for (const std::size_t size :
                 reliable ? std::vector<std::size_t>(std::begin(reliable_sizes),
                                                     std::end(reliable_sizes))
                          : std::vector<std::size_t>(std::begin(unreliable_sizes),
                                                     std::end(unreliable_sizes))) {
                const bool count_allocations = options.wants("alloc") && !hz60 && size <= 1024;
                if ((!options.wants("lat") && !count_allocations) || !options.wants_size(size)) {
                    continue;
                }
                const std::uint64_t began = now_ns();
                LatencyResult result = run_latency(hz60, size, reliable, scale, options.quick);
                const Row row{"qop", mode, delivery, size};
                if (options.wants("lat")) {
                    emit(row, "rtt_p50", percentile_us(result.rtt_ns, 0.50), "us");
                    emit(row, "rtt_p99", percentile_us(result.rtt_ns, 0.99), "us");
                    emit(row, "rtt_p99.9", percentile_us(result.rtt_ns, 0.999), "us");
                    emit(row, "round_trips", static_cast<double>(result.rtt_ns.size()), "count");
                    if (!reliable) {
                        emit(row, "lost", static_cast<double>(result.lost), "count");
                    }
                }
                if (count_allocations) {
                    report_allocations(row, result);
                }
                progress("  qop %s %s latency %zu B: %.1f s", mode, delivery, size,
                         static_cast<double>(now_ns() - began) / 1e9);
            }
        }
        for (const std::size_t size : throughput_sizes) {
            if (!options.wants("tput")) {
                break;
            }
            if (!options.wants_size(size)) {
                continue;
            }
            const ThroughputResult result = run_throughput(hz60, size, scale);
            const Row row{"qop", mode, "reliable", size};
            emit(row, "throughput", result.megabytes_per_s, "MB/s");
            emit(row, "packet_rate", result.packets_per_s, "packets/s");
            progress("  qop %s throughput %zu B: %.1f MB/s (%llu busy refusals)", mode, size,
                     result.megabytes_per_s, static_cast<unsigned long long>(result.busy_refusals));
        }
    }
    if (options.wants("poll")) {
        run_poll_cost(options.quick);
    }
    if (options.wants("reasm")) {
        run_reassembly(options.quick);
    }
    if (options.wants("flood")) {
        run_flood();
    }
    return 0;
}

}  // namespace
}  // namespace qop::bench

int main(int argc, char** argv) {
    return qop::bench::run(argc, argv);
}
