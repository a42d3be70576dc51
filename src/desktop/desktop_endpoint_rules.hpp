#pragma once

#include <functional>
#include <string>

namespace qop::desktop {

struct DesktopAttachOptions;

// Names a pipe endpoint for every channel, overriding the channel default.
inline constexpr wchar_t kPipeEndpointVariable[] = L"ORVIK_DESKTOP_PIPE_ENDPOINT";

// Reads kPipeEndpointVariable as UTF-8; empty when unset or unreadable.
using PipeEndpointVariableLookup = std::function<std::string()>;

// First match wins: a non-empty override on "dev", then a non-empty
// environment variable (any channel), then the channel's default pipe.
std::string choose_pipe_endpoint(const DesktopAttachOptions& options,
                                 const PipeEndpointVariableLookup& read_endpoint_variable);

// A bare pipe name gets the local pipe prefix; a name that already starts
// with it (exactly, case-sensitive) is used unchanged.
std::wstring complete_pipe_path(const std::wstring& name);

}  // namespace qop::desktop
