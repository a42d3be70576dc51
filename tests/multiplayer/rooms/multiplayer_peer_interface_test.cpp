#include <new>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <godot_cpp/variant/array.hpp>
#include <godot_standin/class_records.hpp>

#include "godot_adapter/godot_string_conversion.hpp"
#include "support/multiplayer_peer_host.hpp"

namespace qop::godot_adapter::testing {
namespace {

using godot::MultiplayerPeer;
using godot::Variant;

std::string name_of(const godot::StringName& name) {
    return to_std_string(name.text());
}

class MultiplayerPeerInterface : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(host.loaded()); }

    QOPMultiplayerPeer* new_peer() { return host.new_peer(test_peer_seams(clock)); }

    std::shared_ptr<qop::test::ManualMonotonicClock> clock =
        std::make_shared<qop::test::ManualMonotonicClock>();
    MultiplayerPeerHost host;
};

TEST_F(MultiplayerPeerInterface, BindsFiveMethodsAndAReadOnlyLastError) {
    struct MethodSpec {
        const char* name;
        std::vector<std::pair<const char*, Variant::Type>> arguments;
        Variant::Type result;
        bool is_const;
    };
    const std::vector<MethodSpec> expected = {
        {"connect_from_bootstrap", {{"bootstrap", Variant::DICTIONARY}}, Variant::INT, false},
        {"connect_from_data_plane", {{"context", Variant::DICTIONARY}}, Variant::INT, false},
        {"begin_connection", {}, Variant::NIL, false},
        {"fail_connection", {{"message", Variant::STRING}}, Variant::NIL, false},
        {"get_last_error", {}, Variant::STRING, true},
    };
    const godot_standin::ClassRecord* record = godot_standin::find_class("QOPMultiplayerPeer");
    ASSERT_NE(record, nullptr);
    ASSERT_EQ(record->methods.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const godot::MethodBind& method = *record->methods[i];
        SCOPED_TRACE(expected[i].name);
        EXPECT_EQ(name_of(method.get_name()), expected[i].name);
        ASSERT_EQ(method.get_argument_names().size(), expected[i].arguments.size());
        for (std::size_t a = 0; a < expected[i].arguments.size(); ++a) {
            EXPECT_EQ(name_of(method.get_argument_names()[a]), expected[i].arguments[a].first);
            EXPECT_EQ(method.get_argument_type(static_cast<int>(a)),
                      expected[i].arguments[a].second);
        }
        EXPECT_TRUE(method.get_default_arguments().empty());
        EXPECT_EQ(method.get_return_type(), expected[i].result);
        EXPECT_EQ(method.is_const(), expected[i].is_const);
    }
    ASSERT_EQ(record->properties.size(), 1u);
    EXPECT_EQ(name_of(record->properties[0].info.name), "last_error");
    EXPECT_EQ(record->properties[0].info.type, Variant::STRING);
    EXPECT_EQ(record->properties[0].info.usage,
              static_cast<uint32_t>(godot::PROPERTY_USAGE_DEFAULT));
    EXPECT_TRUE(record->properties[0].setter.is_empty());
    EXPECT_EQ(name_of(record->properties[0].getter), "get_last_error");
    EXPECT_TRUE(record->signals.empty());

    std::vector<std::string> virtuals;
    for (const godot::StringName& name : record->virtuals) {
        virtuals.push_back(name_of(name));
    }
    // What the engine requires is checked as each room test assigns its peer.
    // The packet-script pair keeps the engine's defaults.
    EXPECT_THAT(virtuals, ::testing::Not(::testing::Contains("_get_packet_script")));
    EXPECT_THAT(virtuals, ::testing::Not(::testing::Contains("_put_packet_script")));
    EXPECT_THAT(virtuals, ::testing::IsSupersetOf(
                              {"_get_packet", "_put_packet", "_set_refuse_new_connections",
                               "_is_refusing_new_connections", "_is_server_relay_supported"}));
}

