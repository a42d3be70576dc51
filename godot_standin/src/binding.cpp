#include <godot_cpp/godot.hpp>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <godot_standin/engine_host.hpp>

#include "class_registry.hpp"
#include "engine_errors.hpp"

namespace godot {
namespace {

// The library is built for this engine interface; older engines are refused.
constexpr uint32_t kBuiltForMajor = 4;
constexpr uint32_t kBuiltForMinor = 7;
constexpr uint32_t kBuiltForPatch = 0;

GDExtensionInterfacePrintError loaded_print_error = nullptr;

// The records outlive the entry call: the engine keeps the pointer to them.
std::vector<std::unique_ptr<GDExtensionBinding::InitData>>& init_records() {
    static std::vector<std::unique_ptr<GDExtensionBinding::InitData>> records;
    return records;
}

bool engine_is_compatible(const GDExtensionGodotVersion2& p_version) {
    if (p_version.major != kBuiltForMajor) {
        return p_version.major > kBuiltForMajor;
    }
    if (p_version.minor != kBuiltForMinor) {
        return p_version.minor > kBuiltForMinor;
    }
    return p_version.patch >= kBuiltForPatch;
}

// The stand-in registers classes in its own in-process registry, which only
// its own engine host reads. An engine would accept the library, see no class
// and leave the game failing on undeclared names without a word why.
constexpr const char* kNotAnEngineBinding =
    "This library links godot_standin, the test stand-in of the engine binding, and cannot run "
    "in an engine. Build one that does against godot-cpp: QOP_GODOT_CPP_DIR=<godot-cpp checkout> "
    "scripts/build.sh";

void print_early(const char* p_message, const char* p_function) {
    loaded_print_error(p_message, p_function, __FILE__, __LINE__, false);
}

}  // namespace

namespace internal {

void print_binding_error(const std::string& p_message, const char* p_function) {
    if (loaded_print_error != nullptr) {
        loaded_print_error(p_message.c_str(), p_function, __FILE__, __LINE__, false);
        return;
    }
    report_engine_error(p_message, p_function);
}

}  // namespace internal

GDExtensionBinding::InitObject::InitObject(GDExtensionInterfaceGetProcAddress p_get_proc_address,
                                           GDExtensionClassLibraryPtr p_library,
                                           GDExtensionInitialization* r_initialization)
    : get_proc_address_(p_get_proc_address),
      library_(p_library),
      initialization_(r_initialization) {
    init_records().push_back(std::make_unique<InitData>());
    init_data_ = init_records().back().get();
}

void GDExtensionBinding::InitObject::register_initializer(Callback p_init) const {
    init_data_->init_callback = p_init;
}

void GDExtensionBinding::InitObject::register_terminator(Callback p_terminate) const {
    init_data_->terminate_callback = p_terminate;
}

void GDExtensionBinding::InitObject::set_minimum_library_initialization_level(
    ModuleInitializationLevel p_level) const {
    init_data_->minimum_initialization_level = static_cast<GDExtensionInitializationLevel>(p_level);
}

GDExtensionBool GDExtensionBinding::InitObject::init() const {
    if (get_proc_address_ == nullptr || initialization_ == nullptr) {
        return false;
    }
    const auto print_error =
        reinterpret_cast<GDExtensionInterfacePrintError>(get_proc_address_("print_error"));
    if (print_error == nullptr) {
        std::printf("ERROR: Unable to load GDExtension interface function print_error().\n");
        return false;
    }
    // Only the host linked into this same image drives the registry above;
    // the refused engine's print_error is not kept for later errors.
    if (!godot_standin::EngineHost::is_host_interface(get_proc_address_)) {
        print_error(kNotAnEngineBinding, "GDExtensionBinding::init", __FILE__, __LINE__, false);
        return false;
    }
    loaded_print_error = print_error;
    if (init_data_->init_callback == nullptr) {
        print_early("Initialization callback must be defined.", "GDExtensionBinding::init");
        return false;
    }
    auto get_version = reinterpret_cast<GDExtensionInterfaceGetGodotVersion2>(
        get_proc_address_("get_godot_version2"));
    if (get_version == nullptr) {
        print_early("Unable to load GDExtension interface function get_godot_version2()",
                    "GDExtensionBinding::init");
        return false;
    }
    GDExtensionGodotVersion2 version{};
    get_version(&version);
    if (!engine_is_compatible(version)) {
        char message[160];
        std::snprintf(message, sizeof(message),
                      "Cannot load a GDExtension built for Godot %d.%d.%d using an older version "
                      "of Godot (%d.%d.%d).",
                      static_cast<int>(kBuiltForMajor), static_cast<int>(kBuiltForMinor),
                      static_cast<int>(kBuiltForPatch), static_cast<int>(version.major),
                      static_cast<int>(version.minor), static_cast<int>(version.patch));
        print_early(message, "GDExtensionBinding::init");
        return false;
    }
    (void)library_;
    initialization_->initialize = &GDExtensionBinding::initialize_level;
    initialization_->deinitialize = &GDExtensionBinding::deinitialize_level;
    initialization_->userdata = init_data_;
    initialization_->minimum_initialization_level = init_data_->minimum_initialization_level;
    return true;
}

void GDExtensionBinding::initialize_level(void* p_userdata,
                                          GDExtensionInitializationLevel p_level) {
    if (p_level < GDEXTENSION_INITIALIZATION_CORE ||
        p_level >= GDEXTENSION_MAX_INITIALIZATION_LEVEL) {
        internal::print_binding_error("Invalid initialization level.",
                                      "GDExtensionBinding::initialize_level");
        return;
    }
    godot_standin::internal::ClassRegistry::get().current_level = p_level;
    auto* init_data = static_cast<InitData*>(p_userdata);
    if (init_data != nullptr && init_data->init_callback != nullptr) {
        init_data->init_callback(static_cast<ModuleInitializationLevel>(p_level));
    }
}

void GDExtensionBinding::deinitialize_level(void* p_userdata,
                                            GDExtensionInitializationLevel p_level) {
    if (p_level < GDEXTENSION_INITIALIZATION_CORE ||
        p_level >= GDEXTENSION_MAX_INITIALIZATION_LEVEL) {
        internal::print_binding_error("Invalid initialization level.",
                                      "GDExtensionBinding::deinitialize_level");
        return;
    }
    godot_standin::internal::ClassRegistry::get().current_level = p_level;
    auto* init_data = static_cast<InitData*>(p_userdata);
    if (init_data != nullptr && init_data->terminate_callback != nullptr) {
        init_data->terminate_callback(static_cast<ModuleInitializationLevel>(p_level));
    }
    // Classes registered at this level go with it.
    godot_standin::internal::ClassRegistry::get().remove_level(p_level);
}

}  // namespace godot
