#pragma once

#ifdef _WIN32

#include <windows.h>

#include <chrono>
#include <string>

namespace qop::test {

// A name no other test (or leftover server) uses: Wine lets a stale server
// take the clients of a new one with the same name.
std::string unique_pipe_name(const char* purpose);

std::wstring widen(const std::string& utf8);

// One instance of a named pipe served from the test's own thread with
// overlapped I/O; every operation is bounded by a time limit. It never
// flushes (that blocks until the client reads) and ends with CloseHandle, so
// the client can still read what was sent before.
class HostBridgeTestPipeServer {
public:
    // Serves "\\.\pipe\<name>"; at most `max_instances` instances of the name.
    explicit HostBridgeTestPipeServer(const std::string& name, DWORD max_instances = 1,
                                      DWORD buffer_size = 4096);
    ~HostBridgeTestPipeServer();

    HostBridgeTestPipeServer(const HostBridgeTestPipeServer&) = delete;
    HostBridgeTestPipeServer& operator=(const HostBridgeTestPipeServer&) = delete;

    bool listening() const { return pipe_ != INVALID_HANDLE_VALUE; }

    bool wait_connected(std::chrono::milliseconds limit);
    bool read_exact(std::size_t count, std::string& out, std::chrono::milliseconds limit);
    // Reads one little-endian length-prefixed frame and returns its payload.
    bool read_frame(std::string& payload, std::chrono::milliseconds limit);
    bool write_all(const std::string& bytes, std::chrono::milliseconds limit);

    // Closes this instance (the client sees the pipe end) and, with `relisten`,
    // offers a fresh instance under the same name first (which needs room for
    // two instances).
    void close(bool relisten = false);

private:
    bool listen();
    bool complete(OVERLAPPED& overlapped, BOOL started, DWORD& transferred,
                  std::chrono::milliseconds limit);

    std::wstring path_;
    DWORD max_instances_;
    DWORD buffer_size_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE connect_event_ = nullptr;
    OVERLAPPED connect_overlapped_{};
    bool connected_ = false;
};

}  // namespace qop::test

#endif  // _WIN32
