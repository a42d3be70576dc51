#pragma once

#include <godot_cpp/classes/object.hpp>
#include <godot_cpp/core/type_info.hpp>

namespace godot {

// The engine's network peer for its high-level multiplayer API.
class MultiplayerPeer : public Object {
    GDEXTENSION_CLASS(MultiplayerPeer, Object)

public:
    enum ConnectionStatus {
        CONNECTION_DISCONNECTED = 0,
        CONNECTION_CONNECTING = 1,
        CONNECTION_CONNECTED = 2,
    };

    enum TransferMode {
        TRANSFER_MODE_UNRELIABLE = 0,
        TRANSFER_MODE_UNRELIABLE_ORDERED = 1,
        TRANSFER_MODE_RELIABLE = 2,
    };

    static const int TARGET_PEER_BROADCAST = 0;
    static const int TARGET_PEER_SERVER = 1;

    MultiplayerPeer() = default;

    template <typename T, typename B>
    static void register_virtuals() {
        Object::register_virtuals<T, B>();
    }
};

}  // namespace godot

VARIANT_ENUM_CAST(MultiplayerPeer::ConnectionStatus);
VARIANT_ENUM_CAST(MultiplayerPeer::TransferMode);
