#pragma once

#include <cstdint>
#include <type_traits>

#include <godot_cpp/classes/global_constants.hpp>
#include <godot_cpp/classes/multiplayer_peer.hpp>
#include <godot_cpp/core/class_db.hpp>
#include <godot_cpp/variant/packed_byte_array.hpp>

namespace godot {

// The base of a multiplayer peer written as an extension: the engine drives
// it through these virtuals (see the engine host for the order it uses).
class MultiplayerPeerExtension : public MultiplayerPeer {
    GDEXTENSION_CLASS(MultiplayerPeerExtension, MultiplayerPeer)

public:
    MultiplayerPeerExtension() = default;

    virtual Error _get_packet(const uint8_t** r_buffer, int32_t* r_buffer_size);
    virtual Error _put_packet(const uint8_t* p_buffer, int32_t p_buffer_size);
    virtual int32_t _get_available_packet_count() const;
    virtual int32_t _get_max_packet_size() const;
    virtual PackedByteArray _get_packet_script();
    virtual Error _put_packet_script(const PackedByteArray& p_buffer);
    virtual int32_t _get_packet_channel() const;
    virtual MultiplayerPeer::TransferMode _get_packet_mode() const;
    virtual void _set_transfer_channel(int32_t p_channel);
    virtual int32_t _get_transfer_channel() const;
    virtual void _set_transfer_mode(MultiplayerPeer::TransferMode p_mode);
    virtual MultiplayerPeer::TransferMode _get_transfer_mode() const;
    virtual void _set_target_peer(int32_t p_peer);
    virtual int32_t _get_packet_peer() const;
    virtual bool _is_server() const;
    virtual void _poll();
    virtual void _close();
    virtual void _disconnect_peer(int32_t p_peer, bool p_force);
    virtual int32_t _get_unique_id() const;
    virtual void _set_refuse_new_connections(bool p_enable);
    virtual bool _is_refusing_new_connections() const;
    virtual bool _is_server_relay_supported() const;
    virtual MultiplayerPeer::ConnectionStatus _get_connection_status() const;

    template <typename T, typename B>
    static void register_virtuals() {
        MultiplayerPeer::register_virtuals<T, B>();
#define GODOT_STANDIN_BIND_VIRTUAL(m_name)                                       \
    if constexpr (!std::is_same_v<decltype(&B::m_name), decltype(&T::m_name)>) { \
        ClassDB::bind_virtual_method(T::get_class_static(), #m_name);            \
    }
        GODOT_STANDIN_BIND_VIRTUAL(_get_packet)
        GODOT_STANDIN_BIND_VIRTUAL(_put_packet)
        GODOT_STANDIN_BIND_VIRTUAL(_get_available_packet_count)
        GODOT_STANDIN_BIND_VIRTUAL(_get_max_packet_size)
        GODOT_STANDIN_BIND_VIRTUAL(_get_packet_script)
        GODOT_STANDIN_BIND_VIRTUAL(_put_packet_script)
        GODOT_STANDIN_BIND_VIRTUAL(_get_packet_channel)
        GODOT_STANDIN_BIND_VIRTUAL(_get_packet_mode)
        GODOT_STANDIN_BIND_VIRTUAL(_set_transfer_channel)
        GODOT_STANDIN_BIND_VIRTUAL(_get_transfer_channel)
        GODOT_STANDIN_BIND_VIRTUAL(_set_transfer_mode)
        GODOT_STANDIN_BIND_VIRTUAL(_get_transfer_mode)
        GODOT_STANDIN_BIND_VIRTUAL(_set_target_peer)
        GODOT_STANDIN_BIND_VIRTUAL(_get_packet_peer)
        GODOT_STANDIN_BIND_VIRTUAL(_is_server)
        GODOT_STANDIN_BIND_VIRTUAL(_poll)
        GODOT_STANDIN_BIND_VIRTUAL(_close)
        GODOT_STANDIN_BIND_VIRTUAL(_disconnect_peer)
        GODOT_STANDIN_BIND_VIRTUAL(_get_unique_id)
        GODOT_STANDIN_BIND_VIRTUAL(_set_refuse_new_connections)
        GODOT_STANDIN_BIND_VIRTUAL(_is_refusing_new_connections)
        GODOT_STANDIN_BIND_VIRTUAL(_is_server_relay_supported)
        GODOT_STANDIN_BIND_VIRTUAL(_get_connection_status)
#undef GODOT_STANDIN_BIND_VIRTUAL
    }
};

}  // namespace godot
