#ifdef _WIN32

#include <windows.h>

#include <atomic>
#include <string>
#include <utility>

#include "host_bridge/host_bridge_pipe_channel.hpp"
#include "shared/platform/windows/windows_handle.hpp"
#include "shared/platform/windows/windows_pipe_open.hpp"
#include "shared/platform/windows/windows_text.hpp"

namespace qop::network {

namespace {

using windows::UniqueHandle;
using windows::utf8_to_wide;

DWORD clamp_to_dword(std::size_t count) {
    constexpr std::size_t kLargest = 1u << 30;  // far above any host-bridge frame
    return static_cast<DWORD>(count < kLargest ? count : kLargest);
}

DWORD to_wait_milliseconds(std::chrono::milliseconds limit) {
    if (limit.count() <= 0) {
        return 0;
    }
    const auto capped = limit.count() < 0x7FFFFFFF ? limit.count() : 0x7FFFFFFF;
    return static_cast<DWORD>(capped);
}

// A host-bridge pipe opened for synchronous I/O. Reads only take bytes that
// PeekNamedPipe reported, so they never block; a write can block while the
// server reads nothing, and cancel() aborts it with CancelIoEx.
class WindowsPipeChannel final : public PipeChannel {
public:
    WindowsPipeChannel(UniqueHandle pipe, UniqueHandle cancel_event)
        : pipe_(std::move(pipe)), cancel_event_(std::move(cancel_event)) {}

    bool bytes_waiting(std::size_t& count) override {
        count = 0;
        if (cancelled_.load()) {
            return false;
        }
        DWORD available = 0;
        if (!PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &available, nullptr)) {
            return false;
        }
        count = available;
        return true;
    }

    bool read(std::uint8_t* buffer, std::size_t count, std::size_t& got) override {
        got = 0;
        if (!begin_io()) {
            return false;
        }
        DWORD read = 0;
        const BOOL ok = ReadFile(pipe_.get(), buffer, clamp_to_dword(count), &read, nullptr);
        end_io();
        got = read;
        return ok != FALSE;
    }

    bool write(const std::uint8_t* data, std::size_t count, std::size_t& written) override {
        written = 0;
        if (!begin_io()) {
            return false;
        }
        DWORD done = 0;
        const BOOL ok = WriteFile(pipe_.get(), data, clamp_to_dword(count), &done, nullptr);
        end_io();
        written = done;
        return ok != FALSE;
    }

    void wait_readable(std::chrono::milliseconds limit) override {
        WaitForSingleObject(cancel_event_.get(), to_wait_milliseconds(limit));
    }

    void cancel() override {
        cancelled_.store(true);
        SetEvent(cancel_event_.get());
        // The I/O thread may be between its check of the flag and the system
        // call; keep cancelling until it has left the call, so a write that
        // starts just after this point cannot block for good.
        while (io_in_flight_.load()) {
            CancelIoEx(pipe_.get(), nullptr);
            Sleep(1);
        }
    }

private:
    bool begin_io() {
        io_in_flight_.store(true);
        if (cancelled_.load()) {
            io_in_flight_.store(false);
            return false;
        }
        return true;
    }

    void end_io() { io_in_flight_.store(false); }

    UniqueHandle pipe_;
    UniqueHandle cancel_event_;
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> io_in_flight_{false};
};

class WindowsPipeConnector final : public PipeConnector {
public:
    PipeOpenResult try_open(const std::string& path,
                            std::unique_ptr<PipeChannel>& channel) override {
        channel.reset();
        std::wstring wide;
        if (!utf8_to_wide(path, wide)) {
            return PipeOpenResult::Failed;
        }
        UniqueHandle pipe;
        DWORD open_error = ERROR_SUCCESS;
        switch (windows::try_open_named_pipe(wide, 0, pipe, open_error)) {
            case PipeAttempt::Opened:
                break;
            case PipeAttempt::Busy:
                return PipeOpenResult::Busy;
            case PipeAttempt::Missing:
            case PipeAttempt::Failed:
                return PipeOpenResult::Failed;
        }
        // A name such as "\\.\pipe\..\C:\file" reaches other objects; the
        // secrets written next must only ever go to a pipe.
        if (GetFileType(pipe.get()) != FILE_TYPE_PIPE) {
            return PipeOpenResult::Failed;
        }
        DWORD mode = PIPE_READMODE_BYTE | PIPE_WAIT;
        SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr);
        UniqueHandle cancel_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        if (!cancel_event.valid()) {
            return PipeOpenResult::Failed;
        }
        channel = std::make_unique<WindowsPipeChannel>(std::move(pipe), std::move(cancel_event));
        return PipeOpenResult::Opened;
    }

    void wait_for_instance(const std::string& path, std::chrono::milliseconds limit) override {
        std::wstring wide;
        if (utf8_to_wide(path, wide)) {
            windows::wait_for_pipe_instance(wide, to_wait_milliseconds(limit));
        }
    }
};

}  // namespace

std::unique_ptr<PipeConnector> create_default_pipe_connector() {
    return std::make_unique<WindowsPipeConnector>();
}

}  // namespace qop::network

#endif  // _WIN32
