#include <string>

#include <gtest/gtest.h>

#include <godot_standin/class_records.hpp>
#include <godot_standin/engine_host.hpp>

#include "sample_library.hpp"

namespace {

using godot_standin::EngineHost;
using godot_standin::EngineVersion;
using godot_standin::ErrorKind;

// Declares no _bind_methods of its own.
class Unbound : public sample::PlainNode {
    GDCLASS(Unbound, sample::PlainNode)
};

struct VersionCase {
    const char* label;
    EngineVersion version;
    bool accepted;
};

class VersionGate : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionGate, AcceptsThisEngineOrRefusesItWithTheBindingsMessage) {
    const VersionCase& c = GetParam();
    EngineHost host(c.version);
    EXPECT_EQ(host.load(&sample_library_init), c.accepted);
    EXPECT_EQ(godot_standin::find_class("SampleNode") != nullptr, c.accepted);
    if (c.accepted) {
        EXPECT_TRUE(host.errors().empty());
        return;
    }
    ASSERT_EQ(host.errors().size(), 1u);
    EXPECT_EQ(host.errors()[0].kind, ErrorKind::Engine);
    EXPECT_EQ(host.errors()[0].message,
              "Cannot load a GDExtension built for Godot 4.7.0 using an older version of Godot (" +
                  std::to_string(c.version.major) + "." + std::to_string(c.version.minor) + "." +
                  std::to_string(c.version.patch) + ").");
}

INSTANTIATE_TEST_SUITE_P(
    Engines, VersionGate,
    ::testing::Values(VersionCase{"v4_6", {4, 6, 3}, false}, VersionCase{"v4_0", {4, 0, 0}, false},
                      VersionCase{"v3_9", {3, 9, 0}, false}, VersionCase{"v4_7", {4, 7, 0}, true},
                      VersionCase{"v4_7_2", {4, 7, 2}, true}, VersionCase{"v4_8", {4, 8, 0}, true},
                      VersionCase{"v5_0", {5, 0, 0}, true}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(VersionGate, AMissingInterfaceFunctionRefusesTheEngine) {
    for (const char* function : {"get_godot_version2", "print_error"}) {
        EngineHost host;
        host.hide_interface_function(function);
        EXPECT_FALSE(host.load(&sample_library_init)) << function;
        EXPECT_FALSE(host.is_loaded());
        EXPECT_EQ(godot_standin::find_class("SampleNode"), nullptr);
    }
}

TEST(VersionGate, ALibraryWithoutInitializerIsRefused) {
    EngineHost host;
    EXPECT_FALSE(host.load(&sample_library_init_without_initializer));
    ASSERT_EQ(host.errors().size(), 1u);
    EXPECT_EQ(host.errors()[0].message, "Initialization callback must be defined.");
}

TEST(InitializationLevels, RunFromTheMinimumUpAndDownAgainOnUnload) {
    sample::initializer_calls().clear();
    sample::terminator_calls().clear();
    {
        EngineHost host;
        ASSERT_TRUE(host.load(&sample_library_init));
        EXPECT_EQ(host.initialization().minimum_initialization_level,
                  GDEXTENSION_INITIALIZATION_SCENE);
        EXPECT_EQ(sample::initializer_calls(), (std::vector<godot::ModuleInitializationLevel>{
                                                   godot::MODULE_INITIALIZATION_LEVEL_SCENE,
                                                   godot::MODULE_INITIALIZATION_LEVEL_EDITOR}));
        const std::vector<godot::StringName> classes = godot_standin::extension_classes();
        ASSERT_EQ(classes.size(), 3u);
        EXPECT_TRUE(classes[0] == "SampleNode");
        EXPECT_TRUE(classes[1] == "PlainNode");
        EXPECT_TRUE(classes[2] == "SamplePeer");
        EXPECT_TRUE(sample::terminator_calls().empty());
    }
    EXPECT_EQ(sample::terminator_calls(), (std::vector<godot::ModuleInitializationLevel>{
                                              godot::MODULE_INITIALIZATION_LEVEL_EDITOR,
                                              godot::MODULE_INITIALIZATION_LEVEL_SCENE}));
    EXPECT_TRUE(godot_standin::extension_classes().empty());
}

TEST(InitializationLevels, ARunWithoutTheEditorLevelStopsAtScene) {
    sample::initializer_calls().clear();
    EngineHost host;
    ASSERT_TRUE(host.load(&sample_library_init, GDEXTENSION_INITIALIZATION_SCENE));
    EXPECT_EQ(sample::initializer_calls().size(), 1u);
    EXPECT_EQ(host.initialized_levels(),
              (std::vector<GDExtensionInitializationLevel>{GDEXTENSION_INITIALIZATION_SCENE}));
}

TEST(InitializationLevels, AClassWithoutItsOwnBindMethodsIsRefused) {
    EngineHost host;
    ASSERT_TRUE(host.load(&sample_library_init));
    godot::ClassDB::register_class<Unbound>();
    EXPECT_EQ(godot_standin::find_class("Unbound"), nullptr);
    ASSERT_EQ(host.errors().size(), 1u);
    EXPECT_EQ(host.errors()[0].message,
              "Class 'Unbound' must declare 'static void _bind_methods()'.");
}

TEST(InitializationLevels, LoadingTwiceIntoOneHostIsRefused) {
    EngineHost host;
    ASSERT_TRUE(host.load(&sample_library_init));
    EXPECT_FALSE(host.load(&sample_library_init));
    EXPECT_EQ(host.errors().size(), 1u);
}

}  // namespace
