#pragma once

// An in-process stand-in for the engine, for tests and tools. It loads a
// library through its entry symbol, runs the initialization levels, and then
// lets a test do what a game script does: create registered classes by name,
// call bound methods by name with engine values, read properties, connect to
// signals and see what was emitted. It also decides what the engine's OS and
// Engine singletons report, or whether they exist at all.
//
// One host is active at a time (a second one takes over until it is
// destroyed). Everything runs on the caller's thread, as the engine's main
// thread would. Errors that the engine would print (refused registrations, a
// signal emitted that its class never declared or with the wrong number or
// kind of arguments, a bad script call) are recorded, not thrown: tests
// check errors() is empty.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gdextension_interface.h>
#include <godot_cpp/classes/node.hpp>
#include <godot_cpp/godot.hpp>
#include <godot_cpp/variant/variant.hpp>
#include <godot_standin/class_records.hpp>

namespace godot_standin {

enum class ErrorKind {
    Engine,  // printed by the engine or by the binding (print_error)
    Script,  // a script's call, property access or instantiation went wrong
    Signal,  // an undeclared signal, or the wrong number or kind of arguments
};

struct EngineError {
    ErrorKind kind = ErrorKind::Engine;
    std::string message;   // UTF-8
    std::string function;  // where it was raised, when known
};

struct SignalEmission {
    uint64_t instance_id = 0;
    std::string signal;
    std::vector<godot::Variant> arguments;
};

struct EngineVersion {
    uint32_t major = 4;
    uint32_t minor = 7;
    uint32_t patch = 0;
};

class EngineHost {
public:
    explicit EngineHost(EngineVersion p_version = {});
    // Frees the objects it created that are still alive, deinitializes a
    // loaded library level by level and restores the default OS and Engine.
    ~EngineHost();
    EngineHost(const EngineHost&) = delete;
    EngineHost& operator=(const EngineHost&) = delete;

    static EngineHost* current();

    // ---- Loading --------------------------------------------------------
    // Whether an engine's interface lookup is this host's own: the binding
    // accepts no other engine.
    static bool is_host_interface(GDExtensionInterfaceGetProcAddress p_get_proc_address);
    // Makes get_proc_address answer null for this interface function.
    void hide_interface_function(const std::string& p_name);
    // Calls the entry symbol; true when the library accepted this engine.
    // Then runs initialize for every level from the library's minimum up to
    // p_last_level (the editor level, by default, as an editor build does).
    bool load(GDExtensionInitializationFunction p_entry,
              GDExtensionInitializationLevel p_last_level = GDEXTENSION_INITIALIZATION_EDITOR);
    bool is_loaded() const { return loaded_; }
    // The record the library filled in load().
    const GDExtensionInitialization& initialization() const { return initialization_; }
    // The levels initialize() has been called with, in order.
    const std::vector<GDExtensionInitializationLevel>& initialized_levels() const {
        return initialized_levels_;
    }
    // Deinitializes the loaded levels from the highest down; their classes go.
    void unload();

    // ---- Objects --------------------------------------------------------
    // Creates a registered class by name, as a script's ClassName.new().
    // Null (and a Script error) for an unknown or virtual class.
    godot::Object* instantiate(const std::string& p_class);
    template <typename T>
    T* instantiate_as(const std::string& p_class) {
        return static_cast<T*>(instantiate(p_class));
    }
    // Frees an object as free() does; a node in the tree leaves it first.
    void free(godot::Object* p_object);
    // Puts a node into or takes it out of the scene tree. Leaving calls the
    // class's _exit_tree override when it bound one.
    void enter_tree(godot::Node* p_node);
    void exit_tree(godot::Node* p_node);
    bool is_in_tree(const godot::Node* p_node) const;

    // ---- Scripts --------------------------------------------------------
    // Calls a bound method by name. Missing trailing arguments take the bound
    // defaults; too many or too few arguments, an argument of a kind that
    // does not convert, or an unknown method is a Script error and gives nil.
    godot::Variant call(godot::Object* p_object, const std::string& p_method,
                        const std::vector<godot::Variant>& p_arguments = {});
    // Reads a property through its getter (nil and a Script error when unknown).
    godot::Variant get(godot::Object* p_object, const std::string& p_property);
    // Assigns a property through its setter; a read-only or unknown property
    // is a Script error and false.
    bool set(godot::Object* p_object, const std::string& p_property, const godot::Variant& p_value);
    // The value of an integer constant of a class (or its parents); nil when unknown.
    godot::Variant constant(const std::string& p_class, const std::string& p_name) const;

    // ---- Signals --------------------------------------------------------
    // Records every emission of the signal in emissions().
    void watch(godot::Object* p_object, const std::string& p_signal);
    // Calls p_handler on every emission (inside the emission, like a script handler).
    void connect(godot::Object* p_object, const std::string& p_signal,
                 std::function<void(const std::vector<godot::Variant>&)> p_handler);
    const std::vector<SignalEmission>& emissions() const { return emissions_; }
    // The emissions of one signal, in order.
    std::vector<SignalEmission> emissions_of(const std::string& p_signal) const;
    void clear_emissions() { emissions_.clear(); }

    // ---- Errors ---------------------------------------------------------
    const std::vector<EngineError>& errors() const { return errors_; }
    std::vector<EngineError> errors_of(ErrorKind p_kind) const;
    void clear_errors() { errors_.clear(); }
    void record_error(ErrorKind p_kind, const std::string& p_message,
                      const std::string& p_function);

    // ---- What OS and Engine report --------------------------------------
    // By default OS reports no arguments, no environment variables and an
    // empty executable path, and Engine reports this host's version.
    void set_os_available(bool p_available) { os_available_ = p_available; }
    void set_engine_available(bool p_available) { engine_available_ = p_available; }
    bool os_available() const { return os_available_; }
    bool engine_available() const { return engine_available_; }
    void set_cmdline_args(const std::vector<std::string>& p_args);  // UTF-8
    void set_environment_variable(const std::string& p_name, const std::string& p_value);
    void unset_environment_variable(const std::string& p_name);
    void set_executable_path(const std::string& p_path);
    // Replaces the whole Dictionary that Engine.get_version_info() returns.
    void set_version_info(const godot::Dictionary& p_info);

    const godot::PackedStringArray& cmdline_args() const { return cmdline_args_; }
    godot::String environment_variable(const godot::String& p_name) const;
    const godot::String& executable_path() const { return executable_path_; }
    godot::Dictionary version_info() const;
    const EngineVersion& version() const { return version_; }

private:
    static GDExtensionInterfaceFunctionPtr get_proc_address(const char* p_name);
    static void get_godot_version2(GDExtensionGodotVersion2* r_version);
    static void print_error(const char* p_description, const char* p_function, const char* p_file,
                            int32_t p_line, GDExtensionBool p_notify);

    EngineHost* previous_;
    EngineVersion version_;
    std::string version_string_;
    std::set<std::string> hidden_functions_;
    bool loaded_ = false;
    GDExtensionInitialization initialization_{};
    std::vector<GDExtensionInitializationLevel> initialized_levels_;
    std::vector<uint64_t> created_objects_;
    std::set<uint64_t> in_tree_;
    std::vector<SignalEmission> emissions_;
    std::vector<EngineError> errors_;

    bool os_available_ = true;
    bool engine_available_ = true;
    godot::PackedStringArray cmdline_args_;
    std::map<std::u32string, godot::String> environment_;
    godot::String executable_path_;
    bool custom_version_info_ = false;
    godot::Dictionary version_info_;
};

}  // namespace godot_standin
