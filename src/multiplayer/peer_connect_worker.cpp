#include "multiplayer/peer_connect_worker.hpp"

#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>

namespace qop::network {
namespace {

constexpr char kDescriptorExpired[] = "Data-plane descriptor expired";
constexpr char kSlotMetadataMismatch[] = "Reliable and UDP slot metadata do not match";

TransportEndpoint reliable_endpoint(const DataPlaneConnectionContext& context) {
    TransportEndpoint endpoint;
    endpoint.host = context.tcp_host;
    endpoint.port = context.tcp_port;
    endpoint.token = context.token;
    endpoint.frame_max_bytes = context.tcp_frame_max_bytes;
    return endpoint;
}

TransportEndpoint unreliable_endpoint(const DataPlaneConnectionContext& context,
                                      std::uint8_t envelope_version) {
    TransportEndpoint endpoint;
    endpoint.host = context.udp_host;
    endpoint.port = context.udp_port;
    endpoint.token = context.udp_token;
    endpoint.payload_max_bytes = context.udp_payload_max_bytes;
    endpoint.envelope_version = envelope_version;
    return endpoint;
}

// The reason a start failed, as far as memory allows: a text that cannot be
// copied leaves the reason empty rather than throwing from a handler.
void note_start_failure(std::string& error, const char* reason) noexcept {
    try {
        error = reason;
    } catch (...) {
        error.clear();
    }
}

// Runs `starting`, which starts the worker. Wrapping the worker's body in a
// std::function may allocate, and so may a thread starter other than the
// system's: a failure there is a thread that cannot start, never an exception
// for the caller.
template <typename Starting>
bool start_guarded(Starting&& starting, std::string& error) noexcept {
    try {
        return starting();
    } catch (const std::exception& failure) {
        note_start_failure(error, failure.what());
    } catch (...) {
        note_start_failure(error, "unknown error");
    }
    return false;
}

bool same_roster(const std::vector<SlotRosterEntry>& left,
                 const std::vector<SlotRosterEntry>& right) {
    if (left.size() != right.size()) {
        return false;
    }
    return std::all_of(left.begin(), left.end(), [&](const SlotRosterEntry& entry) {
        return std::any_of(right.begin(), right.end(), [&](const SlotRosterEntry& other) {
            return other.player_id == entry.player_id && other.slot == entry.slot;
        });
    });
}

}  // namespace

bool start_system_thread(std::function<void()> body, std::thread& thread, std::string& error) {
    // std::thread reports a refusal of the system as std::system_error and
    // a failed allocation of its state as std::bad_alloc; neither may reach
    // the engine.
    try {
        thread = std::thread(std::move(body));
        return true;
    } catch (const std::exception& failure) {
        note_start_failure(error, failure.what());
    } catch (...) {
        note_start_failure(error, "unknown error");
    }
    return false;
}

std::int64_t system_unix_seconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool slot_metadata_matches(const NetworkTransport& reliable, const NetworkTransport& unreliable) {
    return reliable.envelope_version() == unreliable.envelope_version() &&
           reliable.player_slot() == unreliable.player_slot() &&
           reliable.host_slot() == unreliable.host_slot() &&
           same_roster(reliable.slot_roster(), unreliable.slot_roster());
}

PeerConnectWorker::PeerConnectWorker(PeerConnectSeams seams) : seams_(std::move(seams)) {}

PeerConnectWorker::~PeerConnectWorker() {
    cancel();
    join();
}

bool PeerConnectWorker::start_bootstrap(HostedSessionPipe& pipe, HostedBootstrapContext bootstrap,
                                        std::string& error) {
    pipe_ = &pipe;
    const bool started = start_guarded(
        [&] {
            return start(
                [this, &pipe, input = std::move(bootstrap)]() mutable {
                    run_bootstrap_worker(pipe, std::move(input));
                },
                error);
        },
        error);
    if (!started) {
        pipe_ = nullptr;
    }
    return started;
}

bool PeerConnectWorker::start_data_plane(DataPlaneConnectionContext context, std::string& error) {
    pipe_ = nullptr;
    return start_guarded(
        [&] {
            return start(
                [this, input = std::move(context)]() mutable {
                    run_data_plane_worker(std::move(input));
                },
                error);
        },
        error);
}

bool PeerConnectWorker::start(std::function<void()> body, std::string& error) {
    cancel_requested_.exchange(false);
    result_ready_.exchange(false);
    {
        std::lock_guard<std::mutex> lock(result_mutex_);
        result_ = PeerConnectResult{};
    }
    std::thread started;
    if (!seams_.start_thread(std::move(body), started, error)) {
        return false;
    }
    thread_ = std::move(started);
    return true;
}

void PeerConnectWorker::cancel() {
    cancel_requested_.exchange(true);
    if (pipe_ != nullptr) {
        pipe_->cancel();
    }
    std::lock_guard<std::mutex> lock(connecting_mutex_);
    if (connecting_ != nullptr) {
        connecting_->cancel();
    }
}

void PeerConnectWorker::join() {
    if (thread_.joinable()) {
        thread_.join();
    }
    pipe_ = nullptr;
}

PeerConnectResult PeerConnectWorker::take_result() {
    std::lock_guard<std::mutex> lock(result_mutex_);
    return std::exchange(result_, PeerConnectResult{});
}

void PeerConnectWorker::discard_result_transports() {
    std::lock_guard<std::mutex> lock(result_mutex_);
    if (result_.succeeded) {
        result_.succeeded = false;
        result_.error = kConnectionClosedText;
    }
    result_.reliable.reset();
    result_.unreliable.reset();
}

void PeerConnectWorker::run_bootstrap_worker(HostedSessionPipe& pipe,
                                             HostedBootstrapContext bootstrap) {
    DataPlaneConnectionContext context;
    std::string error;
    std::unique_ptr<NetworkTransport> reliable;
    std::unique_ptr<NetworkTransport> unreliable;
    bool succeeded = pipe.connect(bootstrap, context, error);
    if (succeeded && !cancel_requested_.load()) {
        succeeded = open_data_plane(context, error, reliable, unreliable);
    }
    if (cancel_requested_.load()) {
        succeeded = false;
        error = kConnectionClosedText;
    }
    publish(succeeded, std::move(error), std::move(context), reliable, unreliable, &pipe);
}

void PeerConnectWorker::run_data_plane_worker(DataPlaneConnectionContext context) {
    std::string error;
    std::unique_ptr<NetworkTransport> reliable;
    std::unique_ptr<NetworkTransport> unreliable;
    bool succeeded = open_data_plane(context, error, reliable, unreliable);
    if (cancel_requested_.load()) {
        succeeded = false;
        error = kConnectionClosedText;
    }
    publish(succeeded, std::move(error), std::move(context), reliable, unreliable, nullptr);
}

bool PeerConnectWorker::open_data_plane(const DataPlaneConnectionContext& context,
                                        std::string& error,
                                        std::unique_ptr<NetworkTransport>& reliable,
                                        std::unique_ptr<NetworkTransport>& unreliable) {
    if (is_descriptor_expired(context, seams_.unix_seconds())) {
        error = kDescriptorExpired;
        return false;
    }
    reliable = seams_.make_reliable();
    unreliable = seams_.make_unreliable();
    bool succeeded = reliable != nullptr && unreliable != nullptr;
    if (!succeeded) {
        error = "Transport connection failed";
    }
    if (succeeded && !cancel_requested_.load()) {
        succeeded = connect_cancellable(*reliable, reliable_endpoint(context), error);
    }
    if (succeeded && !cancel_requested_.load()) {
        succeeded = connect_cancellable(
            *unreliable, unreliable_endpoint(context, reliable->envelope_version()), error);
    }
    if (succeeded && reliable->envelope_version() == 1 &&
        !slot_metadata_matches(*reliable, *unreliable)) {
        error = kSlotMetadataMismatch;
        succeeded = false;
    }
    if (cancel_requested_.load()) {
        error = kConnectionClosedText;
        return false;
    }
    return succeeded;
}

bool PeerConnectWorker::connect_cancellable(NetworkTransport& transport,
                                            const TransportEndpoint& endpoint, std::string& error) {
    {
        std::lock_guard<std::mutex> lock(connecting_mutex_);
        connecting_ = &transport;
    }
    // A cancel() that came before the transport was reachable has raised the
    // flag, so it is seen here; one that comes later reaches the transport.
    const bool succeeded = !cancel_requested_.load() && transport.connect(endpoint, error);
    std::lock_guard<std::mutex> lock(connecting_mutex_);
    connecting_ = nullptr;
    return succeeded;
}

void PeerConnectWorker::publish(bool succeeded, std::string error,
                                DataPlaneConnectionContext context,
                                std::unique_ptr<NetworkTransport>& reliable,
                                std::unique_ptr<NetworkTransport>& unreliable,
                                HostedSessionPipe* pipe_to_close) {
    std::lock_guard<std::mutex> lock(result_mutex_);
    result_.succeeded = succeeded;
    result_.error = std::move(error);
    if (succeeded) {
        result_.context = std::move(context);
        result_.reliable = std::move(reliable);
        result_.unreliable = std::move(unreliable);
    } else if (pipe_to_close != nullptr) {
        pipe_to_close->close();
    }
    result_ready_.exchange(true);
}

}  // namespace qop::network
