#include "desktop/desktop_release_channel.hpp"

namespace qop::desktop {

ReleaseChannel release_channel_of(const std::string& environment) {
    if (environment == "dev") {
        return ReleaseChannel::Dev;
    }
    if (environment == "preview") {
        return ReleaseChannel::Preview;
    }
    return ReleaseChannel::Production;
}

const ReleaseChannelConstants& channel_constants(ReleaseChannel channel) {
    static const ReleaseChannelConstants dev{
        L"Halvex.exe", L"Halvex", "\\\\.\\pipe\\halvex-desktop-sdk", {L"Software\\Halvex"}};
    static const ReleaseChannelConstants preview{
        L"VorlanePreview.exe",
        L"VorlanePreview",
        "\\\\.\\pipe\\qop-desktop-sdk-preview",
        {L"Software\\Vorlane Preview", L"Software\\VorlanePreview"}};
    static const ReleaseChannelConstants production{
        L"Vorlane.exe",
        L"Vorlane",
        "\\\\.\\pipe\\qop-desktop-sdk",
        {L"Software\\Vorlane", L"Software\\Orvik\\Desktop"}};
    switch (channel) {
        case ReleaseChannel::Dev:
            return dev;
        case ReleaseChannel::Preview:
            return preview;
        case ReleaseChannel::Production:
            break;
    }
    return production;
}

}  // namespace qop::desktop
