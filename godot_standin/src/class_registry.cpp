#include "class_registry.hpp"

#include <algorithm>

#include <godot_cpp/classes/multiplayer_peer.hpp>

namespace godot_standin {
namespace internal {
namespace {

std::unique_ptr<ClassRecord> engine_class(const char* p_name, const char* p_parent) {
    auto record = std::make_unique<ClassRecord>();
    record->name = p_name;
    record->parent = p_parent;
    return record;
}

void add_enum(ClassRecord& r_record, const char* p_enum,
              std::initializer_list<std::pair<const char*, int64_t>> p_values) {
    for (const auto& value : p_values) {
        r_record.constants.push_back(ConstantRecord{p_enum, value.first, value.second, false});
    }
}

}  // namespace

ClassRegistry& ClassRegistry::get() {
    static ClassRegistry registry;
    return registry;
}

// The engine's classes this library builds on, with the members it uses.
ClassRegistry::ClassRegistry() {
    using godot::PropertyInfo;
    using godot::Variant;
    records_.push_back(engine_class("Object", ""));
    records_.push_back(engine_class("Node", "Object"));
    auto peer = engine_class("MultiplayerPeer", "Object");
    peer->signals.push_back(godot::MethodInfo("peer_connected", PropertyInfo(Variant::INT, "id")));
    peer->signals.push_back(
        godot::MethodInfo("peer_disconnected", PropertyInfo(Variant::INT, "id")));
    add_enum(*peer, "MultiplayerPeer.ConnectionStatus",
             {{"CONNECTION_DISCONNECTED", 0},
              {"CONNECTION_CONNECTING", 1},
              {"CONNECTION_CONNECTED", 2}});
    add_enum(*peer, "MultiplayerPeer.TransferMode",
             {{"TRANSFER_MODE_UNRELIABLE", 0},
              {"TRANSFER_MODE_UNRELIABLE_ORDERED", 1},
              {"TRANSFER_MODE_RELIABLE", 2}});
    add_enum(*peer, "", {{"TARGET_PEER_BROADCAST", 0}, {"TARGET_PEER_SERVER", 1}});
    records_.push_back(std::move(peer));
    records_.push_back(engine_class("MultiplayerPeerExtension", "MultiplayerPeer"));
}

ClassRecord* ClassRegistry::find(const godot::StringName& p_class) {
    for (const auto& record : records_) {
        if (record->name == p_class) {
            return record.get();
        }
    }
    return nullptr;
}

ClassRecord& ClassRegistry::add(std::unique_ptr<ClassRecord> p_record) {
    records_.push_back(std::move(p_record));
    return *records_.back();
}

std::vector<godot::StringName> ClassRegistry::extension_classes() const {
    std::vector<godot::StringName> names;
    for (const auto& record : records_) {
        if (record->is_extension) {
            names.push_back(record->name);
        }
    }
    return names;
}

void ClassRegistry::remove_level(int p_level) {
    records_.erase(std::remove_if(records_.begin(), records_.end(),
                                  [p_level](const std::unique_ptr<ClassRecord>& record) {
                                      return record->is_extension && record->level == p_level;
                                  }),
                   records_.end());
}

}  // namespace internal

const godot::MethodBind* ClassRecord::method(const godot::StringName& p_name) const {
    for (const auto& bind : methods) {
        if (bind->get_name() == p_name) {
            return bind.get();
        }
    }
    return nullptr;
}

const godot::MethodInfo* ClassRecord::signal(const godot::StringName& p_name) const {
    for (const auto& info : signals) {
        if (info.name == p_name) {
            return &info;
        }
    }
    return nullptr;
}

const PropertyRecord* ClassRecord::property(const godot::StringName& p_name) const {
    for (const auto& record : properties) {
        if (record.info.name == p_name) {
            return &record;
        }
    }
    return nullptr;
}

const ConstantRecord* ClassRecord::constant(const godot::StringName& p_name) const {
    for (const auto& record : constants) {
        if (record.name == p_name) {
            return &record;
        }
    }
    return nullptr;
}

bool ClassRecord::overrides(const godot::StringName& p_virtual) const {
    return std::find(virtuals.begin(), virtuals.end(), p_virtual) != virtuals.end();
}

const ClassRecord* find_class(const godot::StringName& p_class) {
    return internal::ClassRegistry::get().find(p_class);
}

std::vector<godot::StringName> extension_classes() {
    return internal::ClassRegistry::get().extension_classes();
}

namespace {

// Calls p_visit on p_class and its ancestors until it returns non-null.
template <typename Result, typename Visit>
Result walk(const godot::StringName& p_class, Visit p_visit) {
    const ClassRecord* record = find_class(p_class);
    // The depth bound guards against a parent chain that loops.
    for (int depth = 0; record != nullptr && depth < 64; ++depth) {
        if (Result result = p_visit(*record)) {
            return result;
        }
        record = record->parent.is_empty() ? nullptr : find_class(record->parent);
    }
    return Result();
}

}  // namespace

bool inherits(const godot::StringName& p_class, const godot::StringName& p_ancestor) {
    return walk<bool>(p_class, [&](const ClassRecord& r) { return r.name == p_ancestor; });
}

const godot::MethodBind* find_method(const godot::StringName& p_class,
                                     const godot::StringName& p_method) {
    return walk<const godot::MethodBind*>(p_class,
                                          [&](const ClassRecord& r) { return r.method(p_method); });
}

const godot::MethodInfo* find_signal(const godot::StringName& p_class,
                                     const godot::StringName& p_signal) {
    return walk<const godot::MethodInfo*>(p_class,
                                          [&](const ClassRecord& r) { return r.signal(p_signal); });
}

const PropertyRecord* find_property(const godot::StringName& p_class,
                                    const godot::StringName& p_property) {
    return walk<const PropertyRecord*>(
        p_class, [&](const ClassRecord& r) { return r.property(p_property); });
}

const ConstantRecord* find_constant(const godot::StringName& p_class,
                                    const godot::StringName& p_constant) {
    return walk<const ConstantRecord*>(
        p_class, [&](const ClassRecord& r) { return r.constant(p_constant); });
}

bool overrides_virtual(const godot::StringName& p_class, const godot::StringName& p_virtual) {
    return walk<bool>(p_class, [&](const ClassRecord& r) { return r.overrides(p_virtual); });
}

}  // namespace godot_standin
