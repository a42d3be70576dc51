#pragma once

#include <string>
#include <vector>

#include <godot_cpp/classes/object.hpp>
#include <godot_cpp/variant/variant.hpp>

namespace godot {
namespace internal {

// Whether a script may pass a value of kind p_from where p_to is declared
// (NIL declared: any value).
bool can_convert_strict(Variant::Type p_from, Variant::Type p_to);

// Calls a bound method by name the way a script does: defaults fill the
// missing trailing arguments; a wrong count, a kind that does not convert or
// an unknown method leaves a message in r_error and gives nil.
Variant call_method(Object* p_object, const StringName& p_method,
                    const std::vector<Variant>& p_arguments, std::string& r_error);

std::string to_utf8(const String& p_text);

}  // namespace internal
}  // namespace godot
