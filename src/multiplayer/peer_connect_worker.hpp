#pragma once

// The room peer's connect worker: one thread that does every blocking step of
// joining a room (the host-bridge conversation, then both relay handshakes)
// and hands its outcome to the engine's thread through a one-shot result
// slot. cancel() makes the worker return promptly from whichever step it is
// in, so that closing a peer never waits for the steps' own time-outs.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "host_bridge/data_plane_descriptor.hpp"
#include "host_bridge/hosted_session_pipe.hpp"
#include "host_bridge/hosted_session_records.hpp"
#include "relay/network_transport.hpp"

namespace qop::network {

using TransportFactory = std::function<std::unique_ptr<NetworkTransport>()>;
// Starts `body` on a new thread held by `thread`. False, with the reason in
// `error` and no thread, when the system cannot start one.
using ThreadStarter =
    std::function<bool(std::function<void()> body, std::thread& thread, std::string& error)>;

// The system's threads; never throws (a refusal or a failed allocation is a
// false result with its reason).
bool start_system_thread(std::function<void()> body, std::thread& thread, std::string& error);
// Whole seconds since the Unix epoch, by the system clock.
std::int64_t system_unix_seconds();

// What the worker is built from; tests replace any of it.
struct PeerConnectSeams {
    TransportFactory make_reliable = [] { return make_tcp_transport(); };
    TransportFactory make_unreliable = [] { return make_udp_transport(); };
    std::function<std::int64_t()> unix_seconds = system_unix_seconds;
    ThreadStarter start_thread = start_system_thread;
};

// The worker's outcome. On success the context and both connected
// transports; on failure the reason.
struct PeerConnectResult {
    bool succeeded = false;
    std::string error;
    DataPlaneConnectionContext context;
    std::unique_ptr<NetworkTransport> reliable;
    std::unique_ptr<NetworkTransport> unreliable;
};

inline constexpr char kConnectionClosedText[] = "Connection closed";

// Runs at most one connect at a time. Every member is called from one thread
// (the engine's main thread); cancel() is what reaches the running worker
// from there.
class PeerConnectWorker {
public:
    explicit PeerConnectWorker(PeerConnectSeams seams = {});
    // Cancels and joins a running worker.
    ~PeerConnectWorker();

    PeerConnectWorker(const PeerConnectWorker&) = delete;
    PeerConnectWorker& operator=(const PeerConnectWorker&) = delete;

    // Start a worker with an empty result slot and the flags lowered. The
    // bootstrap road uses `pipe` (owned by the caller, untouched by the
    // caller until join()) and closes it itself when it fails. False, with
    // the reason in `error` and nothing running, when the thread cannot start.
    bool start_bootstrap(HostedSessionPipe& pipe, HostedBootstrapContext bootstrap,
                         std::string& error);
    bool start_data_plane(DataPlaneConnectionContext context, std::string& error);

    // True while a started thread has not been joined.
    bool has_thread() const { return thread_.joinable(); }
    // True once, after the worker has published its result.
    bool take_ready() { return result_ready_.exchange(false); }

    // The worker stops at its next step and reports "Connection closed"; the
    // pipe conversation and a relay handshake in progress are broken off at
    // once.
    void cancel();
    void join();

    // The published result, moved out. Call after join().
    PeerConnectResult take_result();
    // For a result nobody will install (its peer was closed): a success
    // becomes the failure "Connection closed" and its transports are closed
    // and destroyed now.
    void discard_result_transports();

private:
    bool start(std::function<void()> body, std::string& error);
    void run_bootstrap_worker(HostedSessionPipe& pipe, HostedBootstrapContext bootstrap);
    void run_data_plane_worker(DataPlaneConnectionContext context);
    bool open_data_plane(const DataPlaneConnectionContext& context, std::string& error,
                         std::unique_ptr<NetworkTransport>& reliable,
                         std::unique_ptr<NetworkTransport>& unreliable);
    // Connects one transport, reachable by cancel() for the length of the
    // handshake.
    bool connect_cancellable(NetworkTransport& transport, const TransportEndpoint& endpoint,
                             std::string& error);
    void publish(bool succeeded, std::string error, DataPlaneConnectionContext context,
                 std::unique_ptr<NetworkTransport>& reliable,
                 std::unique_ptr<NetworkTransport>& unreliable, HostedSessionPipe* pipe_to_close);

    const PeerConnectSeams seams_;

    std::mutex result_mutex_;
    PeerConnectResult result_;  // guarded by result_mutex_
    std::atomic<bool> result_ready_{false};
    std::atomic<bool> cancel_requested_{false};

    // The pipe of the running bootstrap road, for cancel(); the caller's thread only.
    HostedSessionPipe* pipe_ = nullptr;
    // The transport whose handshake runs now, so that cancel() can break it.
    std::mutex connecting_mutex_;
    NetworkTransport* connecting_ = nullptr;  // guarded by connecting_mutex_

    std::thread thread_;
};

// True when the two relays describe the same room: envelope version, own
// slot, host slot and the same roster in any order.
bool slot_metadata_matches(const NetworkTransport& reliable, const NetworkTransport& unreliable);

}  // namespace qop::network
