#include <godot_cpp/core/object.hpp>

#include <atomic>
#include <mutex>
#include <unordered_map>

#include <godot_standin/class_records.hpp>
#include <godot_standin/engine_host.hpp>

#include "engine_errors.hpp"
#include "script_calls.hpp"

namespace godot {
namespace {

struct Instances {
    std::mutex mutex;
    std::unordered_map<uint64_t, Object*> by_id;
};

Instances& instances() {
    static Instances registry;
    return registry;
}

uint64_t next_instance_id() {
    // Large, never-reused numbers, like the engine's ids.
    static std::atomic<uint64_t> counter{0x100000000ull};
    return ++counter;
}

std::string quoted(const StringName& p_name) {
    return "\"" + internal::to_utf8(p_name) + "\"";
}

}  // namespace

const StringName& Object::get_class_static() {
    static const StringName name("Object");
    return name;
}

const StringName& Object::get_parent_class_static() {
    static const StringName name;
    return name;
}

Object::Object() : instance_id_(next_instance_id()) {
    std::lock_guard<std::mutex> lock(instances().mutex);
    instances().by_id[instance_id_] = this;
}

Object::~Object() {
    std::lock_guard<std::mutex> lock(instances().mutex);
    instances().by_id.erase(instance_id_);
}

Object* ObjectDB::get_instance(uint64_t p_object_id) {
    std::lock_guard<std::mutex> lock(instances().mutex);
    auto it = instances().by_id.find(p_object_id);
    return it == instances().by_id.end() ? nullptr : it->second;
}

bool Object::is_class(const String& p_class) const {
    return godot_standin::inherits(get_class(), StringName(p_class));
}

Error Object::connect(const StringName& p_signal, const Callable& p_callable, uint32_t p_flags) {
    if (godot_standin::find_signal(get_class(), p_signal) == nullptr) {
        internal::record_engine_error(godot_standin::ErrorKind::Signal,
                                      "In Object of type '" + internal::to_utf8(get_class()) +
                                          "': Attempt to connect nonexistent signal " +
                                          quoted(p_signal) + ".",
                                      "Object::connect");
        return ERR_INVALID_PARAMETER;
    }
    if (p_callable.is_null() || is_connected(p_signal, p_callable)) {
        internal::record_engine_error(godot_standin::ErrorKind::Signal,
                                      "Signal " + quoted(p_signal) +
                                          " cannot be connected: the callable is null or "
                                          "already connected.",
                                      "Object::connect");
        return ERR_INVALID_PARAMETER;
    }
    connections_.push_back(Connection{p_signal, p_callable, p_flags});
    return OK;
}

void Object::disconnect(const StringName& p_signal, const Callable& p_callable) {
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->signal == p_signal && it->callable == p_callable) {
            connections_.erase(it);
            return;
        }
    }
}

bool Object::is_connected(const StringName& p_signal, const Callable& p_callable) const {
    for (const Connection& connection : connections_) {
        if (connection.signal == p_signal && connection.callable == p_callable) {
            return true;
        }
    }
    return false;
}

Error Object::emit_signal_with(const StringName& p_signal,
                               const std::vector<Variant>& p_arguments) {
    const MethodInfo* declared = godot_standin::find_signal(get_class(), p_signal);
    if (declared == nullptr) {
        internal::record_engine_error(godot_standin::ErrorKind::Signal,
                                      "Can't emit non-existing signal " + quoted(p_signal) +
                                          " on an object of type '" +
                                          internal::to_utf8(get_class()) + "'.",
                                      "Object::emit_signal");
        return ERR_UNAVAILABLE;
    }
    if (declared->arguments.size() != p_arguments.size()) {
        internal::record_engine_error(godot_standin::ErrorKind::Signal,
                                      "Signal " + quoted(p_signal) + " declares " +
                                          std::to_string(declared->arguments.size()) +
                                          " arguments but was emitted with " +
                                          std::to_string(p_arguments.size()) + ".",
                                      "Object::emit_signal");
    } else {
        for (size_t i = 0; i < p_arguments.size(); ++i) {
            const Variant::Type expected = declared->arguments[i].type;
            const Variant::Type actual = p_arguments[i].get_type();
            if (!internal::can_convert_strict(actual, expected)) {
                internal::record_engine_error(
                    godot_standin::ErrorKind::Signal,
                    "Signal " + quoted(p_signal) + " argument " + std::to_string(i + 1) + " (" +
                        internal::to_utf8(declared->arguments[i].name) + ") is declared " +
                        internal::to_utf8(Variant::get_type_name(expected)) +
                        " but was emitted as " + internal::to_utf8(Variant::get_type_name(actual)) +
                        ".",
                    "Object::emit_signal");
            }
        }
    }
    // Handlers may connect, disconnect or emit again; they see a snapshot.
    const std::vector<Connection> snapshot = connections_;
    for (const Connection& connection : snapshot) {
        if (connection.signal == p_signal) {
            connection.callable.call_with(p_arguments);
        }
    }
    return OK;
}

}  // namespace godot
