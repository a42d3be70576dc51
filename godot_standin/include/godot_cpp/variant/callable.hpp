#pragma once

#include <memory>
#include <vector>

#include <godot_cpp/variant/string_name.hpp>

namespace godot_standin {
struct CallableFactory;
}

namespace godot {

class Object;
class Variant;

// Something a signal can call: a method of an object, named as a script names
// it, or (for the engine host) a function of the host.
class Callable {
public:
    Callable() = default;
    Callable(Object* p_object, const StringName& p_method);

    bool is_null() const { return !target_; }
    bool is_valid() const;
    // Calls the target; a method target is called the way a script calls it.
    void call_with(const std::vector<Variant>& p_arguments) const;

    // Two method callables are equal when they name the same object and method.
    bool operator==(const Callable& p_other) const;

    struct Target;

private:
    friend struct godot_standin::CallableFactory;
    explicit Callable(std::shared_ptr<const Target> p_target) : target_(std::move(p_target)) {}

    std::shared_ptr<const Target> target_;
};

}  // namespace godot
