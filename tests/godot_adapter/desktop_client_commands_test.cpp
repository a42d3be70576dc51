#include <cmath>
#include <limits>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <godot_cpp/variant/packed_byte_array.hpp>

#include "support/desktop_client_node_host.hpp"
#include "support/scripted_desktop.hpp"
#include "support/test_waits.hpp"

namespace qop::godot_adapter::testing {
namespace {

using godot::Dictionary;
using godot::Variant;
using qop::desktop::fakes::CommandRequest;
using qop::desktop::fakes::ScriptedDesktop;
using qop::desktop::fakes::ServerMessage;
using qop::test::wait_until;

const std::regex kRequestId("[0-9a-f]{32}");

class AttachedDesktopClient : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.loaded());
        host.engine().set_executable_path("/games/demo/demo.x86_64");
        node = host.new_node(desktop->make_platform());
        host.call(node, "configure", {int64_t{4242}});
        ASSERT_TRUE(static_cast<bool>(host.call(node, "attach")));
        ASSERT_TRUE(
            wait_until([&] { return static_cast<bool>(host.call(node, "get_is_attached")); }));
        host.call(node, "poll_events");
        host.engine().clear_emissions();
    }

    // The command the desktop received for a request id the node returned.
    CommandRequest received(const Variant& request_id) {
        const std::string id = utf8_of(request_id);
        CommandRequest found;
        wait_until([&] {
            for (const CommandRequest& request : desktop->command_requests()) {
                if (request.request_id() == id) {
                    found = request;
                    return true;
                }
            }
            return false;
        });
        return found;
    }

    std::shared_ptr<ScriptedDesktop> desktop = ScriptedDesktop::create();
    DesktopClientNodeHost host;
    godot::Object* node = nullptr;
};

struct PayloadCase {
    const char* name;
    const char* method;
    std::vector<Variant> arguments;
    uint32_t command;
    const char* string_value;
    const char* content_json;
};

class CommandPayloads : public AttachedDesktopClient,
                        public ::testing::WithParamInterface<PayloadCase> {};

