#pragma once

// The library's extension entry and the module initializer it hands to the
// binding. The engine finds the entry by name; it is the library's only
// export.

#include <gdextension_interface.h>

#include <godot_cpp/core/defs.hpp>
#include <godot_cpp/godot.hpp>

namespace qop::godot_adapter {

// Registers the library's engine classes at the scene level; every other
// level does nothing.
void initialize_sdk_module(godot::ModuleInitializationLevel level);

}  // namespace qop::godot_adapter

extern "C" {
GDExtensionBool GDE_EXPORT qop_sdk_library_init(GDExtensionInterfaceGetProcAddress get_proc_address,
                                                GDExtensionClassLibraryPtr library,
                                                GDExtensionInitialization* initialization);
}
