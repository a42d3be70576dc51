#include "support/scripted_host_bridge_pipe.hpp"

#include <algorithm>
#include <thread>

namespace qop::test {

using qop::network::PipeChannel;
using qop::network::PipeConnector;
using qop::network::PipeOpenResult;

class ScriptedPipeChannel final : public PipeChannel {
public:
    explicit ScriptedPipeChannel(std::shared_ptr<ScriptedPipeServer> server)
        : server_(std::move(server)) {}
    ~ScriptedPipeChannel() override { server_->client_close(); }

    bool bytes_waiting(std::size_t& count) override { return server_->client_bytes_waiting(count); }
    bool read(std::uint8_t* buffer, std::size_t count, std::size_t& got) override {
        return server_->client_read(buffer, count, got);
    }
    bool write(const std::uint8_t* data, std::size_t count, std::size_t& written) override {
        return server_->client_write(data, count, written);
    }
    void wait_readable(std::chrono::milliseconds limit) override { server_->client_wait(limit); }
    void cancel() override { server_->client_cancel(); }

private:
    std::shared_ptr<ScriptedPipeServer> server_;
};

ScriptedPipeServer::ScriptedPipeServer(std::shared_ptr<ManualMonotonicClock> clock)
    : clock_(std::move(clock)) {}

void ScriptedPipeServer::push(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    readable_.insert(readable_.end(), bytes.begin(), bytes.end());
    changed_.notify_all();
}

void ScriptedPipeServer::reply_after_frame(std::size_t frame_count, const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (frames_.size() >= frame_count) {
        deliver_locked(bytes);
    } else {
        replies_.emplace(frame_count, bytes);
    }
}

void ScriptedPipeServer::trickle(std::size_t piece_size) {
    std::lock_guard<std::mutex> lock(mutex_);
    piece_size_ = piece_size;
}

void ScriptedPipeServer::hang_up() {
    std::lock_guard<std::mutex> lock(mutex_);
    hung_up_ = true;
    changed_.notify_all();
}

void ScriptedPipeServer::hang_up_after_frame(std::size_t frame_count) {
    std::lock_guard<std::mutex> lock(mutex_);
    hang_up_after_ = frame_count;
    hung_up_ = hung_up_ || frames_.size() >= frame_count;
    changed_.notify_all();
}

void ScriptedPipeServer::resend_after_every_read(const std::string& bytes, std::size_t times) {
    std::lock_guard<std::mutex> lock(mutex_);
    resend_ = bytes;
    resends_left_ = times;
}

void ScriptedPipeServer::charge_each_read(std::chrono::nanoseconds step) {
    std::lock_guard<std::mutex> lock(mutex_);
    read_cost_ = step;
}

void ScriptedPipeServer::fail_writes() {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_fail_ = true;
}

void ScriptedPipeServer::block_writes() {
    std::lock_guard<std::mutex> lock(mutex_);
    writes_block_ = true;
}

void ScriptedPipeServer::limit_write_size(std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    write_limit_ = size;
}

std::string ScriptedPipeServer::written() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_;
}

std::vector<std::string> ScriptedPipeServer::frames_written() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

std::size_t ScriptedPipeServer::bytes_waiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return readable_.size();
}

bool ScriptedPipeServer::client_closed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return client_closed_;
}

bool ScriptedPipeServer::cancelled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return cancelled_;
}

bool ScriptedPipeServer::wait_for_frames(std::size_t count, std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return frames_.size() >= count; });
}

bool ScriptedPipeServer::wait_for_blocked_write(std::chrono::milliseconds limit) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return write_blocked_; });
}

bool ScriptedPipeServer::client_bytes_waiting(std::size_t& count) {
    std::lock_guard<std::mutex> lock(mutex_);
    count = readable_.size();
    return !cancelled_ && !(hung_up_ && readable_.empty());
}

bool ScriptedPipeServer::client_read(std::uint8_t* buffer, std::size_t count, std::size_t& got) {
    std::lock_guard<std::mutex> lock(mutex_);
    got = 0;
    if (cancelled_ || readable_.empty()) {
        return false;
    }
    got = std::min(count, readable_.size());
    std::copy_n(readable_.begin(), got, buffer);
    readable_.erase(readable_.begin(), readable_.begin() + static_cast<std::ptrdiff_t>(got));
    if (resends_left_ > 0) {
        --resends_left_;
        readable_.insert(readable_.end(), resend_.begin(), resend_.end());
    }
    if (clock_ != nullptr) {
        clock_->advance(read_cost_);
    }
    return true;
}

