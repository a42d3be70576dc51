#pragma once

#include <godot_cpp/classes/object.hpp>
#include <godot_cpp/variant/packed_string_array.hpp>
#include <godot_cpp/variant/string.hpp>

namespace godot {

// What the engine reports about the running process. Absent (null) when the
// engine host runs without it.
class OS : public Object {
    GDEXTENSION_CLASS(OS, Object)

public:
    static OS* get_singleton();

    PackedStringArray get_cmdline_args();
    String get_environment(const String& p_variable) const;
    String get_executable_path() const;
};

}  // namespace godot
