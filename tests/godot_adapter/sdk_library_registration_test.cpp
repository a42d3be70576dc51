#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <godot_standin/class_records.hpp>
#include <godot_standin/engine_host.hpp>

#include "godot_adapter/godot_string_conversion.hpp"
#include "godot_adapter/sdk_library_entry.hpp"
#include "support/desktop_client_node_host.hpp"

namespace qop::godot_adapter::testing {
namespace {

using godot::Variant;
using godot_standin::EngineHost;
using godot_standin::EngineVersion;

std::string name_of(const godot::StringName& name) {
    return to_std_string(name.text());
}

struct ArgumentSpec {
    const char* name;
    Variant::Type type;
};

struct MethodSpec {
    const char* name;
    std::vector<ArgumentSpec> arguments;
    std::vector<Variant> defaults;  // for the trailing arguments
    Variant::Type result;           // NIL: no result
    bool is_const;
};

const std::vector<MethodSpec>& expected_methods() {
    using V = Variant;
    static const std::vector<MethodSpec> methods = {
        {"configure",
         {{"app_id", V::INT},
          {"environment", V::STRING},
          {"auto_launch", V::BOOL},
          {"auto_reconnect", V::BOOL},
          {"pipe_endpoint_override", V::STRING},
          {"launch_command", V::STRING}},
         {godot::String("prod"), true, true, godot::String(), godot::String()},
         V::NIL,
         false},
        {"attach", {}, {}, V::BOOL, false},
        {"disconnect_desktop", {}, {}, V::NIL, false},
        {"send_command",
         {{"command_type", V::INT},
          {"capability_field_number", V::INT},
          {"content_json", V::STRING},
          {"content_bytes", V::PACKED_BYTE_ARRAY}},
         {int64_t{0}, godot::String(), godot::PackedByteArray()},
         V::STRING,
         false},
        {"ping_desktop_session", {}, {}, V::STRING, false},
        {"get_desktop_capabilities", {}, {}, V::STRING, false},
        {"unlock_achievement",
         {{"achievement_key", V::STRING},
          {"event_id", V::STRING},
          {"occurred_at_unix_ms", V::INT},
          {"app_id", V::INT}},
         {godot::String(), int64_t{0}, int64_t{0}},
         V::STRING,
         false},
        {"report_achievement_progress",
         {{"achievement_key", V::STRING},
          {"progress_value", V::FLOAT},
          {"progress_source_key", V::STRING},
          {"event_id", V::STRING},
          {"occurred_at_unix_ms", V::INT},
          {"app_id", V::INT}},
         {godot::String(), godot::String(), int64_t{0}, int64_t{0}},
         V::STRING,
         false},
        {"clear_achievements", {{"app_id", V::INT}}, {int64_t{0}}, V::STRING, false},
        {"get_is_attached", {}, {}, V::BOOL, true},
        {"get_connection_state", {}, {}, V::INT, true},
        {"get_current_session", {}, {}, V::DICTIONARY, true},
        {"get_capabilities", {}, {}, V::DICTIONARY, true},
        {"supports_capability", {{"field_number", V::INT}}, {}, V::BOOL, true},
        {"get_sdk_version", {}, {}, V::STRING, true},
        {"poll_events", {}, {}, V::NIL, false},
    };
    return methods;
}

struct ConstantSpec {
    const char* enum_name;
    const char* name;
    int64_t value;
};

const std::vector<ConstantSpec>& expected_constants() {
    static const std::vector<ConstantSpec> constants = {
        {"QOPDesktopClient.ConnectionState", "DISCONNECTED", 0},
        {"QOPDesktopClient.ConnectionState", "CONNECTING", 1},
        {"QOPDesktopClient.ConnectionState", "ATTACHING", 2},
        {"QOPDesktopClient.ConnectionState", "ATTACHED", 3},
        {"QOPDesktopClient.ConnectionState", "RETRY_WAIT", 4},
        {"QOPDesktopClient.ConnectionState", "STOPPING", 5},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_PING_DESKTOP_SESSION", 1},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_UNLOCK_ACHIEVEMENT", 2},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_REPORT_ACHIEVEMENT_PROGRESS", 3},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_GET_DESKTOP_CAPABILITIES", 5},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_GET_DESKTOP_USER_AVATAR_INFO", 7},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_GET_DESKTOP_USER_AVATAR", 8},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_GET_DESKTOP_ANTI_ADDICTION_STATUS", 9},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_GET_DESKTOP_ANTI_ADDICTION_EVENT", 10},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_GET_DESKTOP_ANTI_ADDICTION_AGE_RANGE", 11},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_GET_DESKTOP_ANTI_ADDICTION_REMAINING_TIME",
         12},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_GET_DESKTOP_ANTI_ADDICTION_PROFILE", 13},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_CREATE_DESKTOP_ANTI_ADDICTION_REAL_NAME_URL",
         15},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_CLEAR_ACHIEVEMENTS", 16},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_LYING_BOTTLE_FORWARD", 17},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_REQUEST_HOSTED_BOOTSTRAP", 18},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_CLOUD_ARCHIVE_FORWARD", 19},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_LEADERBOARD_FORWARD", 20},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_REQUEST_DESKTOP_SHARE", 21},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_GET_DESKTOP_USER_PROFILE", 22},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_GET_DESKTOP_PLAYER_PROFILES", 23},
        {"QOPDesktopClient.DesktopCommand", "COMMAND_SUBMIT_DESKTOP_ANTI_ADDICTION_REAL_NAME", 24},
        {"QOPDesktopClient.DesktopCapability", "CAPABILITY_ACHIEVEMENTS", 1},
        {"QOPDesktopClient.DesktopCapability", "CAPABILITY_USER_CONTEXT", 3},
        {"QOPDesktopClient.DesktopCapability", "CAPABILITY_HOSTED_BOOTSTRAP", 4},
        {"QOPDesktopClient.DesktopCapability", "CAPABILITY_ANTI_ADDICTION", 6},
        {"QOPDesktopClient.DesktopCapability", "CAPABILITY_LYING_BOTTLE", 7},
        {"QOPDesktopClient.DesktopCapability", "CAPABILITY_CLOUD_ARCHIVE", 8},
        {"QOPDesktopClient.DesktopCapability", "CAPABILITY_LEADERBOARD", 9},
        {"QOPDesktopClient.DesktopCapability", "CAPABILITY_SHARE", 10},
    };
    return constants;
}

