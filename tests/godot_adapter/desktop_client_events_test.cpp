#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <godot_cpp/variant/array.hpp>
#include <godot_cpp/variant/packed_byte_array.hpp>
#include <godot_cpp/variant/packed_int32_array.hpp>

#include "support/desktop_client_node_host.hpp"
#include "support/scripted_desktop.hpp"
#include "support/test_waits.hpp"

namespace qop::godot_adapter::testing {
namespace {

using godot::Dictionary;
using godot::Variant;
using qop::desktop::fakes::ScriptedDesktop;
using qop::desktop::fakes::ServerMessage;
using qop::test::wait_until;
namespace fakes = qop::desktop::fakes;

class DesktopClientEvents : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.loaded());
        host.engine().set_executable_path("/games/demo/demo.x86_64");
        node = host.new_node(desktop->make_platform());
    }

    // Attaches with `answer` and reconnection off, without polling.
    void attach_with(const ServerMessage& answer) {
        desktop->set_attach_handler(fakes::answer_attach_with(answer));
        host.call(node, "configure", {int64_t{4242}, text("prod"), false, false});
        ASSERT_TRUE(static_cast<bool>(host.call(node, "attach")));
        ASSERT_TRUE(
            wait_until([&] { return static_cast<bool>(host.call(node, "get_is_attached")); }));
    }

    // Polls as a game does every frame until `count` signals arrived.
    bool poll_until_emitted(std::size_t count) {
        return wait_until([&] {
            host.call(node, "poll_events");
            return host.engine().emissions().size() >= count;
        });
    }

    std::shared_ptr<ScriptedDesktop> desktop = ScriptedDesktop::create();
    DesktopClientNodeHost host;
    godot::Object* node = nullptr;
};

TEST_F(DesktopClientEvents, EveryKindBecomesItsSignalInQueueOrderWithinOnePoll) {
    ServerMessage answer = fakes::attached_answer();
    answer.mutable_attached()->mutable_user_profile()->set_nickname("Zoë · 玩家");
    attach_with(answer);
    // Every answer comes from this thread, so they reach the pipe in this order.
    desktop->set_command_handler(fakes::ignore_commands());
    const Variant request_id = host.call(node, "ping_desktop_session");
    ASSERT_TRUE(wait_until([&] { return desktop->command_requests().size() == 1; }));
    ASSERT_TRUE(desktop->push(
        fakes::command_result(utf8_of(request_id), true, "OK", "pong", R"({"pong":1})")));
    ASSERT_TRUE(desktop->push(fakes::command_result("not-pending", true, "OK", "push", "{}",
                                                    std::string("\xFF\x00\xC0", 3))));
    ASSERT_TRUE(desktop->push(fakes::anti_addiction_changed(R"({"minor":true})", "")));
    ASSERT_TRUE(desktop->push(fakes::detached_event("user-signed-out")));
    // Without reconnection the worker ends; then a refused command adds an error.
    ASSERT_TRUE(
        wait_until([&] { return host.call(node, "get_connection_state") == Variant(int64_t{0}); }));
    EXPECT_EQ(utf8_of(host.call(node, "ping_desktop_session")), "");

    host.call(node, "poll_events");
    EXPECT_THAT(
        host.emitted_names(),
        ::testing::ElementsAre("connection_state_changed", "connection_state_changed",
                               "connection_state_changed", "desktop_attached", "command_completed",
                               "desktop_notification_received", "anti_addiction_changed",
                               "desktop_detached", "connection_state_changed", "sdk_error"));
    // The host checks every emission against the declared argument kinds.
    EXPECT_THAT(host.engine().errors(), ::testing::IsEmpty());

    const auto states = host.emitted("connection_state_changed");
    const std::vector<std::pair<int64_t, std::string>> expected_states = {
        {1, "desktop-session-connecting"},
        {2, "desktop-session-attaching"},
        {3, "desktop-session-attached"},
        {0, "desktop-session-ended"}};
    ASSERT_EQ(states.size(), expected_states.size());
    for (std::size_t i = 0; i < expected_states.size(); ++i) {
        EXPECT_EQ(states[i][0].get_type(), Variant::INT);
        EXPECT_TRUE(states[i][0] == Variant(expected_states[i].first));
        EXPECT_EQ(utf8_of(states[i][1]), expected_states[i].second);
    }

    const Dictionary session = host.emitted("desktop_attached")[0][0];
    EXPECT_EQ(text_at(session, "desktop_session_id"), "desktop-session-1");
    EXPECT_TRUE(value_at(session, "app_id") == Variant(int64_t{4242}));
    const Dictionary profile = value_at(session, "user_profile");
    EXPECT_EQ(text_at(profile, "nickname"), "Zoë · 玩家");
    EXPECT_EQ(text_at(profile, "display_tag"), "#0001");
    EXPECT_TRUE(value_at(profile, "avatar_available") == Variant(true));
    const Dictionary capabilities = value_at(session, "capabilities");
    EXPECT_TRUE(value_at(capabilities, "achievements") == Variant(true));
    EXPECT_TRUE(value_at(capabilities, "user_context") == Variant(true));
    EXPECT_TRUE(value_at(capabilities, "share") == Variant(false));

    const auto completed = host.emitted("command_completed")[0];
    EXPECT_EQ(utf8_of(completed[0]), utf8_of(request_id));
    const Dictionary result = completed[1];
    EXPECT_THAT(keys_of(result), ::testing::ElementsAre("request_id", "success", "code", "message",
                                                        "content_json", "content_bytes"));
    EXPECT_EQ(text_at(result, "request_id"), utf8_of(request_id));
    EXPECT_TRUE(value_at(result, "success") == Variant(true));

    const Dictionary notification = host.emitted("desktop_notification_received")[0][0];
    EXPECT_EQ(text_at(notification, "request_id"), "not-pending");
    EXPECT_EQ(text_at(notification, "content_json"), "{}");
    const godot::PackedByteArray bytes = value_at(notification, "content_bytes");
    ASSERT_EQ(bytes.size(), 3);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0x00);
    EXPECT_EQ(bytes[2], 0xC0);

    const auto anti_addiction = host.emitted("anti_addiction_changed")[0];
    EXPECT_TRUE(value_at(anti_addiction[0], "minor") == Variant(true));
    EXPECT_EQ(static_cast<Dictionary>(anti_addiction[1]).size(), 0);

    EXPECT_EQ(utf8_of(host.emitted("desktop_detached")[0][0]), "user-signed-out");
    EXPECT_EQ(text_at(host.emitted("sdk_error")[0][0], "code"), "DESKTOP_SESSION_REQUIRED");
}

