#pragma once

#include <cstdint>

#include <godot_cpp/variant/packed_array.hpp>

namespace godot {

class PackedInt32Array : public internal::PackedArray<int32_t> {};

}  // namespace godot
