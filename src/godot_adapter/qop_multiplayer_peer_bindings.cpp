#include "godot_adapter/qop_multiplayer_peer.hpp"

#include <godot_cpp/core/property_info.hpp>
#include <godot_cpp/variant/variant.hpp>

namespace qop::godot_adapter {

void QOPMultiplayerPeer::_bind_methods() {
    // Binding code reads like the engine's own registration code.
    using namespace godot;

    ClassDB::bind_method(D_METHOD("connect_from_bootstrap", "bootstrap"),
                         &QOPMultiplayerPeer::connect_from_bootstrap);
    ClassDB::bind_method(D_METHOD("connect_from_data_plane", "context"),
                         &QOPMultiplayerPeer::connect_from_data_plane);
    ClassDB::bind_method(D_METHOD("begin_connection"), &QOPMultiplayerPeer::begin_connection);
    ClassDB::bind_method(D_METHOD("fail_connection", "message"),
                         &QOPMultiplayerPeer::fail_connection);
    ClassDB::bind_method(D_METHOD("get_last_error"), &QOPMultiplayerPeer::get_last_error);

    // Read-only: no setter, so assignments from scripts change nothing.
    ADD_PROPERTY(PropertyInfo(Variant::STRING, "last_error"), "", "get_last_error");
}

}  // namespace qop::godot_adapter
