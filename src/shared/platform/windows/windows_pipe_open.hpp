#pragma once

// One attempt to open a named pipe as a client, and the wait for a free
// instance after the pipe was busy: the steps both pipe clients take in
// their open rounds.

#ifdef _WIN32

#include <windows.h>

#include <string>

#include "shared/pipe_open_rounds.hpp"
#include "shared/platform/windows/windows_handle.hpp"

namespace qop::windows {

// Opens `path` for reading and writing, passing `flags_and_attributes` to
// CreateFileW. On Opened `pipe` holds the pipe; otherwise it is empty and
// `error_number` holds the system's error.
network::PipeAttempt try_open_named_pipe(const std::wstring& path, DWORD flags_and_attributes,
                                         UniqueHandle& pipe, DWORD& error_number);

// Waits at most `milliseconds` for an instance of `path` to free up.
void wait_for_pipe_instance(const std::wstring& path, DWORD milliseconds);

}  // namespace qop::windows

#endif
