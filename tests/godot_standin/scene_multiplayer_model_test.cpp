#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <gdextension_interface.h>
#include <godot_cpp/classes/multiplayer_peer_extension.hpp>
#include <godot_cpp/core/class_db.hpp>
#include <godot_cpp/godot.hpp>
#include <godot_standin/engine_host.hpp>
#include <godot_standin/scene_multiplayer_model.hpp>

namespace {

using godot::MultiplayerPeer;
using godot_standin::SceneMultiplayerModel;
using ::testing::ElementsAre;
using Bytes = std::vector<uint8_t>;

class EngineStylePeer;

struct Put {
    int32_t from;
    int32_t to;
    Bytes bytes;
};

// A peer in the engine's own server/client style: the server reports every
// client, a client reports only the server and reaches nobody else, and the
// server relays for them. Every put is recorded in `puts`.
class EngineStylePeer : public godot::MultiplayerPeerExtension {
    GDCLASS(EngineStylePeer, godot::MultiplayerPeerExtension)

public:
    godot::Error _get_packet(const uint8_t** r_buffer, int32_t* r_size) override {
        current = inbox.front();
        inbox.pop_front();
        *r_buffer = current.bytes.data();
        *r_size = static_cast<int32_t>(current.bytes.size());
        return godot::OK;
    }
    godot::Error _put_packet(const uint8_t* p_buffer, int32_t p_size) override {
        if (id != 1 && target != 1) {
            return godot::ERR_INVALID_PARAMETER;
        }
        puts->push_back({id, target, Bytes(p_buffer, p_buffer + p_size)});
        peers->at(target)->inbox.push_back(puts->back());
        return godot::OK;
    }
    int32_t _get_available_packet_count() const override { return int32_t(inbox.size()); }
    int32_t _get_max_packet_size() const override { return 1 << 24; }
    int32_t _get_packet_channel() const override { return 0; }
    TransferMode _get_packet_mode() const override { return TRANSFER_MODE_RELIABLE; }
    void _set_transfer_channel(int32_t) override {}
    int32_t _get_transfer_channel() const override { return 0; }
    void _set_transfer_mode(TransferMode) override {}
    TransferMode _get_transfer_mode() const override { return TRANSFER_MODE_RELIABLE; }
    void _set_target_peer(int32_t p_peer) override { target = p_peer; }
    int32_t _get_packet_peer() const override { return inbox.empty() ? 0 : inbox.front().from; }
    bool _is_server() const override { return id == 1; }
    void _poll() override {
        for (const auto& [signal, peer] : std::exchange(news, {})) {
            emit_signal(signal, peer);
        }
    }
    void _close() override {}
    void _disconnect_peer(int32_t, bool) override {}
    int32_t _get_unique_id() const override { return id; }
    bool _is_server_relay_supported() const override { return true; }
    ConnectionStatus _get_connection_status() const override { return status; }

    int32_t id = 0;
    std::map<int32_t, EngineStylePeer*>* peers = nullptr;
    std::vector<Put>* puts = nullptr;
    ConnectionStatus status = CONNECTION_CONNECTING;
    int32_t target = 0;
    std::deque<Put> inbox;  // `to` unused
    Put current;
    std::vector<std::pair<const char*, int32_t>> news;  // emitted at the next _poll

protected:
    static void _bind_methods() {}
};

GDExtensionBool engine_style_library_init(GDExtensionInterfaceGetProcAddress p_get_proc_address,
                                          GDExtensionClassLibraryPtr p_library,
                                          GDExtensionInitialization* r_initialization) {
    godot::GDExtensionBinding::InitObject init(p_get_proc_address, p_library, r_initialization);
    init.register_initializer([](godot::ModuleInitializationLevel p_level) {
        if (p_level == godot::MODULE_INITIALIZATION_LEVEL_SCENE) {
            godot::ClassDB::register_class<EngineStylePeer>();
        }
    });
    init.register_terminator([](godot::ModuleInitializationLevel) {});
    init.set_minimum_library_initialization_level(godot::MODULE_INITIALIZATION_LEVEL_SCENE);
    return init.init();
}

class EngineStyleRoom : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(host.load(&engine_style_library_init)); }

    // The server and clients 2 and 3, joined in that order, each behind a model.
    void seat_three(bool p_server_relay) {
        for (const int32_t id : {1, 2, 3}) {
            auto* peer = host.instantiate_as<EngineStylePeer>("EngineStylePeer");
            peer->id = id;
            peer->peers = &peers;
            peer->puts = &puts;
            peers[id] = peer;
            models[id].set_server_relay(p_server_relay);
            ASSERT_TRUE(models[id].assign(peer));
        }
        for (const int32_t client : {2, 3}) {
            peer(client)->status = MultiplayerPeer::CONNECTION_CONNECTED;
            peer(client)->news.push_back({"peer_connected", 1});
            peer(1)->news.push_back({"peer_connected", client});
        }
        peer(1)->status = MultiplayerPeer::CONNECTION_CONNECTED;
        poll_all();
    }

    void poll_all() {
        for (int round = 0; round < 3; ++round) {
            for (auto& [id, model] : models) {
                model.poll();
            }
        }
    }

    EngineStylePeer* peer(int32_t id) { return peers.at(id); }
    std::vector<Bytes> puts_between(int32_t from, int32_t to) const {
        std::vector<Bytes> found;
        for (const Put& put : puts) {
            if (put.from == from && put.to == to) {
                found.push_back(put.bytes);
            }
        }
        return found;
    }

    godot_standin::EngineHost host;
    std::map<int32_t, EngineStylePeer*> peers;
    std::vector<Put> puts;
    std::map<int32_t, SceneMultiplayerModel> models;
};

