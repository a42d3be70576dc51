#pragma once

#include <memory>
#include <vector>

#include <godot_standin/class_records.hpp>

namespace godot_standin {
namespace internal {

// The class database: the engine's own classes first, then what libraries
// register, in order.
class ClassRegistry {
public:
    static ClassRegistry& get();

    ClassRecord* find(const godot::StringName& p_class);
    ClassRecord& add(std::unique_ptr<ClassRecord> p_record);
    std::vector<godot::StringName> extension_classes() const;
    // Removes the library classes registered at p_level.
    void remove_level(int p_level);

    // The level that registrations happen at now (set while a level runs).
    int current_level = 0;

private:
    ClassRegistry();

    std::vector<std::unique_ptr<ClassRecord>> records_;
};

}  // namespace internal
}  // namespace godot_standin