struct AntiAddictionCase {
    const char* name;
    const char* status_json;
    // The expected `status` argument: a JSON object's entries, or raw text.
    bool parsed;
    const char* raw_json;
};

// Unparsable or non-object texts travel as {"raw_json": text}; nothing fails.
TEST_F(DesktopClientEvents, AntiAddictionTextsBecomeDictionaries) {
    const AntiAddictionCase cases[] = {
        {"Object", R"({"a":1})", true, nullptr},
        {"Empty", "", false, nullptr},
        {"Letters", "abc", false, "abc"},
        {"Array", "[1]", false, "[1]"},
        {"Number", "3", false, "3"},
        {"Null", "null", false, "null"},
        {"Truncated", R"({"a":)", false, R"({"a":)"},
        {"DeeplyNested", nullptr, false, nullptr},
    };
    const std::string deep = std::string(20000, '[') + std::string(20000, ']');
    attach_with(fakes::attached_answer());
    host.call(node, "poll_events");
    host.engine().clear_emissions();
    for (const AntiAddictionCase& c : cases) {
        const std::string status = c.status_json != nullptr ? c.status_json : deep;
        ASSERT_TRUE(desktop->push(fakes::anti_addiction_changed(status, status)));
    }
    ASSERT_TRUE(poll_until_emitted(std::size(cases)));
    const auto emitted = host.emitted("anti_addiction_changed");
    ASSERT_EQ(emitted.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        for (const Variant& argument : emitted[i]) {
            ASSERT_EQ(argument.get_type(), Variant::DICTIONARY);
            const Dictionary dictionary = argument;
            if (cases[i].parsed) {
                const Variant a = value_at(dictionary, "a");
                EXPECT_EQ(a.get_type(), Variant::FLOAT);  // every JSON number is a float
                EXPECT_EQ(static_cast<double>(a), 1.0);
            } else if (cases[i].status_json != nullptr && cases[i].raw_json == nullptr) {
                EXPECT_EQ(dictionary.size(), 0);
            } else {
                EXPECT_THAT(keys_of(dictionary), ::testing::ElementsAre("raw_json"));
                const std::string raw = cases[i].raw_json != nullptr ? cases[i].raw_json : deep;
                EXPECT_EQ(text_at(dictionary, "raw_json"), raw);
            }
        }
    }
}

