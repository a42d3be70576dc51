#pragma once

#include <godot_cpp/variant/packed_array.hpp>
#include <godot_cpp/variant/string.hpp>

namespace godot {

class PackedStringArray : public internal::PackedArray<String> {};

}  // namespace godot