TEST_F(EngineStyleRoom, TheHostTellsEachClientOfTheOthersAndRelaysBetweenThem) {
    seat_three(true);
    // Clients hear of each other only through the host's ADD_PEER.
    EXPECT_THAT(models[1].ids_of("peer_connected"), ElementsAre(2, 3));
    EXPECT_THAT(models[2].ids_of("peer_connected"), ElementsAre(1, 3));
    EXPECT_THAT(models[3].ids_of("peer_connected"), ElementsAre(1, 2));
    EXPECT_EQ(models[1].count_of("connected_to_server"), 0u);
    EXPECT_EQ(models[2].signals().front().name, "connected_to_server");
    EXPECT_THAT(puts_between(1, 2), ElementsAre(Bytes{7, 1, 3, 0, 0, 0}));
    EXPECT_THAT(puts_between(1, 3), ElementsAre(Bytes{7, 1, 2, 0, 0, 0}));

    struct RawCase {
        int32_t from;
        int32_t to;
        std::vector<int32_t> receivers;
    };
    const RawCase cases[] = {{2, 3, {3}}, {3, 0, {1, 2}}, {1, 2, {2}}, {2, 1, {1}}};
    for (const RawCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + " to " + std::to_string(c.to));
        for (auto& [id, model] : models) {
            model.clear_signals();
        }
        const Bytes payload = {uint8_t(0xA0 + c.from), uint8_t(c.to), 0xFF};
        ASSERT_EQ(models[c.from].send_bytes(payload, c.to), godot::OK);
        poll_all();
        for (auto& [id, model] : models) {
            const bool receives =
                std::find(c.receivers.begin(), c.receivers.end(), id) != c.receivers.end();
            ASSERT_EQ(model.signals().size(), receives ? 1u : 0u) << "peer " << id;
            if (receives) {
                EXPECT_EQ(model.signals()[0].name, "peer_packet");
                EXPECT_EQ(model.signals()[0].id, c.from);
                EXPECT_EQ(model.signals()[0].bytes, payload);
            }
        }
    }
    // The first case on the wire: wrapped for the host, rewritten to name its source.
    EXPECT_EQ(puts_between(2, 1).at(0), (Bytes{7, 3, 3, 0, 0, 0, 3, 0xA2, 3, 0xFF}));
    EXPECT_EQ(puts_between(1, 3).at(1), (Bytes{7, 3, 2, 0, 0, 0, 3, 0xA2, 3, 0xFF}));

    // Client 3 leaves: the host tells client 2, and client 3 sees its server go.
    peer(3)->status = MultiplayerPeer::CONNECTION_DISCONNECTED;
    peer(1)->news.push_back({"peer_disconnected", 3});
    poll_all();
    EXPECT_THAT(puts_between(1, 2).back(), ElementsAre(7, 2, 3, 0, 0, 0));
    EXPECT_THAT(models[2].ids_of("peer_disconnected"), ElementsAre(3));
    EXPECT_EQ(models[3].signals().back().name, "server_disconnected");
    EXPECT_TRUE(models[3].admitted().empty());
    EXPECT_TRUE(host.errors().empty());
}

TEST_F(EngineStyleRoom, WithoutServerRelayAClientKnowsOnlyTheServer) {
    seat_three(false);
    EXPECT_THAT(models[2].ids_of("peer_connected"), ElementsAre(1));
    EXPECT_EQ(models[2].send_bytes({1}, 3), godot::ERR_BUG);
    EXPECT_TRUE(puts_between(1, 2).empty());
}

TEST_F(EngineStyleRoom, PacketsFromStrangersAndForgedPeerListsAreDropped) {
    seat_three(true);
    peer(1)->inbox.push_back({9, 1, {3, 1}});
    peer(1)->inbox.push_back({2, 1, {7, 1, 3}});           // shorter than a system header
    peer(2)->inbox.push_back({3, 2, {7, 1, 9, 0, 0, 0}});  // only the host speaks for the room
    poll_all();
    EXPECT_EQ(host.errors().size(), 3u);
    EXPECT_EQ(models[1].count_of("peer_packet"), 0u);
    EXPECT_EQ(models[2].admitted().count(9), 0u);
}

}  // namespace