TEST_P(CommandPayloads, ReachTheDesktopAsExactText) {
    const PayloadCase& payload = GetParam();
    const Variant request_id = host.call(node, payload.method, payload.arguments);
    ASSERT_TRUE(std::regex_match(utf8_of(request_id), kRequestId));
    const CommandRequest request = received(request_id);
    EXPECT_EQ(request.command(), static_cast<int>(payload.command));
    EXPECT_EQ(request.string_value(), payload.string_value);
    EXPECT_EQ(request.content_json(), payload.content_json);
    EXPECT_EQ(request.content_bytes(), "");
    EXPECT_THAT(host.engine().errors(), ::testing::IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandPayloads,
    ::testing::Values(
        PayloadCase{"Ping", "ping_desktop_session", {}, 1, "", ""},
        PayloadCase{"Capabilities", "get_desktop_capabilities", {}, 5, "", ""},
        PayloadCase{"UnlockWithEverything",
                    "unlock_achievement",
                    {text("first-win"), text("e"), int64_t{1700000000000}, int64_t{5}},
                    2,
                    "first-win",
                    R"({"appId":5,"eventId":"e","occurredAt":1700000000000})"},
        PayloadCase{"UnlockIgnoresNonPositiveTimeAndApp",
                    "unlock_achievement",
                    {text("first-win"), text("e"), int64_t{-1}, int64_t{-7}},
                    2,
                    "first-win",
                    R"({"eventId":"e"})"},
        PayloadCase{"UnlockKeepsTheKeyUnstripped",
                    "unlock_achievement",
                    {text(" first-win\t"), text("e")},
                    2,
                    " first-win\t",
                    R"({"eventId":"e"})"},
        PayloadCase{
            "ProgressWithEverything",
            "report_achievement_progress",
            {text("collector"), 12.5, text("s"), text("e"), int64_t{1700000000000}, int64_t{5}},
            3,
            "collector",
            R"({"appId":5,"eventId":"e","occurredAt":1700000000000,)"
            R"("progressSourceKey":"s","progressValue":12.5})"},
        PayloadCase{"ProgressZeroIsKept",
                    "report_achievement_progress",
                    {text("collector"), 0.0, text(""), text("e")},
                    3,
                    "collector",
                    R"({"eventId":"e","progressValue":0.0})"},
        PayloadCase{"ProgressWholeNumber",
                    "report_achievement_progress",
                    {text("collector"), 50.0, text(""), text("e")},
                    3,
                    "collector",
                    R"({"eventId":"e","progressValue":50.0})"},
        PayloadCase{"ProgressTenth",
                    "report_achievement_progress",
                    {text("collector"), 0.1, text(""), text("e")},
                    3,
                    "collector",
                    R"({"eventId":"e","progressValue":0.1})"},
        PayloadCase{"TextIsEscapedAndUtf8",
                    "report_achievement_progress",
                    {text("ключ"), -2.0, text("q\"b\\n\n"), text("é")},
                    3,
                    "ключ",
                    R"({"eventId":"é","progressSourceKey":"q\"b\\n\n","progressValue":-2.0})"},
        // JSON allows no raw control character and no \v escape.
        PayloadCase{"ControlCharactersBecomeUnicodeEscapes",
                    "report_achievement_progress",
                    {text("k"), 1.0, text(std::string("s\x01\x1f\x7f", 4)), text("a\vb\\v\tc")},
                    3,
                    "k",
                    R"({"eventId":"a\u000bb\\v\tc","progressSourceKey":"s\u0001\u001f)"
                    "\x7f"
                    R"(","progressValue":1.0})"},
        PayloadCase{"ClearForEveryApp", "clear_achievements", {}, 16, "", ""},
        PayloadCase{"ClearNegativeApp", "clear_achievements", {int64_t{-2}}, 16, "", ""},
        PayloadCase{"ClearOneApp", "clear_achievements", {int64_t{5}}, 16, "", R"({"appId":5})"}),
    [](const ::testing::TestParamInfo<PayloadCase>& info) { return info.param.name; });

TEST_F(AttachedDesktopClient, AMissingEventIdIsAFreshIdOfItsOwn) {
    for (const char* method : {"unlock_achievement", "report_achievement_progress"}) {
        SCOPED_TRACE(method);
        const std::vector<Variant> arguments = std::string(method) == "unlock_achievement"
                                                   ? std::vector<Variant>{text("k")}
                                                   : std::vector<Variant>{text("k"), 1.0};
        const Variant request_id = host.call(node, method, arguments);
        const CommandRequest request = received(request_id);
        std::smatch match;
        const std::string json = request.content_json();
        ASSERT_TRUE(std::regex_search(json, match, std::regex(R"re("eventId":"([0-9a-f]{32})")re")))
            << json;
        EXPECT_NE(match[1].str(), utf8_of(request_id));
        // Version-4 UUID bits.
        EXPECT_EQ(match[1].str()[12], '4');
    }
}

TEST_F(AttachedDesktopClient, RawCommandsPassUncheckedWithTheirLow32Bits) {
    godot::PackedByteArray bytes;
    for (int value : {0x00, 0xFF, 0xC3, 0x28, 0x00}) {
        bytes.push_back(static_cast<uint8_t>(value));
    }
    // 2^32 + 1 is command 1; capability -1 needs nothing.
    const Variant request_id = host.call(
        node, "send_command", {int64_t{4294967297}, int64_t{-1}, text("not json {"), bytes});
    ASSERT_TRUE(std::regex_match(utf8_of(request_id), kRequestId));
    const CommandRequest request = received(request_id);
    EXPECT_EQ(request.command(), 1);
    EXPECT_EQ(request.string_value(), "");
    EXPECT_EQ(request.content_json(), "not json {");
    EXPECT_EQ(request.content_bytes(), std::string("\x00\xFF\xC3\x28\x00", 5));

    // A number the schema does not list still goes out as it is.
    const CommandRequest unknown = received(host.call(node, "send_command", {int64_t{99}}));
    EXPECT_EQ(unknown.command(), 99);
    EXPECT_EQ(unknown.content_json(), "");
}