TEST_F(MultiplayerPeerInterface, ANewPeerIsDisconnectedAndEmpty) {
    QOPMultiplayerPeer* peer = new_peer();
    EXPECT_EQ(peer->_get_connection_status(), MultiplayerPeer::CONNECTION_DISCONNECTED);
    EXPECT_EQ(peer->_get_unique_id(), 0);
    EXPECT_FALSE(peer->_is_server());
    EXPECT_EQ(peer->_get_transfer_mode(), MultiplayerPeer::TRANSFER_MODE_RELIABLE);
    EXPECT_EQ(peer->_get_transfer_channel(), 0);
    EXPECT_EQ(peer->_get_available_packet_count(), 0);
    EXPECT_EQ(peer->_get_max_packet_size(), 16777216);
    EXPECT_FALSE(peer->_is_server_relay_supported());
    EXPECT_FALSE(peer->_is_refusing_new_connections());
    EXPECT_EQ(host.last_error(peer), "");
    const uint8_t* buffer = nullptr;
    int32_t size = 0;
    EXPECT_EQ(peer->_get_packet(&buffer, &size), godot::ERR_UNAVAILABLE);
    EXPECT_EQ(peer->_get_packet_peer(), 0);
    EXPECT_EQ(peer->_get_packet_mode(), MultiplayerPeer::TRANSFER_MODE_RELIABLE);

    // Nothing to do and nothing to say before a connection.
    peer->_poll();
    EXPECT_TRUE(host.signals_of(peer).empty());
    const uint8_t byte = 7;
    EXPECT_EQ(peer->_put_packet(&byte, 1), godot::ERR_UNCONFIGURED);

    peer->_set_transfer_channel(-5);
    EXPECT_EQ(peer->_get_transfer_channel(), 0);
    peer->_set_transfer_channel(70000);
    EXPECT_EQ(peer->_get_transfer_channel(), 65535);
    EXPECT_FALSE(host.engine().set(peer, "last_error", "assigned"));
    host.engine().clear_errors();
}

TEST_F(MultiplayerPeerInterface, BeginConnectionOnlyMarksADisconnectedPeerAsConnecting) {
    QOPMultiplayerPeer* peer = new_peer();
    host.call(peer, "begin_connection");
    EXPECT_EQ(peer->_get_connection_status(), MultiplayerPeer::CONNECTION_CONNECTING);
    EXPECT_EQ(host.connect_bootstrap(peer, bootstrap_context("t", "e", "s")),
              godot::ERR_ALREADY_IN_USE);

    host.call(peer, "fail_connection", {godot::String()});
    EXPECT_EQ(peer->_get_connection_status(), MultiplayerPeer::CONNECTION_DISCONNECTED);
    EXPECT_EQ(host.last_error(peer), "");
    EXPECT_TRUE(host.signals_of(peer).empty());
}

struct RefusedInput {
    const char* name;
    const char* road;  // "bootstrap" or "data_plane"
    std::function<void(godot::Dictionary&)> change;
    const char* error;
};

godot::Dictionary valid_context() {
    godot::Dictionary context;
    context["sdk_descriptor_json"] =
        R"({"version":1,"token":"t","expiresAtUnixSeconds":4102444800,"transports":{"tcp":)"
        R"({"host":"127.0.0.1","port":1,"frameMaxBytes":65536},"rawUdp":{"host":"127.0.0.1",)"
        R"("port":1,"payloadMaxBytes":1200}}})";
    context["room_id"] = "room";
    context["player_id"] = "me";
    context["host_id"] = "host";
    godot::Array players;
    for (const char* id : {"host", "me"}) {
        godot::Dictionary entry;
        entry["id"] = id;
        players.push_back(entry);
    }
    context["players"] = players;
    return context;
}

// A copy of `dictionary` without `key`.
godot::Dictionary without(const godot::Dictionary& dictionary, const char* key) {
    godot::Dictionary copy;
    const godot::Array keys = dictionary.keys();
    for (int64_t i = 0; i < keys.size(); ++i) {
        if (to_std_string(static_cast<godot::String>(keys[i])) != key) {
            copy[keys[i]] = dictionary[keys[i]];
        }
    }
    return copy;
}

godot::Array roster(std::vector<Variant> entries) {
    godot::Array array;
    for (const Variant& entry : entries) {
        array.push_back(entry);
    }
    return array;
}

godot::Dictionary player(const char* id) {
    godot::Dictionary entry;
    entry["id"] = id;
    entry["name"] = "";
    return entry;
}

