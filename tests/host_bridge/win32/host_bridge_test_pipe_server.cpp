#ifdef _WIN32

#include "host_bridge_test_pipe_server.hpp"

#include <atomic>
#include <cstdint>
#include <thread>

namespace qop::test {

namespace {

using Clock = std::chrono::steady_clock;

DWORD milliseconds(std::chrono::milliseconds limit) {
    return static_cast<DWORD>(limit.count() > 0 ? limit.count() : 0);
}

}  // namespace

std::string unique_pipe_name(const char* purpose) {
    static std::atomic<unsigned> counter{0};
    for (;;) {
        const std::string name = std::string("qop-hostbridge-test-") + purpose + "-" +
                                 std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(counter.fetch_add(1));
        const std::wstring path = widen("\\\\.\\pipe\\" + name);
        if (!WaitNamedPipeW(path.c_str(), 1) && GetLastError() == ERROR_FILE_NOT_FOUND) {
            return name;
        }
    }
}

std::wstring widen(const std::string& utf8) {
    if (utf8.empty()) {
        return std::wstring();
    }
    const int needed =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                        needed);
    return wide;
}

HostBridgeTestPipeServer::HostBridgeTestPipeServer(const std::string& name, DWORD max_instances,
                                                   DWORD buffer_size)
    : path_(widen("\\\\.\\pipe\\" + name)),
      max_instances_(max_instances),
      buffer_size_(buffer_size) {
    listen();
}

HostBridgeTestPipeServer::~HostBridgeTestPipeServer() {
    close();
}

bool HostBridgeTestPipeServer::listen() {
    pipe_ = CreateNamedPipeW(path_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, max_instances_,
                             buffer_size_, buffer_size_, 0, nullptr);
    if (pipe_ == INVALID_HANDLE_VALUE) {
        return false;
    }
    // Each instance has its own event (see the platform notes on Wine).
    connect_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    connect_overlapped_ = OVERLAPPED{};
    connect_overlapped_.hEvent = connect_event_;
    connected_ = false;
    if (!ConnectNamedPipe(pipe_, &connect_overlapped_)) {
        connected_ = GetLastError() == ERROR_PIPE_CONNECTED;
    }
    return true;
}

bool HostBridgeTestPipeServer::wait_connected(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!connected_) {
        // A successful peek is the reliable sign of a connected client.
        // A broken pipe means a client came and has already gone.
        DWORD available = 0;
        if (PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr) ||
            GetLastError() == ERROR_BROKEN_PIPE) {
            connected_ = true;
            break;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        WaitForSingleObject(connect_event_, 5);
    }
    return true;
}

bool HostBridgeTestPipeServer::complete(OVERLAPPED& overlapped, BOOL started, DWORD& transferred,
                                        std::chrono::milliseconds limit) {
    if (!started && GetLastError() != ERROR_IO_PENDING) {
        return false;
    }
    if (WaitForSingleObject(overlapped.hEvent, milliseconds(limit)) != WAIT_OBJECT_0) {
        CancelIoEx(pipe_, &overlapped);
    }
    return GetOverlappedResult(pipe_, &overlapped, &transferred, TRUE) != FALSE;
}

bool HostBridgeTestPipeServer::read_exact(std::size_t count, std::string& out,
                                          std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    out.assign(count, '\0');
    std::size_t done = 0;
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool ok = true;
    while (ok && done < count) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event;
        ResetEvent(event);
        DWORD got = 0;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const BOOL started =
            ReadFile(pipe_, &out[done], static_cast<DWORD>(count - done), nullptr, &overlapped);
        ok = complete(overlapped, started, got, left) && got > 0;
        done += got;
    }
    CloseHandle(event);
    return ok;
}

bool HostBridgeTestPipeServer::read_frame(std::string& payload, std::chrono::milliseconds limit) {
    std::string header;
    if (!read_exact(4, header, limit)) {
        return false;
    }
    std::uint32_t length = 0;
    for (int i = 3; i >= 0; --i) {
        length = (length << 8) | static_cast<unsigned char>(header[static_cast<std::size_t>(i)]);
    }
    return read_exact(length, payload, limit);
}

bool HostBridgeTestPipeServer::write_all(const std::string& bytes,
                                         std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    std::size_t done = 0;
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool ok = true;
    while (ok && done < bytes.size()) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = event;
        ResetEvent(event);
        DWORD written = 0;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const BOOL started =
            WriteFile(pipe_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), nullptr,
                      &overlapped);
        ok = complete(overlapped, started, written, left) && written > 0;
        done += written;
    }
    CloseHandle(event);
    return ok;
}

void HostBridgeTestPipeServer::close(bool relisten) {
    const HANDLE old_pipe = pipe_;
    if (old_pipe != INVALID_HANDLE_VALUE) {
        CancelIoEx(old_pipe, nullptr);
        DWORD ignored = 0;
        GetOverlappedResult(old_pipe, &connect_overlapped_, &ignored, connected_ ? FALSE : TRUE);
        pipe_ = INVALID_HANDLE_VALUE;
    }
    if (connect_event_ != nullptr) {
        CloseHandle(connect_event_);
        connect_event_ = nullptr;
    }
    // The fresh instance is offered before the old one is closed, so the name
    // never vanishes: a client retrying a busy pipe would otherwise find no
    // pipe at all in between and give up at once.
    if (relisten) {
        listen();
    }
    if (old_pipe != INVALID_HANDLE_VALUE) {
        CloseHandle(old_pipe);
    }
}

}  // namespace qop::test

#endif  // _WIN32
