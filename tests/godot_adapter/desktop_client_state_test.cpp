#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <godot_cpp/variant/packed_int32_array.hpp>

#include "support/desktop_client_node_host.hpp"
#include "support/scripted_desktop.hpp"

namespace qop::godot_adapter::testing {
namespace {

using godot::Dictionary;
using godot::Variant;
using qop::desktop::fakes::ScriptedDesktop;

void expect_no_capability(const Dictionary& capabilities) {
    EXPECT_THAT(keys_of(capabilities),
                ::testing::ElementsAre("achievements", "user_context", "hosted_bootstrap",
                                       "anti_addiction", "lying_bottle", "cloud_archive",
                                       "leaderboard", "share", "enabled_field_numbers"));
    for (const char* key : {"achievements", "user_context", "hosted_bootstrap", "anti_addiction",
                            "lying_bottle", "cloud_archive", "leaderboard", "share"}) {
        const Variant value = capabilities.get(key, Variant());
        EXPECT_EQ(value.get_type(), Variant::BOOL) << key;
        EXPECT_FALSE(static_cast<bool>(value)) << key;
    }
    const Variant enabled = capabilities.get("enabled_field_numbers", Variant());
    ASSERT_EQ(enabled.get_type(), Variant::PACKED_INT32_ARRAY);
    EXPECT_EQ(static_cast<godot::PackedInt32Array>(enabled).size(), 0);
}

class FreshDesktopClient : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(host.loaded());
        node = host.new_node(desktop->make_platform());
    }

    std::shared_ptr<ScriptedDesktop> desktop = ScriptedDesktop::create();
    DesktopClientNodeHost host;
    godot::Object* node = nullptr;
};

TEST_F(FreshDesktopClient, GettersReportNoSession) {
    EXPECT_TRUE(host.call(node, "get_connection_state") == Variant(int64_t{0}));
    EXPECT_TRUE(host.call(node, "get_is_attached") == Variant(false));
    EXPECT_EQ(utf8_of(host.call(node, "get_sdk_version")), "0.1.7");
    EXPECT_TRUE(host.call(node, "supports_capability", {int64_t{0}}) == Variant(true));
    EXPECT_TRUE(host.call(node, "supports_capability", {int64_t{-3}}) == Variant(true));
    EXPECT_TRUE(host.call(node, "supports_capability", {int64_t{1}}) == Variant(false));
    // Only the low 32 bits count: 2^32 + 1 asks for capability 1, 2^32 for none.
    EXPECT_TRUE(host.call(node, "supports_capability", {int64_t{4294967297}}) == Variant(false));
    EXPECT_TRUE(host.call(node, "supports_capability", {int64_t{4294967296}}) == Variant(true));
    EXPECT_THAT(host.engine().errors(), ::testing::IsEmpty());
}

TEST_F(FreshDesktopClient, PropertiesReadTheGettersAndRefuseAssignment) {
    EXPECT_TRUE(host.engine().get(node, "connection_state") == Variant(int64_t{0}));
    EXPECT_TRUE(host.engine().get(node, "is_attached") == Variant(false));
    EXPECT_EQ(utf8_of(host.engine().get(node, "sdk_version")), "0.1.7");
    EXPECT_EQ(host.engine().get(node, "current_session").get_type(), Variant::DICTIONARY);
    EXPECT_EQ(host.engine().get(node, "capabilities").get_type(), Variant::DICTIONARY);

    for (const char* property :
         {"is_attached", "connection_state", "current_session", "capabilities", "sdk_version"}) {
        EXPECT_FALSE(host.engine().set(node, property, Variant(int64_t{3}))) << property;
    }
    EXPECT_EQ(utf8_of(host.engine().get(node, "sdk_version")), "0.1.7");
    EXPECT_TRUE(host.engine().get(node, "connection_state") == Variant(int64_t{0}));
}

TEST_F(FreshDesktopClient, SessionDictionaryHasEveryKeyWithEmptyValues) {
    const Dictionary session = host.call(node, "get_current_session");
    EXPECT_THAT(keys_of(session),
                ::testing::ElementsAre("desktop_session_id", "user_id", "account_id", "login_state",
                                       "app_id", "capabilities", "validated_executable_path",
                                       "install_root", "message", "user_profile", "channel_state",
                                       "attach_state", "attach_source", "anti_addiction_status",
                                       "anti_addiction_event", "desktop_protocol_version"));
    for (const char* key : {"desktop_session_id", "user_id", "account_id", "login_state",
                            "validated_executable_path", "install_root", "message", "channel_state",
                            "attach_state", "attach_source", "desktop_protocol_version"}) {
        const Variant value = session.get(key, Variant());
        EXPECT_EQ(value.get_type(), Variant::STRING) << key;
        EXPECT_EQ(utf8_of(value), "") << key;
    }
    EXPECT_TRUE(session.get("app_id", Variant()) == Variant(int64_t{0}));
    EXPECT_EQ(session.get("anti_addiction_status", Variant(1)).get_type(), Variant::NIL);
    EXPECT_EQ(session.get("anti_addiction_event", Variant(1)).get_type(), Variant::NIL);

    const Dictionary profile = session.get("user_profile", Variant());
    EXPECT_THAT(keys_of(profile), ::testing::ElementsAre("nickname", "display_tag",
                                                         "avatar_available", "avatar_version"));
    EXPECT_EQ(utf8_of(profile.get("nickname", Variant())), "");
    EXPECT_TRUE(profile.get("avatar_available", Variant()) == Variant(false));
    expect_no_capability(session.get("capabilities", Variant()));
}

TEST_F(FreshDesktopClient, CapabilityDictionaryIsAllFalse) {
    expect_no_capability(host.call(node, "get_capabilities"));
}

TEST_F(FreshDesktopClient, PollingAnEmptyQueueEmitsNothing) {
    host.call(node, "poll_events");
    EXPECT_THAT(host.emitted_names(), ::testing::IsEmpty());
    EXPECT_THAT(host.engine().errors(), ::testing::IsEmpty());
}

// Without a desktop platform for the running system (anything but Windows),
// attach is refused and the reason arrives at the next poll.
TEST(PlainDesktopClient, AttachReportsTheMissingPlatform) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has a desktop platform";
#else
    DesktopClientNodeHost host;
    ASSERT_TRUE(host.loaded());
    host.engine().set_cmdline_args({"--qop-app-id", "42"});
    godot::Object* node = host.new_node();
    ASSERT_NE(node, nullptr);
    EXPECT_TRUE(host.call(node, "attach") == Variant(false));
    EXPECT_THAT(host.emitted_names(), ::testing::IsEmpty());

    host.call(node, "poll_events");
    const auto errors = host.emitted("sdk_error");
    ASSERT_EQ(errors.size(), 1u);
    const Dictionary error = errors[0][0];
    EXPECT_EQ(utf8_of(error.get("code", Variant())), "UNSUPPORTED_PLATFORM");
    EXPECT_EQ(utf8_of(error.get("message", Variant())),
              "No desktop transport is available for this platform");
    EXPECT_EQ(utf8_of(error.get("category", Variant())), "runtime");
    EXPECT_TRUE(error.get("retryable", Variant()) == Variant(true));
    EXPECT_TRUE(host.call(node, "get_connection_state") == Variant(int64_t{0}));
#endif
}

}  // namespace
}  // namespace qop::godot_adapter::testing
