#include "godot_adapter/sdk_library_entry.hpp"

#include <godot_cpp/core/class_db.hpp>
#include <godot_cpp/core/defs.hpp>

#include "godot_adapter/protobuf_log.hpp"
#include "godot_adapter/qop_desktop_client.hpp"
#include "godot_adapter/qop_multiplayer_peer.hpp"
#include "relay/socket_compat.hpp"

namespace qop::godot_adapter {
namespace {

// Unregistering at unload is left to the binding. The engine de-initialises
// the levels from the top down before it unloads the library, outside
// DllMain, so the scene level is the last call the library gets and the
// place to stop Winsock when a relay transport started it.
void terminate_sdk_module(godot::ModuleInitializationLevel level) {
    if (level != godot::MODULE_INITIALIZATION_LEVEL_SCENE) {
        return;
    }
    qop::network::stop_socket_library();
}

}  // namespace

void initialize_sdk_module(godot::ModuleInitializationLevel level) {
    if (level != godot::MODULE_INITIALIZATION_LEVEL_SCENE) {
        return;
    }
    godot::ClassDB::register_class<QOPDesktopClient>();
    godot::ClassDB::register_class<QOPMultiplayerPeer>();
}

}  // namespace qop::godot_adapter

extern "C" {

GDExtensionBool GDE_EXPORT qop_sdk_library_init(GDExtensionInterfaceGetProcAddress get_proc_address,
                                                GDExtensionClassLibraryPtr library,
                                                GDExtensionInitialization* initialization) {
    qop::godot_adapter::silence_protobuf_log();
    const godot::GDExtensionBinding::InitObject init_object(get_proc_address, library,
                                                            initialization);
    init_object.register_initializer(qop::godot_adapter::initialize_sdk_module);
    init_object.register_terminator(qop::godot_adapter::terminate_sdk_module);
    init_object.set_minimum_library_initialization_level(godot::MODULE_INITIALIZATION_LEVEL_SCENE);
    // The binding refuses engines older than the one the library is built
    // for; its answer is passed on unchanged.
    return init_object.init();
}
}
