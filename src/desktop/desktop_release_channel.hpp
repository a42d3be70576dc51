#pragma once

#include <string>
#include <vector>

namespace qop::desktop {

enum class ReleaseChannel { Dev, Preview, Production };

// Exactly "dev" or "preview" (byte-wise, case-sensitive) select those
// channels; any other text is the production channel.
ReleaseChannel release_channel_of(const std::string& environment);

// What differs between the desktop client's release channels.
struct ReleaseChannelConstants {
    std::wstring executable_name;
    std::wstring programs_folder;                 // its folder under the local "Programs" folder
    std::string default_pipe_endpoint;            // UTF-8
    std::vector<std::wstring> install_path_keys;  // under HKEY_CURRENT_USER, in search order
};

const ReleaseChannelConstants& channel_constants(ReleaseChannel channel);

}  // namespace qop::desktop
