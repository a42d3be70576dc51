#include <string>

#include <gtest/gtest.h>

#include <godot_cpp/core/object.hpp>
#include <godot_standin/class_records.hpp>

#include "host_fixture.hpp"

namespace {

using godot::Dictionary;
using godot::String;
using godot::Variant;
using godot_standin::ErrorKind;

TEST_F(LoadedSample, RecordsMethodsWithNamesTypesAndDefaultsInOrder) {
    const godot_standin::ClassRecord* record = godot_standin::find_class("SampleNode");
    ASSERT_NE(record, nullptr);
    EXPECT_TRUE(record->parent == "Node");
    ASSERT_EQ(record->methods.size(), 11u);
    const godot::MethodBind& configure = *record->methods[0];
    EXPECT_TRUE(configure.get_name() == "configure");
    ASSERT_EQ(configure.get_argument_count(), 4);
    const char* names[] = {"id", "name", "flag", "bytes"};
    const Variant::Type types[] = {Variant::INT, Variant::STRING, Variant::BOOL,
                                   Variant::PACKED_BYTE_ARRAY};
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(configure.get_argument_names()[i] == names[i]);
        EXPECT_EQ(configure.get_argument_type(i), types[i]);
    }
    ASSERT_EQ(configure.get_default_arguments().size(), 3u);
    EXPECT_EQ(configure.get_default_arguments()[0].get_type(), Variant::STRING);
    EXPECT_EQ(configure.get_default_arguments()[1].get_type(), Variant::BOOL);
    EXPECT_EQ(configure.get_default_arguments()[2].get_type(), Variant::PACKED_BYTE_ARRAY);
    EXPECT_FALSE(configure.has_return());
    EXPECT_FALSE(configure.is_const());
    const godot::MethodBind& describe = *record->methods[1];
    EXPECT_TRUE(describe.is_const());
    EXPECT_EQ(describe.get_return_type(), Variant::STRING);
}

TEST_F(LoadedSample, RecordsPropertiesSignalsConstantsAndVirtuals) {
    const godot_standin::ClassRecord* record = godot_standin::find_class("SampleNode");
    ASSERT_EQ(record->properties.size(), 2u);
    EXPECT_TRUE(record->properties[0].info.name == "summary");
    EXPECT_TRUE(record->properties[0].setter.is_empty());
    EXPECT_TRUE(record->properties[0].getter == "get_summary");
    EXPECT_EQ(record->properties[0].info.usage, godot::PROPERTY_USAGE_DEFAULT);
    EXPECT_EQ(record->properties[0].info.usage, 6u);
    ASSERT_EQ(record->signals.size(), 2u);
    EXPECT_TRUE(record->signals[0].name == "changed");
    ASSERT_EQ(record->signals[0].arguments.size(), 2u);
    EXPECT_TRUE(record->signals[0].arguments[1].name == "text");
    EXPECT_EQ(record->signals[0].arguments[1].type, Variant::STRING);
    ASSERT_EQ(record->constants.size(), 2u);
    EXPECT_TRUE(record->constants[1].name == "MOOD_BUSY");
    EXPECT_TRUE(record->constants[1].enum_name == "SampleNode.Mood");
    EXPECT_EQ(record->constants[1].value, 3);
    EXPECT_FALSE(record->constants[1].is_bitfield);
    EXPECT_EQ(record->virtuals, (std::vector<godot::StringName>{"_exit_tree"}));
    EXPECT_TRUE(godot_standin::find_class("PlainNode")->virtuals.empty());
    EXPECT_TRUE(host->constant("SampleNode", "MOOD_BUSY") == Variant(3));
    EXPECT_EQ(host->constant("SampleNode", "MISSING").get_type(), Variant::NIL);
    EXPECT_TRUE(host->errors().empty());
}

TEST_F(LoadedSample, CallsFillMissingArgumentsWithDefaults) {
    host->call(node, "configure", {7});
    EXPECT_EQ(node->id, 7);
    EXPECT_EQ(node->name, String("anon"));
    EXPECT_TRUE(node->flag);
    EXPECT_EQ(node->bytes.size(), 0);
    EXPECT_TRUE(host->call(node, "describe") == Variant("anon:on"));
    godot::PackedByteArray bytes;
    bytes.push_back(4);
    host->call(node, "configure", {8, "named", false, bytes});
    EXPECT_TRUE(host->call(node, "describe") == Variant("named:off"));
    EXPECT_EQ(node->bytes.size(), 1);
    EXPECT_TRUE(host->call(node, "add", {5}) == Variant(15));
    EXPECT_TRUE(host->errors().empty());
}

TEST_F(LoadedSample, ArgumentsConvertAsAScriptsDo) {
    EXPECT_TRUE(host->call(node, "add", {2.9, true}) == Variant(3));
    EXPECT_TRUE(host->call(node, "half", {5}) == Variant(2.5));
    host->call(node, "configure", {1, godot::StringName("sn")});
    EXPECT_EQ(node->name, String("sn"));
    EXPECT_TRUE(host->errors().empty());
}

struct BadCall {
    const char* label;
    const char* method;
    std::vector<Variant> arguments;
    const char* message;
};

