#pragma once

// The C interface between the engine and an extension library: only the
// types and functions this library exchanges with the engine.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint8_t GDExtensionBool;
typedef int64_t GDExtensionInt;
typedef void* GDExtensionClassLibraryPtr;

typedef void (*GDExtensionInterfaceFunctionPtr)(void);
typedef GDExtensionInterfaceFunctionPtr (*GDExtensionInterfaceGetProcAddress)(
    const char* p_function_name);

typedef enum {
    GDEXTENSION_INITIALIZATION_CORE,
    GDEXTENSION_INITIALIZATION_SERVERS,
    GDEXTENSION_INITIALIZATION_SCENE,
    GDEXTENSION_INITIALIZATION_EDITOR,
    GDEXTENSION_MAX_INITIALIZATION_LEVEL,
} GDExtensionInitializationLevel;

typedef struct {
    GDExtensionInitializationLevel minimum_initialization_level;
    void* userdata;
    void (*initialize)(void* userdata, GDExtensionInitializationLevel p_level);
    void (*deinitialize)(void* userdata, GDExtensionInitializationLevel p_level);
} GDExtensionInitialization;

typedef GDExtensionBool (*GDExtensionInitializationFunction)(
    GDExtensionInterfaceGetProcAddress p_get_proc_address, GDExtensionClassLibraryPtr p_library,
    GDExtensionInitialization* r_initialization);

typedef struct {
    uint32_t major;
    uint32_t minor;
    uint32_t patch;
    uint32_t hex;
    const char* status;
    const char* build;
    const char* hash;
    uint64_t timestamp;
    const char* string;
} GDExtensionGodotVersion2;

typedef void (*GDExtensionInterfaceGetGodotVersion2)(GDExtensionGodotVersion2* r_godot_version);

typedef void (*GDExtensionInterfacePrintError)(const char* p_description, const char* p_function,
                                               const char* p_file, int32_t p_line,
                                               GDExtensionBool p_editor_notify);

#ifdef __cplusplus
}
#endif
