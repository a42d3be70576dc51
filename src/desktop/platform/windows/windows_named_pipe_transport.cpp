#ifdef _WIN32

#include "desktop/platform/windows/windows_named_pipe_transport.hpp"

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>

#include "desktop/desktop_endpoint_rules.hpp"
#include "desktop/desktop_pipe_rules.hpp"
#include "desktop/desktop_session_codec.hpp"
#include "desktop/desktop_session_records.hpp"
#include "desktop/desktop_session_timing.hpp"
#include "desktop/platform/windows/windows_handle.hpp"
#include "desktop/platform/windows/windows_text.hpp"

namespace qop::desktop {
namespace {

using Clock = std::chrono::steady_clock;

// Pause between connect rounds while the desktop client is absent or busy.
constexpr DWORD kConnectRoundWaitMs = 50;
// The largest count one ReadFile or WriteFile call takes.
constexpr std::size_t kLargestOperation = 0xFFFFFFFFu;

enum class ReadOutcome { Done, Closed, Failed };
enum class WaitOutcome { Completed, Cancelled, TimedOut };

bool means_closed(DWORD error_number) {
    return error_number == ERROR_BROKEN_PIPE || error_number == ERROR_PIPE_NOT_CONNECTED ||
           error_number == ERROR_OPERATION_ABORTED;
}

SdkError make_bridge_error(const std::string& message, DWORD error_number) {
    return make_bridge_error_with_text(message, system_error_text(error_number));
}

std::int64_t milliseconds_until(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    return std::chrono::ceil<std::chrono::milliseconds>(left).count();
}

class WindowsNamedPipeTransport final : public DesktopTransport {
public:
    explicit WindowsNamedPipeTransport(std::int64_t operation_timeout_ms)
        : operation_timeout_ms_(clamp_wait_milliseconds(operation_timeout_ms)),
          cancel_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          wake_event_(CreateEventW(nullptr, FALSE, FALSE, nullptr)),
          header_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    ~WindowsNamedPipeTransport() override { close(); }

    WindowsNamedPipeTransport(const WindowsNamedPipeTransport&) = delete;
    WindowsNamedPipeTransport& operator=(const WindowsNamedPipeTransport&) = delete;

    bool connect(const std::string& endpoint, std::int64_t timeout_ms, SdkError& error) override {
        close_pipe();
        if (!cancel_event_.valid()) {
            error =
                make_bridge_error("Could not create named-pipe cancellation event", GetLastError());
            return false;
        }
        // A cancel is final: it must survive this reset, whenever it came.
        if (cancelled_.load()) {
            return false;
        }
        ResetEvent(cancel_event_.get());
        if (cancelled_.load()) {
            SetEvent(cancel_event_.get());
            return false;
        }

        std::wstring name;
        // The system reads a name only up to its first NUL; a name holding
        // one would open the pipe of its first part, so it names no pipe.
        if (!utf8_to_wide(endpoint, name) || name.empty() ||
            name.find(L'\0') != std::wstring::npos) {
            error = make_session_required_error("Desktop session pipe endpoint is empty");
            return false;
        }
        const std::wstring path = complete_pipe_path(name);
        const Clock::time_point deadline = deadline_after(Clock::now(), timeout_ms);

        UniqueHandle pipe;
        for (;;) {
            if (Clock::now() >= deadline) {
                error =
                    make_session_required_error("Timed out connecting to the desktop session pipe");
                return false;
            }
            if (cancel_requested(0)) {
                return false;
            }
            const HANDLE opened =
                CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
            const DWORD open_error = GetLastError();
            pipe.reset(opened);
            if (pipe.valid()) {
                break;
            }
            if (open_error == ERROR_PIPE_BUSY) {
                WaitNamedPipeW(path.c_str(), kConnectRoundWaitMs);
                continue;
            }
            if (open_error == ERROR_FILE_NOT_FOUND) {
                // The desktop client is not serving yet; pause without spinning
                // a core, but wake at once on cancel.
                const std::int64_t left = milliseconds_until(deadline);
                cancel_requested(std::min<std::int64_t>(kConnectRoundWaitMs, left));
                continue;
            }
            error = make_bridge_error("Could not open desktop session pipe", open_error);
            return false;
        }

        DWORD mode = PIPE_READMODE_BYTE;
        if (!SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr)) {
            const DWORD configure_error = GetLastError();
            error = make_bridge_error("Could not configure desktop session pipe", configure_error);
            return false;
        }
        {
            std::lock_guard<std::mutex> lock(pipe_mutex_);
            pipe_ = std::move(pipe);
        }
        if (cancelled_.load()) {
            close_pipe();
            return false;
        }
        return true;
    }

