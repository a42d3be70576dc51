#include <godot_standin/engine_host.hpp>

#include <algorithm>
#include <atomic>

#include <godot_cpp/core/memory.hpp>

#include "callable_factory.hpp"
#include "engine_errors.hpp"
#include "engine_version_info.hpp"
#include "script_calls.hpp"

namespace godot_standin {
namespace {

std::atomic<EngineHost*> active_host{nullptr};

godot::String from_utf8(const std::string& p_text) {
    return godot::String::utf8(p_text.data(), static_cast<int64_t>(p_text.size()));
}

}  // namespace

EngineHost::EngineHost(EngineVersion p_version)
    : previous_(active_host.load()),
      version_(p_version),
      version_string_(internal::version_text(p_version)) {
    active_host.store(this);
}

EngineHost::~EngineHost() {
    // Free what scripts created while the classes still exist.
    const std::vector<uint64_t> objects = created_objects_;
    for (uint64_t id : objects) {
        if (godot::Object* object = godot::ObjectDB::get_instance(id)) {
            free(object);
        }
    }
    unload();
    active_host.store(previous_);
}

EngineHost* EngineHost::current() {
    return active_host.load();
}

// ---- Loading -------------------------------------------------------------

bool EngineHost::is_host_interface(GDExtensionInterfaceGetProcAddress p_get_proc_address) {
    return p_get_proc_address == &EngineHost::get_proc_address;
}

void EngineHost::hide_interface_function(const std::string& p_name) {
    hidden_functions_.insert(p_name);
}

GDExtensionInterfaceFunctionPtr EngineHost::get_proc_address(const char* p_name) {
    EngineHost* host = current();
    if (host == nullptr || p_name == nullptr || host->hidden_functions_.count(p_name) != 0) {
        return nullptr;
    }
    const std::string name = p_name;
    if (name == "get_godot_version2") {
        return reinterpret_cast<GDExtensionInterfaceFunctionPtr>(&EngineHost::get_godot_version2);
    }
    if (name == "print_error") {
        return reinterpret_cast<GDExtensionInterfaceFunctionPtr>(&EngineHost::print_error);
    }
    return nullptr;
}

void EngineHost::get_godot_version2(GDExtensionGodotVersion2* r_version) {
    EngineHost* host = current();
    if (host == nullptr || r_version == nullptr) {
        return;
    }
    r_version->major = host->version_.major;
    r_version->minor = host->version_.minor;
    r_version->patch = host->version_.patch;
    r_version->hex = internal::version_hex(host->version_);
    r_version->status = "stable";
    r_version->build = "standin";
    r_version->hash = "";
    r_version->timestamp = 0;
    r_version->string = host->version_string_.c_str();
}

void EngineHost::print_error(const char* p_description, const char* p_function, const char*,
                             int32_t, GDExtensionBool) {
    godot::internal::report_engine_error(p_description != nullptr ? p_description : "", p_function);
}

bool EngineHost::load(GDExtensionInitializationFunction p_entry,
                      GDExtensionInitializationLevel p_last_level) {
    if (loaded_) {
        record_error(ErrorKind::Engine, "A library is already loaded in this host.",
                     "EngineHost::load");
        return false;
    }
    initialization_ = GDExtensionInitialization{};
    if (p_entry == nullptr || !p_entry(&EngineHost::get_proc_address, this, &initialization_)) {
        return false;
    }
    if (initialization_.initialize == nullptr) {
        record_error(ErrorKind::Engine, "The library accepted the engine but gave no initializer.",
                     "EngineHost::load");
        return false;
    }
    loaded_ = true;
    for (int level = initialization_.minimum_initialization_level; level <= p_last_level; ++level) {
        const auto typed = static_cast<GDExtensionInitializationLevel>(level);
        initialization_.initialize(initialization_.userdata, typed);
        initialized_levels_.push_back(typed);
    }
    return true;
}

void EngineHost::unload() {
    if (!loaded_) {
        return;
    }
    while (!initialized_levels_.empty()) {
        const GDExtensionInitializationLevel level = initialized_levels_.back();
        initialized_levels_.pop_back();
        if (initialization_.deinitialize != nullptr) {
            initialization_.deinitialize(initialization_.userdata, level);
        }
    }
    loaded_ = false;
}

// ---- Objects -------------------------------------------------------------

godot::Object* EngineHost::instantiate(const std::string& p_class) {
    const ClassRecord* record = find_class(from_utf8(p_class));
    if (record == nullptr || !record->create || record->is_virtual) {
        record_error(ErrorKind::Script,
                     "Cannot instantiate class '" + p_class +
                         "': it is not registered or cannot be created.",
                     "EngineHost::instantiate");
        return nullptr;
    }
    godot::Object* object = record->create();
    created_objects_.push_back(object->get_instance_id());
    return object;
}

void EngineHost::free(godot::Object* p_object) {
    if (p_object == nullptr) {
        return;
    }
    const uint64_t id = p_object->get_instance_id();
    if (in_tree_.count(id) != 0) {
        exit_tree(static_cast<godot::Node*>(p_object));
    }
    created_objects_.erase(std::remove(created_objects_.begin(), created_objects_.end(), id),
                           created_objects_.end());
    godot::memdelete(p_object);
}

void EngineHost::enter_tree(godot::Node* p_node) {
    if (p_node != nullptr) {
        in_tree_.insert(p_node->get_instance_id());
    }
}

void EngineHost::exit_tree(godot::Node* p_node) {
    if (p_node == nullptr || in_tree_.erase(p_node->get_instance_id()) == 0) {
        return;
    }
    if (overrides_virtual(p_node->get_class(), "_exit_tree")) {
        p_node->_exit_tree();
    }
}

bool EngineHost::is_in_tree(const godot::Node* p_node) const {
    return p_node != nullptr && in_tree_.count(p_node->get_instance_id()) != 0;
}

// ---- Scripts -------------------------------------------------------------

godot::Variant EngineHost::call(godot::Object* p_object, const std::string& p_method,
                                const std::vector<godot::Variant>& p_arguments) {
    if (p_object == nullptr) {
        record_error(ErrorKind::Script, "Cannot call method '" + p_method + "' on a null value.",
                     "EngineHost::call");
        return godot::Variant();
    }
    std::string error;
    godot::Variant result =
        godot::internal::call_method(p_object, from_utf8(p_method), p_arguments, error);
    if (!error.empty()) {
        record_error(ErrorKind::Script, error, "EngineHost::call");
    }
    return result;
}

godot::Variant EngineHost::get(godot::Object* p_object, const std::string& p_property) {
    const PropertyRecord* property =
        p_object != nullptr ? find_property(p_object->get_class(), from_utf8(p_property)) : nullptr;
    if (property == nullptr) {
        record_error(ErrorKind::Script,
                     "Invalid access to property or key '" + p_property + "' on a base object.",
                     "EngineHost::get");
        return godot::Variant();
    }
    return call(p_object, godot::internal::to_utf8(property->getter));
}

bool EngineHost::set(godot::Object* p_object, const std::string& p_property,
                     const godot::Variant& p_value) {
    const PropertyRecord* property =
        p_object != nullptr ? find_property(p_object->get_class(), from_utf8(p_property)) : nullptr;
    if (property == nullptr || property->setter.is_empty()) {
        record_error(ErrorKind::Script,
                     "Invalid assignment of property or key '" + p_property +
                         "': it does not exist or is read-only.",
                     "EngineHost::set");
        return false;
    }
    const size_t errors_before = errors_.size();
    call(p_object, godot::internal::to_utf8(property->setter), {p_value});
    return errors_.size() == errors_before;
}

godot::Variant EngineHost::constant(const std::string& p_class, const std::string& p_name) const {
    const ConstantRecord* constant = find_constant(from_utf8(p_class), from_utf8(p_name));
    return constant != nullptr ? godot::Variant(constant->value) : godot::Variant();
}

// ---- Signals -------------------------------------------------------------

void EngineHost::watch(godot::Object* p_object, const std::string& p_signal) {
    if (p_object == nullptr) {
        return;
    }
    const uint64_t id = p_object->get_instance_id();
    p_object->connect(
        from_utf8(p_signal),
        CallableFactory::from_function(
            [id, p_signal](const std::vector<godot::Variant>& p_arguments) {
                // Recorded by whichever host is active, so a
                // connection outliving its host stays harmless.
                if (EngineHost* host = current()) {
                    host->emissions_.push_back(SignalEmission{id, p_signal, p_arguments});
                }
            }));
}

void EngineHost::connect(godot::Object* p_object, const std::string& p_signal,
                         std::function<void(const std::vector<godot::Variant>&)> p_handler) {
    if (p_object != nullptr) {
        p_object->connect(from_utf8(p_signal),
                          CallableFactory::from_function(std::move(p_handler)));
    }
}

std::vector<SignalEmission> EngineHost::emissions_of(const std::string& p_signal) const {
    std::vector<SignalEmission> result;
    for (const SignalEmission& emission : emissions_) {
        if (emission.signal == p_signal) {
            result.push_back(emission);
        }
    }
    return result;
}

// ---- Errors --------------------------------------------------------------

std::vector<EngineError> EngineHost::errors_of(ErrorKind p_kind) const {
    std::vector<EngineError> result;
    for (const EngineError& error : errors_) {
        if (error.kind == p_kind) {
            result.push_back(error);
        }
    }
    return result;
}

void EngineHost::record_error(ErrorKind p_kind, const std::string& p_message,
                              const std::string& p_function) {
    errors_.push_back(EngineError{p_kind, p_message, p_function});
}

// ---- What OS and Engine report -------------------------------------------

void EngineHost::set_cmdline_args(const std::vector<std::string>& p_args) {
    cmdline_args_ = godot::PackedStringArray();
    for (const std::string& arg : p_args) {
        cmdline_args_.push_back(from_utf8(arg));
    }
}

void EngineHost::set_environment_variable(const std::string& p_name, const std::string& p_value) {
    environment_[from_utf8(p_name).code_points()] = from_utf8(p_value);
}

void EngineHost::unset_environment_variable(const std::string& p_name) {
    environment_.erase(from_utf8(p_name).code_points());
}

void EngineHost::set_executable_path(const std::string& p_path) {
    executable_path_ = from_utf8(p_path);
}

void EngineHost::set_version_info(const godot::Dictionary& p_info) {
    custom_version_info_ = true;
    version_info_ = p_info;
}

godot::String EngineHost::environment_variable(const godot::String& p_name) const {
    auto it = environment_.find(p_name.code_points());
    return it == environment_.end() ? godot::String() : it->second;
}

godot::Dictionary EngineHost::version_info() const {
    if (custom_version_info_) {
        return version_info_;
    }
    return internal::version_info_dictionary(version_);
}

}  // namespace godot_standin
