#include <gtest/gtest.h>

#include <string>

#include "desktop/desktop_endpoint_rules.hpp"
#include "desktop/desktop_release_channel.hpp"
#include "desktop/desktop_session_records.hpp"

namespace qop::desktop {
namespace {

struct ChannelCase {
    const char* environment;
    ReleaseChannel channel;
};

TEST(ReleaseChannelTest, OnlyExactLowerCaseNamesSelectDevAndPreview) {
    const ChannelCase cases[] = {
        {"dev", ReleaseChannel::Dev},
        {"preview", ReleaseChannel::Preview},
        {"prod", ReleaseChannel::Production},
        {"Dev", ReleaseChannel::Production},
        {"DEV", ReleaseChannel::Production},
        {"Preview", ReleaseChannel::Production},
        {"dev ", ReleaseChannel::Production},
        {" dev", ReleaseChannel::Production},
        {"", ReleaseChannel::Production},
        {"development", ReleaseChannel::Production},
        {"staging", ReleaseChannel::Production},
    };
    for (const ChannelCase& c : cases) {
        EXPECT_EQ(release_channel_of(c.environment), c.channel) << '"' << c.environment << '"';
    }
    EXPECT_EQ(release_channel_of(std::string("dev\0x", 5)), ReleaseChannel::Production);
}

struct EndpointCase {
    const char* name;
    const char* environment;
    const char* override_endpoint;
    const char* variable;  // value of the endpoint variable; empty when unset
    const char* expected;
};

TEST(PipeEndpointTest, OverrideOnDevThenVariableThenChannelDefault) {
    const EndpointCase cases[] = {
        {"dev override beats the variable", "dev", "my-pipe", "from-env", "my-pipe"},
        {"dev override kept unchanged", "dev", "\\\\.\\pipe\\x", "", "\\\\.\\pipe\\x"},
        {"dev without override uses the variable", "dev", "", "from-env", "from-env"},
        {"dev default", "dev", "", "", "\\\\.\\pipe\\halvex-desktop-sdk"},
        {"preview ignores the override", "preview", "my-pipe", "",
         "\\\\.\\pipe\\qop-desktop-sdk-preview"},
        {"preview uses the variable", "preview", "my-pipe", "from-env", "from-env"},
        {"production ignores the override", "prod", "my-pipe", "", "\\\\.\\pipe\\qop-desktop-sdk"},
        {"production uses the variable", "prod", "", "from-env", "from-env"},
        {"Dev is production", "Dev", "my-pipe", "", "\\\\.\\pipe\\qop-desktop-sdk"},
    };
    for (const EndpointCase& c : cases) {
        DesktopAttachOptions options;
        options.environment = c.environment;
        options.pipe_endpoint_override = c.override_endpoint;
        const std::string variable = c.variable;
        EXPECT_EQ(choose_pipe_endpoint(options, [&] { return variable; }), c.expected) << c.name;
    }
}

TEST(PipeEndpointTest, VariableIsNotReadWhenTheDevOverrideWins) {
    DesktopAttachOptions options;
    options.environment = "dev";
    options.pipe_endpoint_override = "mine";
    int reads = 0;
    EXPECT_EQ(choose_pipe_endpoint(options,
                                   [&] {
                                       ++reads;
                                       return std::string("other");
                                   }),
              "mine");
    EXPECT_EQ(reads, 0);
}

TEST(PipeEndpointTest, MissingLookupFallsBackToTheChannelDefault) {
    DesktopAttachOptions options;
    EXPECT_EQ(choose_pipe_endpoint(options, nullptr), "\\\\.\\pipe\\qop-desktop-sdk");
}

struct PrefixCase {
    const wchar_t* name;
    const wchar_t* expected;
};

TEST(PipePathTest, PrefixIsAddedUnlessAlreadyThereExactly) {
    const PrefixCase cases[] = {
        {L"qop-desktop-sdk", L"\\\\.\\pipe\\qop-desktop-sdk"},
        {L"\\\\.\\pipe\\qop-desktop-sdk", L"\\\\.\\pipe\\qop-desktop-sdk"},
        {L"\\\\.\\PIPE\\x", L"\\\\.\\pipe\\\\\\.\\PIPE\\x"},
        {L"\\\\.\\Pipe\\x", L"\\\\.\\pipe\\\\\\.\\Pipe\\x"},
        {L"\\\\.\\pipe", L"\\\\.\\pipe\\\\\\.\\pipe"},
        {L"//./pipe/x", L"\\\\.\\pipe\\//./pipe/x"},
        {L"\\\\.\\pipe\\", L"\\\\.\\pipe\\"},
        {L"a", L"\\\\.\\pipe\\a"},
    };
    for (const PrefixCase& c : cases) {
        EXPECT_EQ(complete_pipe_path(c.name), c.expected);
    }
}

}  // namespace
}  // namespace qop::desktop
