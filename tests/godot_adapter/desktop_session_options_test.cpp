#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/desktop_client_node_host.hpp"
#include "support/scripted_desktop.hpp"
#include "support/test_waits.hpp"

namespace qop::godot_adapter::testing {
namespace {

using godot::Dictionary;
using godot::Variant;
using qop::desktop::DesktopAttachOptions;
using qop::desktop::fakes::ScriptedDesktop;
using qop::test::wait_until;

class DesktopClientConfiguration : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.loaded());
        host.engine().set_executable_path("/games/demo/demo.x86_64");
        node = host.new_node(desktop->make_platform());
    }

    // Attaches and returns the options the session client worked with.
    std::optional<DesktopAttachOptions> options_of_attach() {
        const std::size_t before = desktop->resolve_options().size();
        if (!static_cast<bool>(host.call(node, "attach"))) {
            return std::nullopt;
        }
        if (!wait_until([&] { return desktop->resolve_options().size() > before; })) {
            return std::nullopt;
        }
        return desktop->resolve_options()[before];
    }

    std::string first_error_code() {
        host.call(node, "poll_events");
        const auto errors = host.emitted("sdk_error");
        if (errors.empty()) {
            return "";
        }
        return utf8_of(static_cast<Dictionary>(errors[0][0]).get("code", Variant()));
    }

    std::shared_ptr<ScriptedDesktop> desktop = ScriptedDesktop::create();
    DesktopClientNodeHost host;
    godot::Object* node = nullptr;
};

TEST_F(DesktopClientConfiguration, OmittedArgumentsTakeTheirDefaults) {
    host.call(node, "configure", {int64_t{7}});
    const auto options = options_of_attach();
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->app_id, 7u);
    EXPECT_EQ(options->environment, "prod");
    EXPECT_TRUE(options->auto_launch);
    EXPECT_TRUE(options->auto_reconnect);
    EXPECT_EQ(options->pipe_endpoint_override, "");
    EXPECT_EQ(options->launch_command, "");
    EXPECT_EQ(options->executable_path, "/games/demo/demo.x86_64");
    EXPECT_EQ(options->process_id, 4321u);  // filled in by the session client
    EXPECT_EQ(options->sdk_version, "0.1.7");
    EXPECT_EQ(options->engine, "godot");
    EXPECT_EQ(options->engine_version, "4.7.0");
    EXPECT_EQ(options->attach_timeout_ms, 5000);
    EXPECT_EQ(options->command_timeout_ms, 30000);
    EXPECT_THAT(host.engine().errors(), ::testing::IsEmpty());
}

struct EnvironmentCase {
    const char* given;
    const char* stored;
};

class EnvironmentNormalisation : public DesktopClientConfiguration,
                                 public ::testing::WithParamInterface<EnvironmentCase> {};

TEST_P(EnvironmentNormalisation, OnlyDevAndPreviewSurviveInAnyCase) {
    host.call(node, "configure",
              {int64_t{9}, text(GetParam().given), false, false, text(" pipe\\x "),
               text(" C:\\Zoë\\desktop.exe ")});
    const auto options = options_of_attach();
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->environment, GetParam().stored);
    EXPECT_FALSE(options->auto_launch);
    EXPECT_FALSE(options->auto_reconnect);
    // Override and launch command travel untrimmed and unchecked.
    EXPECT_EQ(options->pipe_endpoint_override, " pipe\\x ");
    EXPECT_EQ(options->launch_command, " C:\\Zoë\\desktop.exe ");
}

INSTANTIATE_TEST_SUITE_P(
    Channels, EnvironmentNormalisation,
    ::testing::Values(EnvironmentCase{"dev", "dev"}, EnvironmentCase{"DEV", "dev"},
                      EnvironmentCase{"Preview", "preview"}, EnvironmentCase{"prod", "prod"},
                      EnvironmentCase{"production", "prod"}, EnvironmentCase{" dev", "prod"},
                      EnvironmentCase{"dev\n", "prod"}, EnvironmentCase{"", "prod"},
                      EnvironmentCase{"DÉV", "prod"}));

struct ConfiguredIdCase {
    int64_t configured;
    uint32_t stored;  // 0: resolved at attach, where nothing else supplies one
};

class ConfiguredAppId : public DesktopClientConfiguration,
                        public ::testing::WithParamInterface<ConfiguredIdCase> {};

