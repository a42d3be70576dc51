#pragma once

// A small library written against the engine binding the way the SDK's own
// classes are, so that tests can load it into the engine host and drive it
// by name.

#include <cstdint>
#include <string>
#include <vector>

#include <gdextension_interface.h>
#include <godot_cpp/classes/multiplayer_peer_extension.hpp>
#include <godot_cpp/classes/node.hpp>
#include <godot_cpp/core/class_db.hpp>
#include <godot_cpp/godot.hpp>
#include <godot_cpp/variant/dictionary.hpp>
#include <godot_cpp/variant/packed_byte_array.hpp>
#include <godot_cpp/variant/string.hpp>

namespace sample {

class SampleNode : public godot::Node {
    GDCLASS(SampleNode, godot::Node)

public:
    enum Mood {
        MOOD_CALM = 0,
        MOOD_BUSY = 3,
    };

    SampleNode() = default;

    void configure(int64_t p_id, const godot::String& p_name, bool p_flag,
                   const godot::PackedByteArray& p_bytes);
    godot::String describe() const;
    int64_t add(int64_t p_a, int64_t p_b) const { return p_a + p_b; }
    double half(double p_value) const { return p_value / 2.0; }
    godot::Dictionary get_summary() const;
    int64_t get_mood() const { return mood_; }
    void set_mood(int64_t p_mood) { mood_ = p_mood; }
    // Emits "changed" with the given values, and "nested_done" after any
    // handler ran.
    void fire(int64_t p_value, const godot::String& p_text);
    // Emissions that break the declared signals, for the host to report.
    void fire_undeclared() { emit_signal("never_declared", 1); }
    void fire_wrong_count() { emit_signal("changed", 1); }
    void fire_wrong_type() { emit_signal("changed", "text", "text"); }

    void _exit_tree() override;

    int exit_tree_calls = 0;
    int64_t id = 0;
    godot::String name;
    bool flag = false;
    godot::PackedByteArray bytes;

protected:
    static void _bind_methods();

private:
    int64_t mood_ = MOOD_CALM;
};

// A class that registers nothing of its own: it overrides no virtual.
class PlainNode : public godot::Node {
    GDCLASS(PlainNode, godot::Node)

protected:
    static void _bind_methods() {}
};

// Overrides every required peer virtual (and one optional one).
class SamplePeer : public godot::MultiplayerPeerExtension {
    GDCLASS(SamplePeer, godot::MultiplayerPeerExtension)

public:
    godot::Error _get_packet(const uint8_t** r_buffer, int32_t* r_buffer_size) override;
    godot::Error _put_packet(const uint8_t* p_buffer, int32_t p_buffer_size) override;
    int32_t _get_available_packet_count() const override;
    int32_t _get_max_packet_size() const override { return 1 << 24; }
    int32_t _get_packet_channel() const override { return 0; }
    TransferMode _get_packet_mode() const override { return TRANSFER_MODE_RELIABLE; }
    void _set_transfer_channel(int32_t p_channel) override { channel = p_channel; }
    int32_t _get_transfer_channel() const override { return channel; }
    void _set_transfer_mode(TransferMode p_mode) override { mode = p_mode; }
    TransferMode _get_transfer_mode() const override { return mode; }
    void _set_target_peer(int32_t p_peer) override { target = p_peer; }
    int32_t _get_packet_peer() const override { return 1; }
    bool _is_server() const override { return false; }
    void _poll() override { ++polls; }
    void _close() override {}
    void _disconnect_peer(int32_t, bool) override {}
    int32_t _get_unique_id() const override { return 2; }
    ConnectionStatus _get_connection_status() const override { return status; }
    bool _is_server_relay_supported() const override { return true; }

    godot::Error connect_to(int64_t p_peer);

    ConnectionStatus status = CONNECTION_DISCONNECTED;
    TransferMode mode = TRANSFER_MODE_RELIABLE;
    int32_t channel = 0;
    int32_t target = 0;
    int polls = 0;
    std::vector<std::vector<uint8_t>> inbox;
    std::vector<std::vector<uint8_t>> sent;
    std::vector<uint8_t> current;

protected:
    static void _bind_methods();
};

// _exit_tree calls of every SampleNode.
int& exit_tree_total();

// The levels the sample library's initializer and terminator saw.
std::vector<godot::ModuleInitializationLevel>& initializer_calls();
std::vector<godot::ModuleInitializationLevel>& terminator_calls();

}  // namespace sample

VARIANT_ENUM_CAST(sample::SampleNode::Mood);

extern "C" GDExtensionBool sample_library_init(
    GDExtensionInterfaceGetProcAddress p_get_proc_address, GDExtensionClassLibraryPtr p_library,
    GDExtensionInitialization* r_initialization);
// The same library without an initializer, which the binding refuses.
extern "C" GDExtensionBool sample_library_init_without_initializer(
    GDExtensionInterfaceGetProcAddress p_get_proc_address, GDExtensionClassLibraryPtr p_library,
    GDExtensionInitialization* r_initialization);