    bool send_frame(const std::vector<std::uint8_t>& payload, SdkError& error) override {
        const HANDLE pipe = current_pipe();
        if (pipe == INVALID_HANDLE_VALUE) {
            error = make_bridge_error("Desktop session pipe is not connected",
                                      ERROR_PIPE_NOT_CONNECTED);
            return false;
        }
        const std::vector<std::uint8_t> frame = frame_with_length_prefix(payload);
        return write_all_overlapped(pipe, frame.data(), frame.size(), error);
    }

    ReceiveResult receive_frame(std::vector<std::uint8_t>& out, std::int64_t poll_ms,
                                SdkError& error) override {
        const HANDLE pipe = current_pipe();
        if (pipe == INVALID_HANDLE_VALUE) {
            return ReceiveResult::Closed;
        }
        std::size_t header_bytes = 0;
        switch (wait_for_header(pipe, poll_ms, header_bytes, error)) {
            case HeaderWait::Arrived:
                break;
            case HeaderWait::Nothing:
                return ReceiveResult::Idle;
            case HeaderWait::Closed:
                return ReceiveResult::Closed;
            case HeaderWait::Failed:
                return ReceiveResult::Error;
        }
        // The rest of the length, then the payload, under the read time-out.
        std::array<std::uint8_t, kDesktopFrameHeaderSize>& header = header_;
        const ReadOutcome header_read = read_exact_overlapped(pipe, header.data() + header_bytes,
                                                              header.size() - header_bytes, error);
        if (header_read != ReadOutcome::Done) {
            return to_receive_result(header_read);
        }
        std::uint32_t length = 0;
        // The length is checked before anything is allocated for it.
        if (!read_frame_length(header, length)) {
            error = make_invalid_payload_error("Desktop session frame length is invalid");
            return ReceiveResult::Error;
        }
        out.resize(length);
        const ReadOutcome body_read = read_exact_overlapped(pipe, out.data(), out.size(), error);
        return to_receive_result(body_read);
    }

    void cancel() override {
        cancelled_.store(true);
        if (cancel_event_.valid()) {
            SetEvent(cancel_event_.get());
        }
        std::lock_guard<std::mutex> lock(pipe_mutex_);
        if (pipe_.valid()) {
            CancelIoEx(pipe_.get(), nullptr);
        }
    }

    void wake() override {
        if (wake_event_.valid()) {
            SetEvent(wake_event_.get());
        }
    }

    void close() override {
        if (cancel_event_.valid()) {
            SetEvent(cancel_event_.get());
        }
        close_pipe();
    }

private:
    // How the wait for a frame's first bytes ended.
    enum class HeaderWait { Arrived, Nothing, Closed, Failed };
    enum class ReadStart { Finished, Pending, Closed, Failed };

    // Starts one overlapped read; either way it ends by signalling the
    // record's event.
    static ReadStart start_read(HANDLE pipe, std::uint8_t* data, DWORD size, OVERLAPPED& overlapped,
                                SdkError& error) {
        if (ReadFile(pipe, data, size, nullptr, &overlapped)) {
            return ReadStart::Finished;
        }
        const DWORD read_error = GetLastError();
        if (read_error == ERROR_IO_PENDING) {
            return ReadStart::Pending;
        }
        if (means_closed(read_error)) {
            return ReadStart::Closed;
        }
        error = make_bridge_error("Could not read desktop session pipe", read_error);
        return ReadStart::Failed;
    }