const godot_standin::ClassRecord* loaded_desktop_client(EngineHost& host) {
    if (!host.load(&qop_sdk_library_init)) {
        return nullptr;
    }
    return godot_standin::find_class("QOPDesktopClient");
}

TEST(SdkLibraryEntry, FillsTheInitializationRecordForTheSceneLevel) {
    EngineHost host;
    ASSERT_TRUE(host.load(&qop_sdk_library_init));
    EXPECT_EQ(host.initialization().minimum_initialization_level, GDEXTENSION_INITIALIZATION_SCENE);
    // Core and servers never reach the library: scene, then editor.
    EXPECT_THAT(host.initialized_levels(),
                ::testing::ElementsAre(GDEXTENSION_INITIALIZATION_SCENE,
                                       GDEXTENSION_INITIALIZATION_EDITOR));
    EXPECT_THAT(host.errors(), ::testing::IsEmpty());
}

TEST(SdkLibraryEntry, TheSceneLevelRegistersTheDesktopClientThenTheMultiplayerPeer) {
    EngineHost host;
    ASSERT_TRUE(host.load(&qop_sdk_library_init, GDEXTENSION_INITIALIZATION_SCENE));
    std::vector<std::string> names;
    for (const godot::StringName& name : godot_standin::extension_classes()) {
        names.push_back(name_of(name));
    }
    EXPECT_THAT(names, ::testing::ElementsAre("QOPDesktopClient", "QOPMultiplayerPeer"));
    const std::pair<const char*, const char*> parents[] = {
        {"QOPDesktopClient", "Node"}, {"QOPMultiplayerPeer", "MultiplayerPeerExtension"}};
    for (const auto& [name, parent] : parents) {
        const godot_standin::ClassRecord* record = godot_standin::find_class(name);
        ASSERT_NE(record, nullptr) << name;
        EXPECT_EQ(name_of(record->parent), parent);
        EXPECT_FALSE(record->is_virtual);
        EXPECT_EQ(record->level, GDEXTENSION_INITIALIZATION_SCENE);
    }
}