TEST_P(ConfiguredAppId, OutOfRangeIdsAreStoredAsUnset) {
    host.call(node, "configure", {GetParam().configured});
    const auto options = options_of_attach();
    if (GetParam().stored == 0) {
        EXPECT_FALSE(options.has_value());
        EXPECT_EQ(first_error_code(), "APP_ID_REQUIRED");
        return;
    }
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->app_id, GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(Ids, ConfiguredAppId,
                         ::testing::Values(ConfiguredIdCase{1, 1},
                                           ConfiguredIdCase{4294967295LL, 4294967295u},
                                           ConfiguredIdCase{4294967296LL, 0},
                                           ConfiguredIdCase{0, 0}, ConfiguredIdCase{-5, 0},
                                           ConfiguredIdCase{-4294967295LL, 0}));

struct ResolutionCase {
    const char* name;
    int64_t configured;
    std::vector<std::string> arguments;
    const char* orvik_app_id;  // null: unset
    const char* qop_app_id;
    uint32_t expected;  // 0: no id, attach refused
};

class AppIdResolution : public DesktopClientConfiguration,
                        public ::testing::WithParamInterface<ResolutionCase> {};

TEST_P(AppIdResolution, FirstSourceThatParsesWins) {
    const ResolutionCase& resolution = GetParam();
    host.engine().set_cmdline_args(resolution.arguments);
    if (resolution.orvik_app_id != nullptr) {
        host.engine().set_environment_variable("ORVIK_APP_ID", resolution.orvik_app_id);
    }
    if (resolution.qop_app_id != nullptr) {
        host.engine().set_environment_variable("QOP_APP_ID", resolution.qop_app_id);
    }
    host.call(node, "configure", {resolution.configured});
    const auto options = options_of_attach();
    if (resolution.expected == 0) {
        EXPECT_FALSE(options.has_value());
        EXPECT_EQ(first_error_code(), "APP_ID_REQUIRED");
        return;
    }
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->app_id, resolution.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, AppIdResolution,
    ::testing::Values(
        ResolutionCase{"ConfiguredWins", 5, {"--qop-app-id", "42"}, "43", "44", 5},
        ResolutionCase{"SeparateValue", 0, {"--qop-app-id", "42"}, nullptr, nullptr, 42},
        ResolutionCase{"JoinedValue", 0, {"--qop-app-id=42"}, nullptr, nullptr, 42},
        ResolutionCase{"DovralOption", 0, {"--dovral-app-id", "8"}, nullptr, nullptr, 8},
        ResolutionCase{"DovralHasNoJoinedForm", 0, {"--dovral-app-id=8"}, nullptr, "3", 3},
        ResolutionCase{"OptionsAreCaseSensitive", 0, {"--QOP-APP-ID", "8"}, nullptr, nullptr, 0},
        ResolutionCase{"InvalidValueIsSkipped",
                       0,
                       {"--qop-app-id", "abc", "--qop-app-id", "7"},
                       nullptr,
                       nullptr,
                       7},
        ResolutionCase{"ValueIsExaminedAsAnOption",
                       0,
                       {"--qop-app-id", "--qop-app-id=12"},
                       nullptr,
                       nullptr,
                       12},
        ResolutionCase{"TrailingOptionIsSkipped", 0, {"game", "--qop-app-id"}, "11", nullptr, 11},
        ResolutionCase{"FirstValidArgumentWins",
                       0,
                       {"--qop-app-id=0", "--dovral-app-id", "21", "--qop-app-id", "22"},
                       nullptr,
                       nullptr,
                       21},
        ResolutionCase{"OrvikBeforeQop", 0, {}, "31", "32", 31},
        ResolutionCase{"QopWhenOrvikDoesNotParse", 0, {}, "abc", "9", 9},
        ResolutionCase{"EmptyVariablesGiveNothing", 0, {}, "", "", 0},
        ResolutionCase{"NothingAnywhere", 0, {}, nullptr, nullptr, 0}),
    [](const ::testing::TestParamInfo<ResolutionCase>& info) { return info.param.name; });

struct ParseCase {
    const char* name;
    const char* value;
    uint32_t expected;  // 0: does not parse
};

class AppIdParsing : public DesktopClientConfiguration,
                     public ::testing::WithParamInterface<ParseCase> {};

// Every text goes through the joined option, where nothing else can supply
// an id.
TEST_P(AppIdParsing, DecimalIdsInRangeOnly) {
    host.engine().set_cmdline_args({std::string("--qop-app-id=") + GetParam().value});
    const auto options = options_of_attach();
    if (GetParam().expected == 0) {
        EXPECT_FALSE(options.has_value());
        EXPECT_EQ(first_error_code(), "APP_ID_REQUIRED");
        return;
    }
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->app_id, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AppIdParsing,
    ::testing::Values(ParseCase{"Plain", "42", 42}, ParseCase{"LeadingSpace", " 42", 42},
                      ParseCase{"LeadingTab", "\t42", 42}, ParseCase{"LeadingPlus", "+42", 42},
                      ParseCase{"LeadingZeros", "007", 7},
                      ParseCase{"Largest", "4294967295", 4294967295u},
                      ParseCase{"TrailingSpace", "42 ", 0}, ParseCase{"Zero", "0", 0},
                      ParseCase{"Negative", "-5", 0}, ParseCase{"NegativeAfterSpace", " -1", 0},
                      // strtoull would wrap this to 1.
                      ParseCase{"NegativeThatWrapsToOne", "-18446744073709551615", 0},
                      ParseCase{"AboveRange", "4294967296", 0},
                      ParseCase{"Overflowing", "99999999999999999999999", 0},
                      ParseCase{"Empty", "", 0}, ParseCase{"SignOnly", "+", 0},
                      ParseCase{"TwoSigns", "+-4", 0}, ParseCase{"Hexadecimal", "0x10", 0},
                      ParseCase{"TrailingLetters", "42abc", 0},
                      ParseCase{"NonAsciiDigits", "４２", 0}),
    [](const ::testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

TEST_F(DesktopClientConfiguration, EngineVersionComesFromTheVersionInfo) {
    Dictionary info;
    info["major"] = int64_t{4};
    info["minor"] = int64_t{8};
    host.engine().set_version_info(info);
    host.call(node, "configure", {int64_t{3}});
    auto options = options_of_attach();
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->engine_version, "4.8.1");

    Dictionary odd;
    odd["major"] = int64_t{-1};
    odd["minor"] = int64_t{12};
    odd["patch"] = int64_t{9000000000};
    host.engine().set_version_info(odd);
    options = options_of_attach();
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->engine_version, "-1.12.9000000000");
}

TEST_F(DesktopClientConfiguration, WithoutTheEngineSingletonTheVersionIsFixed) {
    host.engine().set_engine_available(false);
    host.call(node, "configure", {int64_t{3}});
    const auto options = options_of_attach();
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->engine_version, "4.7.1");
}