bool ScriptedPipeServer::client_write(const std::uint8_t* data, std::size_t count,
                                      std::size_t& written) {
    std::unique_lock<std::mutex> lock(mutex_);
    written = 0;
    if (writes_block_) {
        write_blocked_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return cancelled_; });
    }
    if (cancelled_ || writes_fail_ || hung_up_) {
        return false;
    }
    written = write_limit_ == 0 ? count : std::min(count, write_limit_);
    written_.append(reinterpret_cast<const char*>(data), written);
    count_frames_locked();
    changed_.notify_all();
    return true;
}

void ScriptedPipeServer::client_wait(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!pieces_.empty()) {
        readable_.insert(readable_.end(), pieces_.front().begin(), pieces_.front().end());
        pieces_.pop_front();
        return;
    }
    if (clock_ != nullptr) {
        clock_->advance(limit);
        return;
    }
    changed_.wait_for(lock, limit, [&] { return cancelled_ || !readable_.empty() || hung_up_; });
}

void ScriptedPipeServer::client_cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    changed_.notify_all();
}

void ScriptedPipeServer::client_close() {
    std::lock_guard<std::mutex> lock(mutex_);
    client_closed_ = true;
    changed_.notify_all();
}

void ScriptedPipeServer::deliver_locked(const std::string& bytes) {
    if (piece_size_ == 0) {
        readable_.insert(readable_.end(), bytes.begin(), bytes.end());
    } else {
        for (std::size_t at = 0; at < bytes.size(); at += piece_size_) {
            pieces_.push_back(bytes.substr(at, piece_size_));
        }
    }
    changed_.notify_all();
}

void ScriptedPipeServer::count_frames_locked() {
    for (;;) {
        if (written_.size() - parsed_ < 4) {
            return;
        }
        std::uint32_t length = 0;
        for (int i = 3; i >= 0; --i) {
            length = (length << 8) | static_cast<std::uint8_t>(written_[parsed_ + i]);
        }
        if (written_.size() - parsed_ - 4 < length) {
            return;
        }
        frames_.push_back(written_.substr(parsed_ + 4, length));
        parsed_ += 4 + length;
        const auto due = replies_.equal_range(frames_.size());
        for (auto it = due.first; it != due.second; ++it) {
            deliver_locked(it->second);
        }
        replies_.erase(due.first, due.second);
        if (hang_up_after_ != 0 && frames_.size() >= hang_up_after_) {
            hung_up_ = true;
        }
    }
}

struct ScriptedPipeNetworkState {
    std::shared_ptr<ManualMonotonicClock> clock;
    std::mutex mutex;
    std::map<std::string, std::pair<std::shared_ptr<ScriptedPipeServer>, int>> pipes;
    std::vector<std::string> attempts;
    std::size_t instance_waits = 0;
};

namespace {

class ScriptedPipeConnector final : public PipeConnector {
public:
    explicit ScriptedPipeConnector(std::shared_ptr<ScriptedPipeNetworkState> shared)
        : shared_(std::move(shared)) {}

    PipeOpenResult try_open(const std::string& path,
                            std::unique_ptr<PipeChannel>& channel) override {
        std::shared_ptr<ScriptedPipeServer> server;
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            shared_->attempts.push_back(path);
            const auto found = shared_->pipes.find(path);
            if (found == shared_->pipes.end()) {
                return PipeOpenResult::Failed;
            }
            int& busy = found->second.second;
            if (busy != 0) {
                if (busy > 0) {
                    --busy;
                }
                return PipeOpenResult::Busy;
            }
            server = found->second.first;
        }
        channel = std::make_unique<ScriptedPipeChannel>(server);
        return PipeOpenResult::Opened;
    }

    void wait_for_instance(const std::string&, std::chrono::milliseconds limit) override {
        std::shared_ptr<ManualMonotonicClock> clock;
        {
            std::lock_guard<std::mutex> lock(shared_->mutex);
            ++shared_->instance_waits;
            clock = shared_->clock;
        }
        // Stands for the operating system's wait for a free pipe instance.
        if (clock != nullptr) {
            clock->advance(limit);
        } else {
            std::this_thread::sleep_for(limit);
        }
    }

private:
    std::shared_ptr<ScriptedPipeNetworkState> shared_;
};

}  // namespace

ScriptedPipeNetwork::ScriptedPipeNetwork(std::shared_ptr<ManualMonotonicClock> clock)
    : shared_(std::make_shared<ScriptedPipeNetworkState>()) {
    shared_->clock = std::move(clock);
}

void ScriptedPipeNetwork::add(const std::string& path, std::shared_ptr<ScriptedPipeServer> server,
                              int busy_opens) {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->pipes[path] = {std::move(server), busy_opens};
}

std::unique_ptr<PipeConnector> ScriptedPipeNetwork::connector() {
    return std::make_unique<ScriptedPipeConnector>(shared_);
}

std::vector<std::string> ScriptedPipeNetwork::open_attempts() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->attempts;
}

std::size_t ScriptedPipeNetwork::instance_waits() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->instance_waits;
}

}  // namespace qop::test