TEST_F(AttachedDesktopClient, EveryCallGetsItsOwnRequestIdAndCompletes) {
    const Variant first = host.call(node, "ping_desktop_session");
    const Variant second = host.call(node, "ping_desktop_session");
    EXPECT_NE(utf8_of(first), utf8_of(second));
    ASSERT_TRUE(wait_until([&] {
        host.call(node, "poll_events");
        return host.emitted("command_completed").size() == 2;
    }));
    const auto completed = host.emitted("command_completed");
    EXPECT_EQ(utf8_of(completed[0][0]), utf8_of(first));
    EXPECT_EQ(utf8_of(completed[1][0]), utf8_of(second));
    EXPECT_TRUE(value_at(completed[0][1], "success") == Variant(true));
}

struct RefusedInputCase {
    const char* name;
    const char* method;
    std::vector<Variant> arguments;
    const char* message;
};

class RefusedAchievementInput : public AttachedDesktopClient,
                                public ::testing::WithParamInterface<RefusedInputCase> {};

TEST_P(RefusedAchievementInput, ReportsAtOnceAndSendsNothing) {
    const RefusedInputCase& refused = GetParam();
    const Variant result = host.call(node, refused.method, refused.arguments);
    EXPECT_EQ(result.get_type(), Variant::STRING);
    EXPECT_EQ(utf8_of(result), "");

    // Emitted during the call, before any poll.
    const auto errors = host.emitted("sdk_error");
    ASSERT_EQ(errors.size(), 1u);
    const Dictionary error = errors[0][0];
    EXPECT_THAT(keys_of(error), ::testing::ElementsAre("code", "message", "category", "retryable"));
    EXPECT_EQ(text_at(error, "code"), "INVALID_INPUT");
    EXPECT_EQ(text_at(error, "message"), refused.message);
    EXPECT_EQ(text_at(error, "category"), "validation");
    EXPECT_TRUE(value_at(error, "retryable") == Variant(false));

    // Nothing was queued: the next command is the only one the desktop sees.
    const CommandRequest next = received(host.call(node, "ping_desktop_session"));
    EXPECT_EQ(desktop->command_requests().size(), 1u);
    EXPECT_EQ(next.command(), 1);
    host.call(node, "poll_events");
    EXPECT_EQ(host.emitted("sdk_error").size(), 1u);
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInfinity = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Inputs, RefusedAchievementInput,
    ::testing::Values(
        RefusedInputCase{
            "EmptyKey", "unlock_achievement", {text("")}, "Achievement key is required"},
        RefusedInputCase{
            "SpacesOnly", "unlock_achievement", {text("   ")}, "Achievement key is required"},
        RefusedInputCase{"ControlCharactersOnly",
                         "unlock_achievement",
                         {text("\t\r\n\x1f ")},
                         "Achievement key is required"},
        RefusedInputCase{"ProgressEmptyKey",
                         "report_achievement_progress",
                         {text(" "), 1.0},
                         "Achievement key is required"},
        RefusedInputCase{"ProgressEmptyKeyBeforeBadValue",
                         "report_achievement_progress",
                         {text(""), kNaN},
                         "Achievement key is required"},
        RefusedInputCase{"ProgressNaN",
                         "report_achievement_progress",
                         {text("k"), kNaN},
                         "Achievement progress value must be a finite number"},
        RefusedInputCase{"ProgressInfinity",
                         "report_achievement_progress",
                         {text("k"), kInfinity},
                         "Achievement progress value must be a finite number"},
        RefusedInputCase{"ProgressNegativeInfinity",
                         "report_achievement_progress",
                         {text("k"), -kInfinity},
                         "Achievement progress value must be a finite number"}),
    [](const ::testing::TestParamInfo<RefusedInputCase>& info) { return info.param.name; });