TEST(SdkLibraryEntry, TheEditorLevelRegistersNothingFurther) {
    EngineHost host;
    ASSERT_TRUE(host.load(&qop_sdk_library_init, GDEXTENSION_INITIALIZATION_SCENE));
    const std::size_t after_scene = godot_standin::extension_classes().size();
    qop::godot_adapter::initialize_sdk_module(godot::MODULE_INITIALIZATION_LEVEL_EDITOR);
    EXPECT_EQ(godot_standin::extension_classes().size(), after_scene);
    EXPECT_THAT(host.errors(), ::testing::IsEmpty());
}

struct VersionCase {
    EngineVersion version;
    bool accepted;
};

class SdkLibraryVersionGate : public ::testing::TestWithParam<VersionCase> {};

TEST_P(SdkLibraryVersionGate, AcceptsEngine47AndLater) {
    const VersionCase& version_case = GetParam();
    EngineHost host(version_case.version);
    EXPECT_EQ(host.load(&qop_sdk_library_init), version_case.accepted);
    if (version_case.accepted) {
        EXPECT_NE(godot_standin::find_class("QOPDesktopClient"), nullptr);
        EXPECT_THAT(host.errors(), ::testing::IsEmpty());
        return;
    }
    EXPECT_EQ(godot_standin::find_class("QOPDesktopClient"), nullptr);
    const std::string expected =
        "Cannot load a GDExtension built for Godot 4.7.0 using an older "
        "version of Godot (" +
        std::to_string(version_case.version.major) + "." +
        std::to_string(version_case.version.minor) + "." +
        std::to_string(version_case.version.patch) + ").";
    ASSERT_EQ(host.errors().size(), 1u);
    EXPECT_EQ(host.errors()[0].message, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, SdkLibraryVersionGate,
    ::testing::Values(VersionCase{{4, 6, 9}, false}, VersionCase{{3, 9, 0}, false},
                      VersionCase{{4, 0, 0}, false}, VersionCase{{4, 7, 0}, true},
                      VersionCase{{4, 7, 3}, true}, VersionCase{{4, 8, 0}, true},
                      VersionCase{{5, 0, 0}, true}),
    [](const ::testing::TestParamInfo<VersionCase>& info) {
        const EngineVersion& v = info.param.version;
        return "Godot" + std::to_string(v.major) + "_" + std::to_string(v.minor) + "_" +
               std::to_string(v.patch);
    });

TEST(SdkLibraryEntry, AMissingEngineFunctionRefusesTheLoad) {
    EngineHost host;
    host.hide_interface_function("get_godot_version2");
    EXPECT_FALSE(host.load(&qop_sdk_library_init));
    EXPECT_EQ(godot_standin::find_class("QOPDesktopClient"), nullptr);
}

TEST(DesktopClientRegistration, MethodsInOrderWithArgumentsDefaultsAndResults) {
    EngineHost host;
    const godot_standin::ClassRecord* record = loaded_desktop_client(host);
    ASSERT_NE(record, nullptr);
    const std::vector<MethodSpec>& expected = expected_methods();
    ASSERT_EQ(record->methods.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const MethodSpec& spec = expected[i];
        const godot::MethodBind& method = *record->methods[i];
        SCOPED_TRACE(spec.name);
        EXPECT_EQ(name_of(method.get_name()), spec.name);
        ASSERT_EQ(method.get_argument_count(), static_cast<int>(spec.arguments.size()));
        ASSERT_EQ(method.get_argument_names().size(), spec.arguments.size());
        for (std::size_t a = 0; a < spec.arguments.size(); ++a) {
            EXPECT_EQ(name_of(method.get_argument_names()[a]), spec.arguments[a].name);
            EXPECT_EQ(method.get_argument_type(static_cast<int>(a)), spec.arguments[a].type)
                << spec.arguments[a].name;
        }
        const std::vector<Variant>& defaults = method.get_default_arguments();
        ASSERT_EQ(defaults.size(), spec.defaults.size());
        for (std::size_t d = 0; d < defaults.size(); ++d) {
            EXPECT_EQ(defaults[d].get_type(), spec.defaults[d].get_type()) << "default " << d;
            EXPECT_TRUE(defaults[d] == spec.defaults[d]) << "default " << d;
        }
        EXPECT_EQ(method.has_return(), spec.result != Variant::NIL);
        EXPECT_EQ(method.get_return_type(), spec.result);
        EXPECT_EQ(method.is_const(), spec.is_const);
    }
}

TEST(DesktopClientRegistration, ReadOnlyPropertiesWithTheirGetters) {
    struct PropertySpec {
        const char* name;
        Variant::Type type;
        const char* getter;
    };
    const PropertySpec expected[] = {
        {"is_attached", Variant::BOOL, "get_is_attached"},
        {"connection_state", Variant::INT, "get_connection_state"},
        {"current_session", Variant::DICTIONARY, "get_current_session"},
        {"capabilities", Variant::DICTIONARY, "get_capabilities"},
        {"sdk_version", Variant::STRING, "get_sdk_version"},
    };
    EngineHost host;
    const godot_standin::ClassRecord* record = loaded_desktop_client(host);
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->properties.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const godot_standin::PropertyRecord& property = record->properties[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(name_of(property.info.name), expected[i].name);
        EXPECT_EQ(property.info.type, expected[i].type);
        EXPECT_EQ(property.info.hint, static_cast<uint32_t>(godot::PROPERTY_HINT_NONE));
        EXPECT_TRUE(property.info.hint_string.is_empty());
        EXPECT_EQ(property.info.usage, static_cast<uint32_t>(godot::PROPERTY_USAGE_DEFAULT));
        EXPECT_TRUE(property.setter.is_empty());
        EXPECT_EQ(name_of(property.getter), expected[i].getter);
    }
}

TEST(DesktopClientRegistration, SevenSignalsWithNamedTypedArguments) {
    struct SignalSpec {
        const char* name;
        std::vector<ArgumentSpec> arguments;
    };
    const std::vector<SignalSpec> expected = {
        {"connection_state_changed", {{"state", Variant::INT}, {"reason", Variant::STRING}}},
        {"desktop_attached", {{"session", Variant::DICTIONARY}}},
        {"command_completed", {{"request_id", Variant::STRING}, {"result", Variant::DICTIONARY}}},
        {"desktop_notification_received", {{"result", Variant::DICTIONARY}}},
        {"anti_addiction_changed",
         {{"status", Variant::DICTIONARY}, {"event", Variant::DICTIONARY}}},
        {"desktop_detached", {{"reason", Variant::STRING}}},
        {"sdk_error", {{"error", Variant::DICTIONARY}}},
    };
    EngineHost host;
    const godot_standin::ClassRecord* record = loaded_desktop_client(host);
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->signals.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const godot::MethodInfo& signal = record->signals[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(name_of(signal.name), expected[i].name);
        ASSERT_EQ(signal.arguments.size(), expected[i].arguments.size());
        for (std::size_t a = 0; a < signal.arguments.size(); ++a) {
            EXPECT_EQ(name_of(signal.arguments[a].name), expected[i].arguments[a].name);
            EXPECT_EQ(signal.arguments[a].type, expected[i].arguments[a].type);
        }
    }
}

TEST(DesktopClientRegistration, EnumConstantsInOrderUnderTheirEnumNames) {
    EngineHost host;
    const godot_standin::ClassRecord* record = loaded_desktop_client(host);
    ASSERT_NE(record, nullptr);
    const std::vector<ConstantSpec>& expected = expected_constants();
    ASSERT_EQ(record->constants.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const godot_standin::ConstantRecord& constant = record->constants[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(name_of(constant.name), expected[i].name);
        EXPECT_EQ(name_of(constant.enum_name), expected[i].enum_name);
        EXPECT_EQ(constant.value, expected[i].value);
        EXPECT_FALSE(constant.is_bitfield);
        EXPECT_TRUE(host.constant("QOPDesktopClient", expected[i].name) ==
                    Variant(expected[i].value));
    }
}

TEST(DesktopClientRegistration, OverridesExitTreeAndNoPerFrameVirtual) {
    EngineHost host;
    const godot_standin::ClassRecord* record = loaded_desktop_client(host);
    ASSERT_NE(record, nullptr);
    std::vector<std::string> virtuals;
    for (const godot::StringName& name : record->virtuals) {
        virtuals.push_back(name_of(name));
    }
    EXPECT_THAT(virtuals, ::testing::ElementsAre("_exit_tree"));
}

}  // namespace
}  // namespace qop::godot_adapter::testing
