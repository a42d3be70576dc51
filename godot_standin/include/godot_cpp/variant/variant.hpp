#pragma once

#include <cstdint>
#include <variant>

#include <godot_cpp/variant/array.hpp>
#include <godot_cpp/variant/dictionary.hpp>
#include <godot_cpp/variant/packed_byte_array.hpp>
#include <godot_cpp/variant/packed_int32_array.hpp>
#include <godot_cpp/variant/packed_string_array.hpp>
#include <godot_cpp/variant/string.hpp>
#include <godot_cpp/variant/string_name.hpp>

namespace godot {

// The engine's dynamic value. Dictionary and Array values are shared
// references; every other kind is copied.
class Variant {
public:
    // The engine's numbering; only some kinds can be held here.
    enum Type {
        NIL,
        BOOL,
        INT,
        FLOAT,
        STRING,
        VECTOR2,
        VECTOR2I,
        RECT2,
        RECT2I,
        VECTOR3,
        VECTOR3I,
        TRANSFORM2D,
        VECTOR4,
        VECTOR4I,
        PLANE,
        QUATERNION,
        AABB,
        BASIS,
        TRANSFORM3D,
        PROJECTION,
        COLOR,
        STRING_NAME,
        NODE_PATH,
        RID,
        OBJECT,
        CALLABLE,
        SIGNAL,
        DICTIONARY,
        ARRAY,
        PACKED_BYTE_ARRAY,
        PACKED_INT32_ARRAY,
        PACKED_INT64_ARRAY,
        PACKED_FLOAT32_ARRAY,
        PACKED_FLOAT64_ARRAY,
        PACKED_STRING_ARRAY,
        PACKED_VECTOR2_ARRAY,
        PACKED_VECTOR3_ARRAY,
        PACKED_COLOR_ARRAY,
        PACKED_VECTOR4_ARRAY,
        VARIANT_MAX
    };

    Variant() = default;
    Variant(bool p_value) : value_(p_value) {}
    Variant(int64_t p_value) : value_(p_value) {}
    Variant(int32_t p_value) : value_(static_cast<int64_t>(p_value)) {}
    Variant(int16_t p_value) : value_(static_cast<int64_t>(p_value)) {}
    Variant(int8_t p_value) : value_(static_cast<int64_t>(p_value)) {}
    Variant(uint64_t p_value) : value_(static_cast<int64_t>(p_value)) {}
    Variant(uint32_t p_value) : value_(static_cast<int64_t>(p_value)) {}
    Variant(uint16_t p_value) : value_(static_cast<int64_t>(p_value)) {}
    Variant(uint8_t p_value) : value_(static_cast<int64_t>(p_value)) {}
    Variant(double p_value) : value_(p_value) {}
    Variant(float p_value) : value_(static_cast<double>(p_value)) {}
    Variant(const char* p_latin1) : value_(String(p_latin1)) {}
    Variant(const char32_t* p_text) : value_(String(p_text)) {}
    Variant(const String& p_value) : value_(p_value) {}
    Variant(const StringName& p_value) : value_(p_value) {}
    Variant(const Dictionary& p_value) : value_(p_value) {}
    Variant(const Array& p_value) : value_(p_value) {}
    Variant(const PackedByteArray& p_value) : value_(p_value) {}
    Variant(const PackedInt32Array& p_value) : value_(p_value) {}
    Variant(const PackedStringArray& p_value) : value_(p_value) {}

    Type get_type() const;
    static String get_type_name(Type p_type);

    // Conversions follow the engine: numbers convert among themselves, a
    // String reads as a number, anything converts to its text, and a kind
    // that does not convert gives the target's empty value.
    operator bool() const { return booleanize(); }
    operator int64_t() const;
    operator int32_t() const { return static_cast<int32_t>(operator int64_t()); }
    operator int16_t() const { return static_cast<int16_t>(operator int64_t()); }
    operator int8_t() const { return static_cast<int8_t>(operator int64_t()); }
    operator uint64_t() const { return static_cast<uint64_t>(operator int64_t()); }
    operator uint32_t() const { return static_cast<uint32_t>(operator int64_t()); }
    operator uint16_t() const { return static_cast<uint16_t>(operator int64_t()); }
    operator uint8_t() const { return static_cast<uint8_t>(operator int64_t()); }
    operator double() const;
    operator float() const { return static_cast<float>(operator double()); }
    operator String() const { return stringify(); }
    operator StringName() const { return StringName(stringify()); }
    operator Dictionary() const;
    operator Array() const;
    operator PackedByteArray() const;
    operator PackedInt32Array() const;
    operator PackedStringArray() const;

    bool booleanize() const;
    String stringify() const;

    // Deep comparison of the same kind: ints and floats compare by value,
    // containers by content.
    bool operator==(const Variant& p_other) const;
    bool operator!=(const Variant& p_other) const { return !(*this == p_other); }
    // Equality as a Dictionary key: the kinds must match exactly.
    bool same_key(const Variant& p_other) const;
    size_t key_hash() const;

    // Access for the rest of the stand-in.
    using Storage =
        std::variant<std::monostate, bool, int64_t, double, String, StringName, Dictionary, Array,
                     PackedByteArray, PackedInt32Array, PackedStringArray>;
    const Storage& storage() const { return value_; }

private:
    Storage value_;
};

}  // namespace godot
