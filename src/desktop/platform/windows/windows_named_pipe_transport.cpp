#ifdef _WIN32

#include "desktop/platform/windows/windows_named_pipe_transport.hpp"

#include <windows.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <mutex>

#include "desktop/desktop_endpoint_rules.hpp"
#include "desktop/desktop_session_codec.hpp"
#include "desktop/desktop_session_records.hpp"
#include "desktop/desktop_session_timing.hpp"
#include "desktop/pipe_wait_and_error_text.hpp"
#include "shared/pipe_open_rounds.hpp"
#include "shared/platform/windows/windows_handle.hpp"
#include "shared/platform/windows/windows_pipe_open.hpp"
#include "shared/platform/windows/windows_text.hpp"

namespace qop::desktop {
namespace {

using windows::UniqueHandle;
using Clock = std::chrono::steady_clock;

// Pause between connect rounds while the desktop client is absent or busy.
constexpr DWORD kConnectRoundWaitMs = 50;
// The largest count one ReadFile or WriteFile call takes.
constexpr std::size_t kLargestOperation = 0xFFFFFFFFu;

enum class WaitOutcome { Completed, Cancelled, TimedOut };

bool means_closed(DWORD error_number) {
    return error_number == ERROR_BROKEN_PIPE || error_number == ERROR_PIPE_NOT_CONNECTED ||
           error_number == ERROR_OPERATION_ABORTED;
}

SdkError make_bridge_error(const std::string& message, DWORD error_number) {
    return make_bridge_error_with_text(message, windows::system_error_text(error_number));
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
          read_event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

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
        if (!windows::utf8_to_wide(endpoint, name) || name.empty() ||
            name.find(L'\0') != std::wstring::npos) {
            error = make_session_required_error("Desktop session pipe endpoint is empty");
            return false;
        }
        const std::wstring path = complete_pipe_path(name);
        const Clock::time_point deadline = deadline_after(Clock::now(), timeout_ms);

        UniqueHandle pipe;
        if (!open_in_rounds(path, deadline, pipe, error)) {
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
        if (!read_event_.valid()) {
            error = make_bridge_error("Could not create named-pipe read event", GetLastError());
            return ReceiveResult::Error;
        }
        const Clock::time_point poll_end = deadline_after(Clock::now(), poll_ms);
        for (;;) {
            if (!read_pending_) {
                switch (start_frame_read(pipe, error)) {
                    case ReadStart::Finished:
                    case ReadStart::Pending:
                        break;
                    case ReadStart::Closed:
                        forget_frame();
                        return ReceiveResult::Closed;
                    case ReadStart::Failed:
                        forget_frame();
                        return ReceiveResult::Error;
                }
            }
            switch (wait_for_read(poll_end)) {
                case ReadWait::Finished:
                    break;
                case ReadWait::Cancelled:
                    abandon_read();
                    forget_frame();
                    return ReceiveResult::Closed;
                case ReadWait::TimedOut:
                    abandon_read();
                    forget_frame();
                    error =
                        make_bridge_error("Timed out reading desktop session pipe", ERROR_TIMEOUT);
                    return ReceiveResult::Error;
                case ReadWait::PollOver:
                    return inside_frame() ? ReceiveResult::Partial : ReceiveResult::Idle;
            }
            read_pending_ = false;
            DWORD transferred = 0;
            if (!GetOverlappedResult(pipe, &read_overlapped_, &transferred, FALSE)) {
                const DWORD finish_error = GetLastError();
                forget_frame();
                if (means_closed(finish_error)) {
                    return ReceiveResult::Closed;
                }
                error = make_bridge_error("Could not finish reading desktop session pipe",
                                          finish_error);
                return ReceiveResult::Error;
            }
            if (transferred == 0) {
                forget_frame();
                return ReceiveResult::Closed;
            }
            switch (take_read(transferred, out, error)) {
                case FrameStep::Whole:
                    return ReceiveResult::Frame;
                case FrameStep::BadLength:
                    return ReceiveResult::Error;
                case FrameStep::Incomplete:
                    break;
            }
        }
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
    enum class ReadStart { Finished, Pending, Closed, Failed };
    // How one wait on the read in flight ended; PollOver covers a wake.
    enum class ReadWait { Finished, Cancelled, TimedOut, PollOver };
    enum class FrameStep { Whole, Incomplete, BadLength };

    // Opens the pipe, trying again while it is busy or not there yet, until
    // the deadline or a cancel. A cancel ends it without an error.
    bool open_in_rounds(const std::wstring& path, Clock::time_point deadline, UniqueHandle& pipe,
                        SdkError& error) {
        DWORD open_error = ERROR_SUCCESS;
        network::PipeOpenRounds rounds;
        rounds.deadline_passed = [&] { return Clock::now() >= deadline; };
        rounds.cancelled = [&] { return cancel_requested(0); };
        rounds.try_open = [&] {
            return windows::try_open_named_pipe(path, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL,
                                                pipe, open_error);
        };
        rounds.wait_for_instance = [&] {
            windows::wait_for_pipe_instance(path, kConnectRoundWaitMs);
        };
        rounds.wait_for_server = [&] {
            // The desktop client is not serving yet; pause without spinning
            // a core, but wake at once on cancel.
            const std::int64_t left = milliseconds_until(deadline);
            cancel_requested(std::min<std::int64_t>(kConnectRoundWaitMs, left));
        };
        switch (network::open_pipe_in_rounds(rounds)) {
            case network::PipeOpenEnd::Opened:
                return true;
            case network::PipeOpenEnd::TimedOut:
                error =
                    make_session_required_error("Timed out connecting to the desktop session pipe");
                return false;
            case network::PipeOpenEnd::Cancelled:
                return false;
            case network::PipeOpenEnd::Failed:
                error = make_bridge_error("Could not open desktop session pipe", open_error);
                return false;
        }
        return false;
    }

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

    bool inside_frame() const { return header_got_ > 0; }

    // Starts the read of what the frame still needs: the rest of its length,
    // then the rest of its payload. Inside a frame each read gets the read
    // time-out; the read of a frame's first bytes waits as long as it takes.
    ReadStart start_frame_read(HANDLE pipe, SdkError& error) {
        std::uint8_t* target = nullptr;
        std::size_t wanted = 0;
        if (header_got_ < header_.size()) {
            target = header_.data() + header_got_;
            wanted = header_.size() - header_got_;
        } else {
            target = body_.data() + body_got_;
            wanted = body_.size() - body_got_;
        }
        ResetEvent(read_event_.get());
        read_overlapped_ = OVERLAPPED{};
        read_overlapped_.hEvent = read_event_.get();
        const ReadStart started =
            start_read(pipe, target, static_cast<DWORD>(std::min(wanted, kLargestOperation)),
                       read_overlapped_, error);
        if (started == ReadStart::Finished || started == ReadStart::Pending) {
            read_pending_ = true;
            read_deadline_ = deadline_after(Clock::now(), operation_timeout_ms_);
        }
        return started;
    }

    // Waits for the read in flight until the poll ends, a wake or a cancel
    // comes, or, inside a frame, the read time-out passes. The read stays in
    // flight unless it finished; the caller abandons it on a cancel or a
    // time-out.
    ReadWait wait_for_read(Clock::time_point poll_end) {
        const bool inside = inside_frame();
        std::int64_t wait_ms = milliseconds_until(poll_end);
        if (inside) {
            wait_ms = std::min(wait_ms, milliseconds_until(read_deadline_));
        }
        const HANDLE waits[3] = {read_event_.get(), cancel_event_.get(), wake_event_.get()};
        const DWORD count = wake_event_.valid() ? 3 : 2;
        const DWORD woken =
            WaitForMultipleObjects(count, waits, FALSE, clamp_wait_milliseconds(wait_ms));
        if (woken == WAIT_OBJECT_0) {
            return ReadWait::Finished;
        }
        if (woken == WAIT_OBJECT_0 + 1) {
            return ReadWait::Cancelled;
        }
        if (inside && (woken == WAIT_FAILED || Clock::now() >= read_deadline_)) {
            return ReadWait::TimedOut;
        }
        return ReadWait::PollOver;
    }

    // Cancels the read in flight and waits for it, so that the system no
    // longer writes into this object's buffers.
    void abandon_read() {
        {
            std::lock_guard<std::mutex> lock(pipe_mutex_);
            if (pipe_.valid()) {
                CancelIoEx(pipe_.get(), &read_overlapped_);
            }
        }
        WaitForSingleObject(read_event_.get(), INFINITE);
        read_pending_ = false;
    }

    // Counts the bytes a finished read brought; a whole frame's payload goes
    // to `out`.
    FrameStep take_read(DWORD transferred, std::vector<std::uint8_t>& out, SdkError& error) {
        if (header_got_ < header_.size()) {
            header_got_ += transferred;
            if (header_got_ < header_.size()) {
                return FrameStep::Incomplete;
            }
            std::uint32_t length = 0;
            // The length is checked before anything is allocated for it.
            if (!read_frame_length(header_, length)) {
                forget_frame();
                error = make_invalid_payload_error("Desktop session frame length is invalid");
                return FrameStep::BadLength;
            }
            body_.assign(length, 0);
            body_got_ = 0;
            return FrameStep::Incomplete;
        }
        body_got_ += transferred;
        if (body_got_ < body_.size()) {
            return FrameStep::Incomplete;
        }
        out = std::move(body_);
        forget_frame();
        return FrameStep::Whole;
    }

    void forget_frame() {
        header_got_ = 0;
        std::vector<std::uint8_t>().swap(body_);
        body_got_ = 0;
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
        // The read in flight writes into this object until it has ended; the
        // cancel above ends it promptly.
        if (read_pending_) {
            WaitForSingleObject(read_event_.get(), INFINITE);
            read_pending_ = false;
        }
        forget_frame();
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
    // The frame being read and the one read in flight for it, kept from one
    // receive_frame to the next while the frame has not all arrived. Used by
    // the worker thread only.
    UniqueHandle read_event_;
    OVERLAPPED read_overlapped_{};
    bool read_pending_ = false;
    Clock::time_point read_deadline_{};
    std::array<std::uint8_t, kDesktopFrameHeaderSize> header_{};
    std::size_t header_got_ = 0;
    std::vector<std::uint8_t> body_;
    std::size_t body_got_ = 0;
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
