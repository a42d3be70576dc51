#pragma once

#include <type_traits>

#include <godot_cpp/classes/object.hpp>
#include <godot_cpp/core/class_db.hpp>

namespace godot {

class Node : public Object {
    GDEXTENSION_CLASS(Node, Object)

public:
    Node() = default;

    // Called when the node leaves the scene tree (only when a class overrides it).
    virtual void _exit_tree() {}

    template <typename T, typename B>
    static void register_virtuals() {
        Object::register_virtuals<T, B>();
        if constexpr (!std::is_same_v<decltype(&B::_exit_tree), decltype(&T::_exit_tree)>) {
            ClassDB::bind_virtual_method(T::get_class_static(), "_exit_tree");
        }
    }
};

}  // namespace godot
