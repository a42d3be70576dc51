#pragma once

#include <cstdint>

#include <godot_cpp/variant/packed_array.hpp>

namespace godot {

class PackedByteArray : public internal::PackedArray<uint8_t> {};

}  // namespace godot