TEST_F(MultiplayerPeerInterface, RefusesIncompleteInputWithItsReason) {
    const char* kIdentity =
        "Dovral data-plane connection context is missing room or player identity";
    const char* kRoster = "Dovral data-plane connection context has an invalid player roster";
    const char* kNotHere =
        "Dovral data-plane player roster does not contain the local player and host";
    const std::vector<RefusedInput> cases = {
        {"no_secret", "bootstrap", [](godot::Dictionary& d) { d = without(d, "bootstrap_secret"); },
         "Hosted bootstrap context is incomplete"},
        {"empty_ticket", "bootstrap", [](godot::Dictionary& d) { d["launch_ticket"] = ""; },
         "Hosted bootstrap context is incomplete"},
        {"descriptor_not_json", "data_plane",
         [](godot::Dictionary& d) { d["sdk_descriptor_json"] = "{"; },
         "INVALID_DATA_PLANE_DESCRIPTOR"},
        {"no_room", "data_plane", [](godot::Dictionary& d) { d = without(d, "room_id"); },
         kIdentity},
        {"players_as_dictionary", "data_plane",
         [](godot::Dictionary& d) { d["players"] = godot::Dictionary(); }, kRoster},
        {"players_empty", "data_plane", [](godot::Dictionary& d) { d["players"] = godot::Array(); },
         kNotHere},
        {"players_missing", "data_plane", [](godot::Dictionary& d) { d = without(d, "players"); },
         kNotHere},
        {"entry_not_dictionary", "data_plane",
         [](godot::Dictionary& d) {
             d["players"] = roster({player("host"), Variant(5)});
         },
         "Dovral data-plane connection context has an invalid player roster entry"},
        {"duplicate_id", "data_plane",
         [](godot::Dictionary& d) {
             d["players"] = roster({player("host"), player("host")});
         },
         "Dovral data-plane connection context has an invalid player identity"},
        {"host_missing", "data_plane",
         [](godot::Dictionary& d) { d["players"] = roster({player("me")}); }, kNotHere},
    };
    for (const RefusedInput& input : cases) {
        SCOPED_TRACE(input.name);
        QOPMultiplayerPeer* peer = new_peer();
        const bool bootstrap = std::string(input.road) == "bootstrap";
        godot::Dictionary argument =
            bootstrap ? bootstrap_context("ticket", "boot", "secret") : valid_context();
        input.change(argument);
        EXPECT_EQ(bootstrap ? host.connect_bootstrap(peer, argument)
                            : host.connect_data_plane(peer, argument),
                  godot::ERR_INVALID_PARAMETER);
        EXPECT_EQ(host.last_error(peer), input.error);
        EXPECT_EQ(peer->_get_connection_status(), MultiplayerPeer::CONNECTION_DISCONNECTED);
        host.free_peer(peer);
    }
    EXPECT_THAT(host.engine().errors(), ::testing::IsEmpty());
}

TEST_F(MultiplayerPeerInterface, AWorkerThatCannotStartLeavesThePeerDisconnected) {
    struct Row {
        const char* name;
        qop::network::ThreadStarter starter;
        const char* reason;
    };
    const Row rows[] = {
        {"the system refuses",
         [](std::function<void()>, std::thread&, std::string& error) {
             error = "Resource temporarily unavailable";
             return false;
         },
         "Resource temporarily unavailable"},
        // What std::thread or the worker's std::function throws when memory runs out.
        {"an allocation fails",
         [](std::function<void()>, std::thread&, std::string&) -> bool { throw std::bad_alloc(); },
         "std::bad_alloc"},
    };
    for (const Row& row : rows) {
        for (const bool bootstrap : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (bootstrap ? ", bootstrap" : ", data plane"));
            MultiplayerPeerSeams seams = test_peer_seams(clock);
            seams.connect.start_thread = row.starter;
            QOPMultiplayerPeer* peer = host.new_peer(std::move(seams));
            EXPECT_EQ(bootstrap ? host.connect_bootstrap(peer, bootstrap_context("t", "e", "s"))
                                : host.connect_data_plane(peer, valid_context()),
                      godot::ERR_CANT_CREATE);
            EXPECT_EQ(peer->_get_connection_status(), MultiplayerPeer::CONNECTION_DISCONNECTED);
            EXPECT_EQ(host.last_error(peer),
                      std::string("Could not start the multiplayer connect worker: ") + row.reason);
            // Nothing is left running or pending: the next attempt is refused only by its input.
            EXPECT_EQ(host.connect_data_plane(peer, godot::Dictionary()),
                      godot::ERR_INVALID_PARAMETER);
            host.free_peer(peer);
        }
    }
}

}  // namespace
}  // namespace qop::godot_adapter::testing
