#ifdef _WIN32

#include "support/test_pipe_server.hpp"

#include <algorithm>
#include <atomic>

namespace qop::test {
namespace {

using Clock = std::chrono::steady_clock;

std::wstring widen_ascii(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

bool name_is_free(const std::wstring& path) {
    return !WaitNamedPipeW(path.c_str(), 1) && GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace

std::string TestPipeServer::unique_name(const std::string& label) {
    static std::atomic<unsigned> counter{0};
    for (;;) {
        std::string name = "qop-test-" + label + "-" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(GetTickCount64()) + "-" +
                           std::to_string(counter.fetch_add(1));
        if (name_is_free(widen_ascii("\\\\.\\pipe\\" + name))) {
            return name;
        }
    }
}

TestPipeServer::TestPipeServer(std::string name, DWORD buffer_size)
    : name_(std::move(name)), wide_path_(widen_ascii(path())), buffer_size_(buffer_size) {}

TestPipeServer::~TestPipeServer() {
    close();
}

std::string TestPipeServer::path() const {
    return "\\\\.\\pipe\\" + name_;
}

bool TestPipeServer::listen() {
    close();
    pipe_ = CreateNamedPipeW(wide_path_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, buffer_size_,
                             buffer_size_, 0, nullptr);
    if (pipe_ == INVALID_HANDLE_VALUE) {
        return false;
    }
    connect_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (connect_event_ == nullptr) {
        close();
        return false;
    }
    return start_connect();
}

bool TestPipeServer::start_connect() {
    connected_ = false;
    connect_pending_ = false;
    ResetEvent(connect_event_);
    connect_overlapped_ = OVERLAPPED{};
    connect_overlapped_.hEvent = connect_event_;
    if (ConnectNamedPipe(pipe_, &connect_overlapped_)) {
        connected_ = true;
        return true;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED) {
        connected_ = true;
        return true;
    }
    connect_pending_ = error == ERROR_IO_PENDING;
    return connect_pending_;
}

bool TestPipeServer::accept(Limit limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    while (!connected_) {
        // The connect event alone is not reliable under Wine; a successful
        // peek on the instance also means that a client is there.
        DWORD available = 0;
        if (WaitForSingleObject(connect_event_, 5) == WAIT_OBJECT_0 ||
            PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr)) {
            connected_ = true;
            break;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
    }
    return true;
}

void TestPipeServer::finish_connect_wait() {
    if (connect_pending_ && pipe_ != INVALID_HANDLE_VALUE) {
        CancelIoEx(pipe_, &connect_overlapped_);
        WaitForSingleObject(connect_event_, 1000);
    }
    connect_pending_ = false;
}

bool TestPipeServer::transfer(bool is_write, std::uint8_t* data, std::size_t size, Limit limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    std::size_t done = 0;
    while (done < size) {
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (event == nullptr) {
            return false;
        }
        OVERLAPPED overlapped{};
        overlapped.hEvent = event;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 20));
        const BOOL started = is_write ? WriteFile(pipe_, data + done, chunk, nullptr, &overlapped)
                                      : ReadFile(pipe_, data + done, chunk, nullptr, &overlapped);
        if (!started && GetLastError() != ERROR_IO_PENDING) {
            CloseHandle(event);
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const DWORD wait_ms = static_cast<DWORD>(std::max<long long>(0, left.count()));
        if (WaitForSingleObject(event, wait_ms) != WAIT_OBJECT_0) {
            CancelIoEx(pipe_, &overlapped);
            WaitForSingleObject(event, INFINITE);
            CloseHandle(event);
            return false;
        }
        DWORD transferred = 0;
        const BOOL finished = GetOverlappedResult(pipe_, &overlapped, &transferred, FALSE);
        CloseHandle(event);
        if (!finished || transferred == 0) {
            return false;
        }
        done += transferred;
    }
    return true;
}

bool TestPipeServer::read_exact(std::size_t count, std::vector<std::uint8_t>& out, Limit limit) {
    out.assign(count, 0);
    return transfer(false, out.data(), count, limit);
}

bool TestPipeServer::read_frame(std::vector<std::uint8_t>& payload, Limit limit) {
    const Clock::time_point deadline = Clock::now() + limit;
    std::vector<std::uint8_t> header;
    if (!read_exact(4, header, limit)) {
        return false;
    }
    const std::uint32_t length = static_cast<std::uint32_t>(header[0]) |
                                 (static_cast<std::uint32_t>(header[1]) << 8) |
                                 (static_cast<std::uint32_t>(header[2]) << 16) |
                                 (static_cast<std::uint32_t>(header[3]) << 24);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return read_exact(length, payload, std::max(left, Limit(0)));
}

bool TestPipeServer::write_bytes(const std::vector<std::uint8_t>& bytes, Limit limit) {
    std::vector<std::uint8_t> copy = bytes;
    return transfer(true, copy.data(), copy.size(), limit);
}

bool TestPipeServer::write_frame(const std::vector<std::uint8_t>& payload, Limit limit) {
    const std::uint32_t length = static_cast<std::uint32_t>(payload.size());
    std::vector<std::uint8_t> frame = {
        static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
        static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    return write_bytes(frame, limit);
}

void TestPipeServer::close() {
    if (occupant_ != INVALID_HANDLE_VALUE) {
        CloseHandle(occupant_);
        occupant_ = INVALID_HANDLE_VALUE;
    }
    finish_connect_wait();
    if (pipe_ != INVALID_HANDLE_VALUE) {
        CloseHandle(pipe_);
        pipe_ = INVALID_HANDLE_VALUE;
    }
    if (connect_event_ != nullptr) {
        CloseHandle(connect_event_);
        connect_event_ = nullptr;
    }
    connected_ = false;
}

bool TestPipeServer::occupy() {
    if (pipe_ == INVALID_HANDLE_VALUE || connected_ || occupant_ != INVALID_HANDLE_VALUE) {
        return false;
    }
    occupant_ = CreateFileW(wide_path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    if (occupant_ == INVALID_HANDLE_VALUE) {
        return false;
    }
    return accept();
}

bool TestPipeServer::release_occupant() {
    if (occupant_ == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(occupant_);
    occupant_ = INVALID_HANDLE_VALUE;
    finish_connect_wait();
    DisconnectNamedPipe(pipe_);
    return start_connect();
}

}  // namespace qop::test

#endif
