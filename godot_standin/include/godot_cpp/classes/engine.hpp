#pragma once

#include <godot_cpp/classes/object.hpp>
#include <godot_cpp/variant/dictionary.hpp>

namespace godot {

// What the engine reports about itself. Absent (null) when the engine host
// runs without it.
class Engine : public Object {
    GDEXTENSION_CLASS(Engine, Object)

public:
    static Engine* get_singleton();

    Dictionary get_version_info() const;
};

}  // namespace godot