TEST_F(DesktopClientConfiguration, WithoutTheOsSingletonOnlyTheConfiguredIdCounts) {
    host.engine().set_cmdline_args({"--qop-app-id", "42"});
    host.engine().set_os_available(false);
    EXPECT_TRUE(host.call(node, "attach") == Variant(false));
    EXPECT_EQ(first_error_code(), "APP_ID_REQUIRED");

    host.call(node, "configure", {int64_t{6}});
    const auto options = options_of_attach();
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->app_id, 6u);
    EXPECT_EQ(options->executable_path, "");
}

TEST_F(DesktopClientConfiguration, ExecutablePathTravelsAsUtf8) {
    host.engine().set_executable_path("C:/Spiele/Zoë 游戏/game.exe");
    host.call(node, "configure", {int64_t{3}});
    const auto options = options_of_attach();
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->executable_path, "C:/Spiele/Zoë 游戏/game.exe");
}

TEST_F(DesktopClientConfiguration, ARunningSessionKeepsItsOptionsUntilTheNextAttach) {
    host.call(node, "configure", {int64_t{3}, text("dev")});
    auto options = options_of_attach();
    ASSERT_TRUE(options.has_value());
    ASSERT_TRUE(wait_until([&] { return static_cast<bool>(host.call(node, "get_is_attached")); }));

    host.call(node, "configure", {int64_t{4}, text("preview")});
    EXPECT_TRUE(host.call(node, "get_is_attached") == Variant(true));
    EXPECT_EQ(desktop->resolve_options().size(), 1u);

    // Attaching again stops the running session and starts with the new values.
    options = options_of_attach();
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->app_id, 4u);
    EXPECT_EQ(options->environment, "preview");
    host.call(node, "poll_events");
    std::vector<std::pair<int64_t, std::string>> states;
    for (const auto& arguments : host.emitted("connection_state_changed")) {
        states.emplace_back(static_cast<int64_t>(arguments[0]), utf8_of(arguments[1]));
    }
    const std::pair<int64_t, std::string> stopping{5, "disconnect-requested"};
    const std::pair<int64_t, std::string> stopped{0, "disconnected"};
    EXPECT_THAT(states, ::testing::IsSupersetOf({stopping, stopped}));
}

}  // namespace
}  // namespace qop::godot_adapter::testing
