#pragma once

#include <gdextension_interface.h>

namespace godot {

enum ModuleInitializationLevel {
    MODULE_INITIALIZATION_LEVEL_CORE = GDEXTENSION_INITIALIZATION_CORE,
    MODULE_INITIALIZATION_LEVEL_SERVERS = GDEXTENSION_INITIALIZATION_SERVERS,
    MODULE_INITIALIZATION_LEVEL_SCENE = GDEXTENSION_INITIALIZATION_SCENE,
    MODULE_INITIALIZATION_LEVEL_EDITOR = GDEXTENSION_INITIALIZATION_EDITOR,
    MODULE_INITIALIZATION_LEVEL_MAX
};

// Connects an extension library to the engine that loads it.
class GDExtensionBinding {
public:
    using Callback = void (*)(ModuleInitializationLevel p_level);

    struct InitData {
        GDExtensionInitializationLevel minimum_initialization_level =
            GDEXTENSION_INITIALIZATION_CORE;
        Callback init_callback = nullptr;
        Callback terminate_callback = nullptr;
    };

    static void initialize_level(void* p_userdata, GDExtensionInitializationLevel p_level);
    static void deinitialize_level(void* p_userdata, GDExtensionInitializationLevel p_level);

    class InitObject {
    public:
        InitObject(GDExtensionInterfaceGetProcAddress p_get_proc_address,
                   GDExtensionClassLibraryPtr p_library,
                   GDExtensionInitialization* r_initialization);

        void register_initializer(Callback p_init) const;
        void register_terminator(Callback p_terminate) const;
        void set_minimum_library_initialization_level(ModuleInitializationLevel p_level) const;
        // Checks the engine (its version and the interface functions the
        // binding needs) and, when it is accepted, fills the initialization
        // record. False when the engine is refused.
        GDExtensionBool init() const;

    private:
        GDExtensionInterfaceGetProcAddress get_proc_address_;
        GDExtensionClassLibraryPtr library_;
        GDExtensionInitialization* initialization_;
        InitData* init_data_;
    };
};

}  // namespace godot