    // The read of a frame's first bytes stays pending from one call to the
    // next, so that the wait ends the moment the desktop writes, and so that
    // waiting costs no system call beyond the wait itself. The wait ends too
    // on a cancel (Closed) and on a wake or at the poll time (Nothing).
    HeaderWait wait_for_header(HANDLE pipe, std::int64_t poll_ms, std::size_t& got,
                               SdkError& error) {
        if (!header_event_.valid()) {
            error = make_bridge_error("Could not create named-pipe read event", GetLastError());
            return HeaderWait::Failed;
        }
        if (!header_pending_) {
            ResetEvent(header_event_.get());
            header_overlapped_ = OVERLAPPED{};
            header_overlapped_.hEvent = header_event_.get();
            switch (start_read(pipe, header_.data(), static_cast<DWORD>(header_.size()),
                               header_overlapped_, error)) {
                case ReadStart::Finished:
                case ReadStart::Pending:
                    break;
                case ReadStart::Closed:
                    return HeaderWait::Closed;
                case ReadStart::Failed:
                    return HeaderWait::Failed;
            }
            header_pending_ = true;
        }
        const HANDLE waits[3] = {header_event_.get(), cancel_event_.get(), wake_event_.get()};
        const DWORD count = wake_event_.valid() ? 3 : 2;
        const DWORD woken =
            WaitForMultipleObjects(count, waits, FALSE, clamp_wait_milliseconds(poll_ms));
        if (woken == WAIT_OBJECT_0 + 1) {
            return HeaderWait::Closed;
        }
        if (woken != WAIT_OBJECT_0) {
            return HeaderWait::Nothing;
        }
        header_pending_ = false;
        DWORD transferred = 0;
        if (!GetOverlappedResult(pipe, &header_overlapped_, &transferred, FALSE)) {
            const DWORD finish_error = GetLastError();
            if (means_closed(finish_error)) {
                return HeaderWait::Closed;
            }
            error =
                make_bridge_error("Could not finish reading desktop session pipe", finish_error);
            return HeaderWait::Failed;
        }
        if (transferred == 0) {
            return HeaderWait::Closed;
        }
        got = transferred;
        return HeaderWait::Arrived;
    }

    static ReceiveResult to_receive_result(ReadOutcome outcome) {
        switch (outcome) {
            case ReadOutcome::Done:
                return ReceiveResult::Frame;
            case ReadOutcome::Closed:
                return ReceiveResult::Closed;
            case ReadOutcome::Failed:
                break;
        }
        return ReceiveResult::Error;
    }

    HANDLE current_pipe() {
        std::lock_guard<std::mutex> lock(pipe_mutex_);
        return pipe_.valid() ? pipe_.get() : INVALID_HANDLE_VALUE;
    }

    void close_pipe() {
        UniqueHandle pipe;
        {
            std::lock_guard<std::mutex> lock(pipe_mutex_);
            if (pipe_.valid()) {
                CancelIoEx(pipe_.get(), nullptr);
                pipe = std::move(pipe_);
            }
        }
        // The pending read of a frame's first bytes writes into this object
        // until it has ended; the cancel above ends it promptly.
        if (header_pending_) {
            WaitForSingleObject(header_event_.get(), INFINITE);
            header_pending_ = false;
        }
    }

    // True when cancelled, waiting up to wait_ms for a cancel to come.
    bool cancel_requested(std::int64_t wait_ms) {
        if (cancelled_.load()) {
            return true;
        }
        return WaitForSingleObject(cancel_event_.get(), clamp_wait_milliseconds(wait_ms)) ==
               WAIT_OBJECT_0;
    }

    // Waits for one pending operation. Unless it completed, the operation is
    // cancelled and waited for, so that its OVERLAPPED record and event are
    // never released while the system may still write to them.
    WaitOutcome wait_for_operation(OVERLAPPED& overlapped) {
        const HANDLE waits[2] = {overlapped.hEvent, cancel_event_.get()};
        const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, operation_timeout_ms_);
        if (woken == WAIT_OBJECT_0) {
            return WaitOutcome::Completed;
        }
        {
            std::lock_guard<std::mutex> lock(pipe_mutex_);
            if (pipe_.valid()) {
                CancelIoEx(pipe_.get(), &overlapped);
            }
        }
        WaitForSingleObject(overlapped.hEvent, INFINITE);
        return woken == WAIT_OBJECT_0 + 1 ? WaitOutcome::Cancelled : WaitOutcome::TimedOut;
    }

