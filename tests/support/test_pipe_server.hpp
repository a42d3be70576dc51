#pragma once

#ifdef _WIN32

#include <windows.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace qop::test {

// A named-pipe server inside the test process, for driving pipe clients
// against real Windows (or Wine) pipes. Every call blocks at most for its
// limit; run the server side on a std::thread when the client must act at the
// same time. Not thread-safe: use one object from one thread at a time.
class TestPipeServer {
public:
    using Limit = std::chrono::milliseconds;

    // A bare pipe name that no other test, process or leftover server uses.
    static std::string unique_name(const std::string& label);

    // The server of `\\.\pipe\<name>`; nothing is created until listen().
    explicit TestPipeServer(std::string name, DWORD buffer_size = 4096);
    ~TestPipeServer();

    TestPipeServer(const TestPipeServer&) = delete;
    TestPipeServer& operator=(const TestPipeServer&) = delete;

    const std::string& name() const { return name_; }
    std::string path() const;  // "\\.\pipe\<name>"

    // Creates the only instance of the pipe and starts waiting for a client.
    bool listen();
    // Waits until a client has opened the instance.
    bool accept(Limit limit = Limit(5000));

    bool read_exact(std::size_t count, std::vector<std::uint8_t>& out, Limit limit = Limit(5000));
    // One frame: a 4-byte little-endian length, then that many bytes.
    bool read_frame(std::vector<std::uint8_t>& payload, Limit limit = Limit(5000));
    bool write_bytes(const std::vector<std::uint8_t>& bytes, Limit limit = Limit(5000));
    bool write_frame(const std::vector<std::uint8_t>& payload, Limit limit = Limit(5000));

    // Closes the instance the way a server process that ends would: bytes
    // already written stay readable for the client, then it sees a broken pipe.
    void close();

    // Makes the pipe busy: a client owned by the server opens the only
    // instance, so other clients get ERROR_PIPE_BUSY until release_occupant().
    bool occupy();
    // Lets the occupant go and waits for a new client on the same instance.
    bool release_occupant();

private:
    bool start_connect();
    bool transfer(bool is_write, std::uint8_t* data, std::size_t size, Limit limit);
    void finish_connect_wait();

    std::string name_;
    std::wstring wide_path_;
    DWORD buffer_size_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    HANDLE connect_event_ = nullptr;
    OVERLAPPED connect_overlapped_{};
    bool connect_pending_ = false;
    bool connected_ = false;
    HANDLE occupant_ = INVALID_HANDLE_VALUE;
};

}  // namespace qop::test

#endif