TEST_F(DesktopClientEvents, SessionAntiAddictionTextsKeepTheirParsedKind) {
    struct SessionCase {
        const char* name;
        const char* json;
        Variant::Type type;
        std::string text;  // for a String value
    };
    const SessionCase cases[] = {
        {"Empty", "", Variant::NIL, ""},
        {"Object", R"({"a":1})", Variant::DICTIONARY, ""},
        {"Array", "[1]", Variant::ARRAY, ""},
        {"Number", "3", Variant::FLOAT, ""},
        {"Text", R"("hi")", Variant::STRING, "hi"},
        {"Unparsable", "abc", Variant::STRING, "abc"},
        {"NullLiteral", "null", Variant::STRING, "null"},
    };
    for (const SessionCase& c : cases) {
        SCOPED_TRACE(c.name);
        ServerMessage answer = fakes::attached_answer();
        answer.mutable_attached()->set_anti_addiction_status_json(c.json);
        answer.mutable_attached()->set_anti_addiction_event_json(c.json);
        attach_with(answer);
        const Dictionary session = host.call(node, "get_current_session");
        for (const char* key : {"anti_addiction_status", "anti_addiction_event"}) {
            const Variant value = value_at(session, key);
            EXPECT_EQ(value.get_type(), c.type) << key;
            if (c.type == Variant::STRING) {
                EXPECT_EQ(utf8_of(value), c.text) << key;
            }
        }
    }
}

TEST_F(DesktopClientEvents, CapabilitiesListEveryEnabledFieldOnce) {
    ServerMessage answer = fakes::attached_answer();
    auto* offered = answer.mutable_attached()->mutable_capabilities();
    offered->set_achievements(true);
    offered->set_user_context(false);
    offered->set_anti_addiction(true);
    attach_with(answer);

    const Dictionary capabilities = host.call(node, "get_capabilities");
    EXPECT_TRUE(value_at(capabilities, "achievements") == Variant(true));
    EXPECT_TRUE(value_at(capabilities, "anti_addiction") == Variant(true));
    for (const char* key : {"user_context", "hosted_bootstrap", "lying_bottle", "cloud_archive",
                            "leaderboard", "share"}) {
        EXPECT_TRUE(value_at(capabilities, key) == Variant(false)) << key;
    }
    const godot::PackedInt32Array enabled = value_at(capabilities, "enabled_field_numbers");
    std::vector<int32_t> fields;
    for (int64_t i = 0; i < enabled.size(); ++i) {
        fields.push_back(enabled[i]);
    }
    EXPECT_THAT(fields, ::testing::UnorderedElementsAre(1, 6));
    EXPECT_TRUE(host.call(node, "supports_capability", {int64_t{6}}) == Variant(true));
    EXPECT_TRUE(host.call(node, "supports_capability", {int64_t{3}}) == Variant(false));
}

TEST_F(DesktopClientEvents, ErrorsCarryAllSixEntries) {
    attach_with(fakes::attached_answer());
    host.call(node, "poll_events");
    host.engine().clear_emissions();
    ASSERT_TRUE(
        desktop->push(fakes::error_message("FORBIDDEN", "Nope", "channel", "closed", "rejected")));
    ASSERT_TRUE(poll_until_emitted(1));
    const auto errors = host.emitted("sdk_error");
    ASSERT_EQ(errors.size(), 1u);
    const Dictionary error = errors[0][0];
    EXPECT_THAT(keys_of(error), ::testing::ElementsAre("code", "message", "category", "retryable",
                                                       "channel_state", "attach_state"));
    EXPECT_EQ(text_at(error, "code"), "FORBIDDEN");
    EXPECT_EQ(text_at(error, "message"), "Nope");
    EXPECT_EQ(text_at(error, "category"), "channel");
    EXPECT_TRUE(value_at(error, "retryable") == Variant(false));
    EXPECT_EQ(text_at(error, "channel_state"), "closed");
    EXPECT_EQ(text_at(error, "attach_state"), "rejected");
}

TEST_F(DesktopClientEvents, ANodeOutsideTheTreePumpsTheSameWay) {
    ASSERT_FALSE(host.engine().is_in_tree(static_cast<godot::Node*>(node)));
    attach_with(fakes::attached_answer());
    host.call(node, "poll_events");
    EXPECT_EQ(host.emitted("desktop_attached").size(), 1u);
}

}  // namespace
}  // namespace qop::godot_adapter::testing