    ReadOutcome read_exact_overlapped(HANDLE pipe, std::uint8_t* data, std::size_t size,
                                      SdkError& error) {
        std::size_t done = 0;
        while (done < size) {
            UniqueHandle operation_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            if (!operation_event.valid()) {
                error = make_bridge_error("Could not create named-pipe read event", GetLastError());
                return ReadOutcome::Failed;
            }
            OVERLAPPED overlapped{};
            overlapped.hEvent = operation_event.get();
            const DWORD ask = static_cast<DWORD>(std::min(size - done, kLargestOperation));
            const ReadStart started = start_read(pipe, data + done, ask, overlapped, error);
            if (started == ReadStart::Closed) {
                return ReadOutcome::Closed;
            }
            if (started == ReadStart::Failed) {
                return ReadOutcome::Failed;
            }
            if (started == ReadStart::Pending) {
                const WaitOutcome waited = wait_for_operation(overlapped);
                if (waited == WaitOutcome::Cancelled) {
                    return ReadOutcome::Closed;
                }
                if (waited == WaitOutcome::TimedOut) {
                    error =
                        make_bridge_error("Timed out reading desktop session pipe", ERROR_TIMEOUT);
                    return ReadOutcome::Failed;
                }
            }
            // Also when ReadFile finished at once: the count comes from here.
            DWORD transferred = 0;
            if (!GetOverlappedResult(pipe, &overlapped, &transferred, FALSE)) {
                const DWORD finish_error = GetLastError();
                if (means_closed(finish_error)) {
                    return ReadOutcome::Closed;
                }
                error = make_bridge_error("Could not finish reading desktop session pipe",
                                          finish_error);
                return ReadOutcome::Failed;
            }
            if (transferred == 0) {
                return ReadOutcome::Closed;
            }
            done += transferred;
        }
        return ReadOutcome::Done;
    }

    bool write_all_overlapped(HANDLE pipe, const std::uint8_t* data, std::size_t size,
                              SdkError& error) {
        std::size_t done = 0;
        while (done < size) {
            UniqueHandle operation_event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            if (!operation_event.valid()) {
                error =
                    make_bridge_error("Could not create named-pipe write event", GetLastError());
                return false;
            }
            OVERLAPPED overlapped{};
            overlapped.hEvent = operation_event.get();
            const DWORD offer = static_cast<DWORD>(std::min(size - done, kLargestOperation));
            if (!WriteFile(pipe, data + done, offer, nullptr, &overlapped)) {
                const DWORD write_error = GetLastError();
                if (write_error != ERROR_IO_PENDING) {
                    error = make_bridge_error("Could not write desktop session pipe", write_error);
                    return false;
                }
                if (wait_for_operation(overlapped) != WaitOutcome::Completed) {
                    error =
                        make_bridge_error("Timed out writing desktop session pipe", ERROR_TIMEOUT);
                    return false;
                }
            }
            DWORD transferred = 0;
            if (!GetOverlappedResult(pipe, &overlapped, &transferred, FALSE)) {
                const DWORD finish_error = GetLastError();
                // A cancel can abort the write before the wait sees the
                // cancellation event; it is still the cancel that ended it.
                if (finish_error == ERROR_OPERATION_ABORTED && cancel_requested(0)) {
                    error =
                        make_bridge_error("Timed out writing desktop session pipe", ERROR_TIMEOUT);
                    return false;
                }
                error = make_bridge_error("Could not finish writing desktop session pipe",
                                          finish_error);
                return false;
            }
            if (transferred == 0) {
                error = make_bridge_error("Desktop session pipe closed during write",
                                          ERROR_BROKEN_PIPE);
                return false;
            }
            done += transferred;
        }
        return true;
    }

    const DWORD operation_timeout_ms_;
    // Manual-reset; signalled by cancel and close. Null when creation failed.
    UniqueHandle cancel_event_;
    // Auto-reset: one wake ends one wait. Without it, waits end at their poll time.
    UniqueHandle wake_event_;
    // The read of a frame's first bytes, pending between calls while nothing
    // has arrived. Used by the worker thread only.
    UniqueHandle header_event_;
    OVERLAPPED header_overlapped_{};
    std::array<std::uint8_t, kDesktopFrameHeaderSize> header_{};
    bool header_pending_ = false;
    std::atomic<bool> cancelled_{false};
    // Guards pipe_ against cancel() from another thread: every assignment,
    // close and CancelIoEx of it happens under this lock, never across a wait.
    std::mutex pipe_mutex_;
    UniqueHandle pipe_;
};

}  // namespace

std::unique_ptr<DesktopTransport> make_named_pipe_transport(std::int64_t operation_timeout_ms) {
    return std::make_unique<WindowsNamedPipeTransport>(operation_timeout_ms);
}

}  // namespace qop::desktop

#endif
