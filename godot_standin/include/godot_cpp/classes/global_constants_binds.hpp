#pragma once

// Engine names of the global enums, for methods that take or return them.
// Kept apart from global_constants.hpp, which declares the values alone.

#include <godot_cpp/classes/global_constants.hpp>
#include <godot_cpp/core/type_info.hpp>

VARIANT_ENUM_CAST(Error);
