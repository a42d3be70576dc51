#ifdef _WIN32

#include "shared/platform/windows/windows_pipe_open.hpp"

namespace qop::windows {

network::PipeAttempt try_open_named_pipe(const std::wstring& path, DWORD flags_and_attributes,
                                         UniqueHandle& pipe, DWORD& error_number) {
    const HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, flags_and_attributes, nullptr);
    error_number = opened == INVALID_HANDLE_VALUE ? GetLastError() : ERROR_SUCCESS;
    pipe.reset(opened);
    if (pipe.valid()) {
        return network::PipeAttempt::Opened;
    }
    if (error_number == ERROR_PIPE_BUSY) {
        return network::PipeAttempt::Busy;
    }
    if (error_number == ERROR_FILE_NOT_FOUND) {
        return network::PipeAttempt::Missing;
    }
    return network::PipeAttempt::Failed;
}

void wait_for_pipe_instance(const std::wstring& path, DWORD milliseconds) {
    // A time-out of 0 would mean the server's default wait, not none.
    WaitNamedPipeW(path.c_str(), milliseconds == 0 ? 1 : milliseconds);
}

}  // namespace qop::windows

#endif
