#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host_fixture.hpp"

namespace {

using godot::String;
using godot::Variant;
using godot_standin::ErrorKind;

TEST_F(LoadedSample, EmissionsReachHandlersInConnectionOrderWithTheirArguments) {
    std::vector<std::string> order;
    host->connect(node, "changed", [&](const std::vector<Variant>&) { order.push_back("first"); });
    host->watch(node, "changed");
    host->connect(node, "changed", [&](const std::vector<Variant>&) { order.push_back("third"); });
    host->call(node, "fire", {5, "five"});
    EXPECT_EQ(order, (std::vector<std::string>{"first", "third"}));
    ASSERT_EQ(host->emissions_of("changed").size(), 1u);
    const godot_standin::SignalEmission emission = host->emissions_of("changed")[0];
    EXPECT_EQ(emission.instance_id, node->get_instance_id());
    ASSERT_EQ(emission.arguments.size(), 2u);
    EXPECT_TRUE(emission.arguments[0] == Variant(5));
    EXPECT_TRUE(emission.arguments[1] == Variant("five"));
    EXPECT_TRUE(host->errors().empty());
}

TEST_F(LoadedSample, ANestedEmissionCompletesInsideTheOuterOne) {
    host->watch(node, "changed");
    host->watch(node, "nested_done");
    int depth = 0;
    host->connect(node, "changed", [&](const std::vector<Variant>& p_arguments) {
        if (static_cast<int64_t>(p_arguments[0]) > 0 && depth++ == 0) {
            node->fire(0, "inner");
        }
    });
    host->call(node, "fire", {1, "outer"});
    // changed(1) -> [handler: changed(0), nested_done(0)] -> nested_done(1)
    std::vector<std::string> sequence;
    for (const auto& emission : host->emissions()) {
        sequence.push_back(emission.signal + ":" +
                           std::to_string(static_cast<int64_t>(emission.arguments[0])));
    }
    EXPECT_EQ(sequence, (std::vector<std::string>{"changed:1", "changed:0", "nested_done:0",
                                                  "nested_done:1"}));
}

TEST_F(LoadedSample, AHandlerConnectedDuringEmissionWaitsForTheNextOne) {
    int late_calls = 0;
    bool connected = false;
    host->connect(node, "changed", [&](const std::vector<Variant>&) {
        if (!connected) {
            connected = true;
            host->connect(node, "changed", [&](const std::vector<Variant>&) { ++late_calls; });
        }
    });
    node->fire(1, "a");
    EXPECT_EQ(late_calls, 0);
    node->fire(2, "b");
    EXPECT_EQ(late_calls, 1);
}

TEST_F(LoadedSample, BadEmissionsAreRecordedAsSignalErrors) {
    struct Case {
        const char* method;
        const char* message;
    };
    const Case cases[] = {
        {"fire_undeclared",
         "Can't emit non-existing signal \"never_declared\" on an object of type 'SampleNode'."},
        {"fire_wrong_count", "Signal \"changed\" declares 2 arguments but was emitted with 1."},
        {"fire_wrong_type",
         "Signal \"changed\" argument 1 (value) is declared int but was emitted as String."},
    };
    for (const Case& c : cases) {
        host->clear_errors();
        host->call(node, c.method);
        ASSERT_EQ(host->errors().size(), 1u) << c.method;
        EXPECT_EQ(host->errors()[0].kind, ErrorKind::Signal);
        EXPECT_EQ(host->errors()[0].message, c.message);
    }
}

TEST_F(LoadedSample, ConnectingToAnUndeclaredSignalIsRefused) {
    host->watch(node, "never_declared");
    EXPECT_EQ(host->errors_of(ErrorKind::Signal).size(), 1u);
}

TEST_F(LoadedSample, ASignalCanCallABoundMethodOfAnotherObject) {
    auto* target = host->instantiate_as<sample::SampleNode>("SampleNode");
    // changed(value, text) -> target.add(value, text) is a bad call: text is no int.
    node->connect("nested_done", godot::Callable(target, "set_mood"));
    node->fire(3, "x");
    EXPECT_TRUE(host->call(target, "get_mood") == Variant(3));
    node->connect("changed", godot::Callable(target, "add"));
    node->fire(4, "y");
    ASSERT_EQ(host->errors_of(ErrorKind::Script).size(), 1u);
    host->free(target);
    node->fire(5, "z");  // a freed target is reported, not called
    EXPECT_EQ(host->errors_of(ErrorKind::Script).size(), 3u);
}

TEST_F(LoadedSample, AMethodCallableConnectsOnceAndDisconnectsByValue) {
    auto* target = host->instantiate_as<sample::SampleNode>("SampleNode");
    EXPECT_EQ(node->connect("nested_done", godot::Callable(target, "set_mood")), godot::OK);
    EXPECT_EQ(node->connect("nested_done", godot::Callable(target, "set_mood")),
              godot::ERR_INVALID_PARAMETER);
    EXPECT_TRUE(node->is_connected("nested_done", godot::Callable(target, "set_mood")));
    node->disconnect("nested_done", godot::Callable(target, "set_mood"));
    node->fire(6, "w");
    EXPECT_TRUE(host->call(target, "get_mood") == Variant(0));
    EXPECT_EQ(host->errors_of(ErrorKind::Signal).size(), 1u);
}

TEST_F(LoadedSample, EnginePeerSignalsAreDeclaredForExtensionPeers) {
    godot::Object* peer = host->instantiate("SamplePeer");
    ASSERT_NE(peer, nullptr);
    host->watch(peer, "peer_connected");
    EXPECT_TRUE(host->call(peer, "connect_to", {4}) == Variant(0));
    ASSERT_EQ(host->emissions_of("peer_connected").size(), 1u);
    EXPECT_TRUE(host->emissions_of("peer_connected")[0].arguments[0] == Variant(4));
    EXPECT_TRUE(host->errors().empty());
}

}  // namespace
