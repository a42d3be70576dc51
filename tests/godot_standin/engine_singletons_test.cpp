#include <gtest/gtest.h>

#include <godot_cpp/classes/engine.hpp>
#include <godot_cpp/classes/os.hpp>
#include <godot_standin/engine_host.hpp>

namespace {

using godot::Dictionary;
using godot::String;
using godot::Variant;
using godot_standin::EngineHost;

TEST(EngineSingletons, OsReportsWhatTheHostSets) {
    EngineHost host;
    host.set_cmdline_args({"--qop-app-id", "42", "h\xC3\xA9"});
    host.set_environment_variable("QOP_APP_ID", "7");
    host.set_executable_path("C:/Games/g\xC3\xA9.exe");
    godot::OS* os = godot::OS::get_singleton();
    ASSERT_NE(os, nullptr);
    const godot::PackedStringArray args = os->get_cmdline_args();
    ASSERT_EQ(args.size(), 3);
    EXPECT_EQ(args[0], String("--qop-app-id"));
    EXPECT_EQ(args[2], String::utf8("h\xC3\xA9"));
    EXPECT_EQ(os->get_environment("QOP_APP_ID"), String("7"));
    EXPECT_EQ(os->get_environment("ORVIK_APP_ID"), String(""));
    EXPECT_EQ(os->get_executable_path(), String::utf8("C:/Games/g\xC3\xA9.exe"));
    host.unset_environment_variable("QOP_APP_ID");
    EXPECT_TRUE(os->get_environment("QOP_APP_ID").is_empty());
}

TEST(EngineSingletons, EngineReportsTheHostVersionOrAReplacement) {
    EngineHost host({4, 8, 2});
    const Dictionary info = godot::Engine::get_singleton()->get_version_info();
    EXPECT_TRUE(info["major"] == Variant(4));
    EXPECT_TRUE(info["minor"] == Variant(8));
    EXPECT_TRUE(info["patch"] == Variant(2));
    EXPECT_EQ(info["major"].get_type(), Variant::INT);
    Dictionary partial;
    partial["major"] = 4;
    partial["minor"] = 8;
    host.set_version_info(partial);
    const Dictionary replaced = godot::Engine::get_singleton()->get_version_info();
    EXPECT_EQ(replaced.size(), 2);
    EXPECT_FALSE(replaced.has("patch"));
}

TEST(EngineSingletons, EitherSingletonCanBeAbsent) {
    EngineHost host;
    host.set_os_available(false);
    EXPECT_EQ(godot::OS::get_singleton(), nullptr);
    EXPECT_NE(godot::Engine::get_singleton(), nullptr);
    host.set_os_available(true);
    host.set_engine_available(false);
    EXPECT_NE(godot::OS::get_singleton(), nullptr);
    EXPECT_EQ(godot::Engine::get_singleton(), nullptr);
}

TEST(EngineSingletons, WithoutAHostTheProcessReportsNothingOfTheMachine) {
    ASSERT_EQ(EngineHost::current(), nullptr);
    EXPECT_EQ(godot::OS::get_singleton()->get_cmdline_args().size(), 0);
    EXPECT_TRUE(godot::OS::get_singleton()->get_environment("PATH").is_empty());
    EXPECT_TRUE(godot::Engine::get_singleton()->get_version_info()["minor"] == Variant(7));
}

TEST(EngineSingletons, AHostTakesOverAndHandsBackOnDestruction) {
    EngineHost outer;
    outer.set_executable_path("outer");
    {
        EngineHost inner;
        inner.set_executable_path("inner");
        EXPECT_EQ(EngineHost::current(), &inner);
        EXPECT_EQ(godot::OS::get_singleton()->get_executable_path(), String("inner"));
    }
    EXPECT_EQ(EngineHost::current(), &outer);
    EXPECT_EQ(godot::OS::get_singleton()->get_executable_path(), String("outer"));
}

}  // namespace
