#pragma once

#include <functional>
#include <vector>

#include <godot_cpp/variant/callable.hpp>

namespace godot_standin {

// Makes callables that run a function of the engine host.
struct CallableFactory {
    using Function = std::function<void(const std::vector<godot::Variant>&)>;
    static godot::Callable from_function(Function p_function);
};

}  // namespace godot_standin