TEST_F(LoadedSample, BadCallsAreScriptErrorsAndChangeNothing) {
    const BadCall calls[] = {
        {"too_few",
         "configure",
         {},
         "Too few arguments for \"configure()\" call. Expected at "
         "least 1 but received 0."},
        {"too_many",
         "add",
         {1, 2, 3},
         "Too many arguments for \"add()\" call. Expected at most 2 "
         "but received 3."},
        {"string_for_int",
         "configure",
         {"7"},
         "Invalid type in function 'configure' in base "
         "'SampleNode'. Cannot convert argument 1 from "
         "String to int."},
        {"nil_for_string",
         "configure",
         {1, Variant()},
         "Invalid type in function 'configure' in "
         "base 'SampleNode'. Cannot convert "
         "argument 2 from Nil to String."},
        {"dictionary_for_bytes",
         "configure",
         {1, "n", true, Dictionary()},
         "Invalid type in function 'configure' in base 'SampleNode'. Cannot convert argument 4 "
         "from Dictionary to PackedByteArray."},
        {"unknown",
         "no_such_method",
         {},
         "Invalid call. Nonexistent function 'no_such_method' in "
         "base 'SampleNode'."},
    };
    for (const BadCall& call : calls) {
        host->clear_errors();
        EXPECT_EQ(host->call(node, call.method, call.arguments).get_type(), Variant::NIL)
            << call.label;
        ASSERT_EQ(host->errors().size(), 1u) << call.label;
        EXPECT_EQ(host->errors()[0].kind, ErrorKind::Script) << call.label;
        EXPECT_EQ(host->errors()[0].message, call.message) << call.label;
        EXPECT_EQ(node->id, 0) << call.label;
    }
}

TEST_F(LoadedSample, PropertiesReadThroughGettersAndReadOnlyOnesRefuseAssignment) {
    host->call(node, "configure", {3, "x"});
    const Dictionary summary = host->get(node, "summary");
    EXPECT_TRUE(summary["id"] == Variant(3));
    EXPECT_FALSE(host->set(node, "summary", Dictionary()));
    EXPECT_EQ(host->errors_of(ErrorKind::Script).size(), 1u);
    EXPECT_TRUE(host->set(node, "mood", 3));
    EXPECT_TRUE(host->get(node, "mood") == Variant(3));
    EXPECT_EQ(host->get(node, "nope").get_type(), Variant::NIL);
    EXPECT_EQ(host->errors_of(ErrorKind::Script).size(), 2u);
}

TEST_F(LoadedSample, InstancesAreFoundByIdUntilFreed) {
    const uint64_t id = node->get_instance_id();
    EXPECT_EQ(godot::ObjectDB::get_instance(id), node);
    EXPECT_TRUE(node->is_class("Node"));
    EXPECT_TRUE(node->is_class("Object"));
    EXPECT_FALSE(node->is_class("MultiplayerPeer"));
    host->free(node);
    EXPECT_EQ(godot::ObjectDB::get_instance(id), nullptr);
}

TEST_F(LoadedSample, LeavingTheTreeCallsTheOverrideOnceAndFreeingInTheTreeLeavesFirst) {
    host->exit_tree(node);
    EXPECT_EQ(node->exit_tree_calls, 0);  // never entered
    host->enter_tree(node);
    host->exit_tree(node);
    EXPECT_EQ(node->exit_tree_calls, 1);
    auto* second = host->instantiate_as<sample::SampleNode>("SampleNode");
    host->enter_tree(second);
    const int before = sample::exit_tree_total();
    host->free(second);  // runs _exit_tree before the memory goes
    EXPECT_EQ(sample::exit_tree_total(), before + 1);
    EXPECT_TRUE(host->errors().empty());
}

TEST(Instantiation, UnknownAndEngineClassesCannotBeCreatedByName) {
    godot_standin::EngineHost host;
    ASSERT_TRUE(host.load(&sample_library_init));
    EXPECT_EQ(host.instantiate("NoSuchClass"), nullptr);
    EXPECT_EQ(host.instantiate("Node"), nullptr);
    EXPECT_EQ(host.errors_of(ErrorKind::Script).size(), 2u);
}

TEST(Registration, RefusesDuplicatesAndInconsistentBindings) {
    godot_standin::EngineHost host;
    ASSERT_TRUE(host.load(&sample_library_init));
    // A second registration of a class and its members is refused.
    godot::ClassDB::register_class<sample::SampleNode>();
    godot::ClassDB::bind_method(godot::D_METHOD("describe"), &sample::SampleNode::describe);
    godot::ClassDB::bind_method(godot::D_METHOD("add", "a", "b", "c"), &sample::SampleNode::add);
    godot::ClassDB::bind_method(godot::D_METHOD("add2", "a", "b"), &sample::SampleNode::add, 1, 2,
                                3);
    godot::ClassDB::add_property("SampleNode", godot::PropertyInfo(Variant::INT, "bad"), "",
                                 "configure");
    godot::ClassDB::add_property("SampleNode", godot::PropertyInfo(Variant::INT, "bad2"),
                                 "describe", "get_mood");
    godot::ClassDB::add_signal("SampleNode", godot::MethodInfo("changed"));
    godot::ClassDB::bind_integer_constant("SampleNode", "", "MOOD_CALM", 1);
    godot::ClassDB::add_signal("Unregistered", godot::MethodInfo("x"));
    EXPECT_EQ(host.errors_of(ErrorKind::Engine).size(), 9u);
    const godot_standin::ClassRecord* record = godot_standin::find_class("SampleNode");
    EXPECT_EQ(record->methods.size(), 11u);
    EXPECT_EQ(record->properties.size(), 2u);
    EXPECT_EQ(record->signals.size(), 2u);
    EXPECT_EQ(record->constants.size(), 2u);
}

}  // namespace