TEST_F(AttachedDesktopClient, AMissingCapabilityIsReportedAtTheNextPoll) {
    ServerMessage answer = qop::desktop::fakes::attached_answer();
    answer.mutable_attached()->mutable_capabilities()->set_achievements(false);
    desktop->set_attach_handler(qop::desktop::fakes::answer_attach_with(answer));
    ASSERT_TRUE(static_cast<bool>(host.call(node, "attach")));
    ASSERT_TRUE(wait_until([&] { return static_cast<bool>(host.call(node, "get_is_attached")); }));
    host.call(node, "poll_events");
    host.engine().clear_emissions();

    EXPECT_TRUE(host.call(node, "supports_capability", {int64_t{1}}) == Variant(false));
    for (const auto& [method, arguments] :
         std::vector<std::pair<const char*, std::vector<Variant>>>{
             {"unlock_achievement", {text("k")}},
             {"report_achievement_progress", {text("k"), 2.0}},
             {"clear_achievements", {}},
             {"send_command", {int64_t{17}, int64_t{1}}}}) {
        EXPECT_EQ(utf8_of(host.call(node, method, arguments)), "") << method;
    }
    EXPECT_THAT(host.emitted_names(), ::testing::IsEmpty());
    host.call(node, "poll_events");
    const auto errors = host.emitted("sdk_error");
    ASSERT_EQ(errors.size(), 4u);
    for (const auto& arguments : errors) {
        const Dictionary error = arguments[0];
        EXPECT_THAT(keys_of(error),
                    ::testing::ElementsAre("code", "message", "category", "retryable",
                                           "channel_state", "attach_state"));
        EXPECT_EQ(text_at(error, "code"), "DESKTOP_SESSION_CAPABILITY_MISSING");
        EXPECT_EQ(text_at(error, "message"),
                  "Desktop session does not expose the required capability");
        EXPECT_EQ(text_at(error, "category"), "channel");
        EXPECT_TRUE(value_at(error, "retryable") == Variant(true));
    }
    // Capability 0 needs nothing.
    EXPECT_NE(utf8_of(host.call(node, "send_command", {int64_t{17}})), "");
}

TEST(DetachedDesktopClient, CommandsAreRefusedUntilAttached) {
    auto desktop = ScriptedDesktop::create();
    DesktopClientNodeHost host;
    ASSERT_TRUE(host.loaded());
    godot::Object* node = host.new_node(desktop->make_platform());

    for (const auto& [method, arguments] :
         std::vector<std::pair<const char*, std::vector<Variant>>>{
             {"ping_desktop_session", {}},
             {"get_desktop_capabilities", {}},
             {"unlock_achievement", {text("k")}},
             {"clear_achievements", {int64_t{3}}},
             {"send_command", {int64_t{1}}}}) {
        EXPECT_EQ(utf8_of(host.call(node, method, arguments)), "") << method;
    }
    EXPECT_THAT(host.emitted_names(), ::testing::IsEmpty());

    host.call(node, "poll_events");
    const auto errors = host.emitted("sdk_error");
    ASSERT_EQ(errors.size(), 5u);
    for (const auto& arguments : errors) {
        const Dictionary error = arguments[0];
        EXPECT_EQ(text_at(error, "code"), "DESKTOP_SESSION_REQUIRED");
        EXPECT_EQ(text_at(error, "message"), "QOP desktop session is not attached");
        EXPECT_EQ(text_at(error, "channel_state"), "");
        EXPECT_EQ(text_at(error, "attach_state"), "");
    }
    EXPECT_TRUE(desktop->command_requests().empty());
}

}  // namespace
}  // namespace qop::godot_adapter::testing
