#pragma once

#include <string>
#include <type_traits>

#include <godot_cpp/variant/string_name.hpp>
#include <godot_cpp/variant/variant.hpp>

namespace godot {

// The engine type of a bound argument or result. Enums travel as INT.
template <typename T>
struct GetTypeInfo {
    static constexpr Variant::Type VARIANT_TYPE =
        std::is_enum_v<T> ? Variant::INT : Variant::NIL;  // NIL: any value (Variant)
};

#define GODOT_STANDIN_TYPE_INFO(m_type, m_variant_type)               \
    template <>                                                       \
    struct GetTypeInfo<m_type> {                                      \
        static constexpr Variant::Type VARIANT_TYPE = m_variant_type; \
    };

GODOT_STANDIN_TYPE_INFO(bool, Variant::BOOL)
GODOT_STANDIN_TYPE_INFO(int8_t, Variant::INT)
GODOT_STANDIN_TYPE_INFO(int16_t, Variant::INT)
GODOT_STANDIN_TYPE_INFO(int32_t, Variant::INT)
GODOT_STANDIN_TYPE_INFO(int64_t, Variant::INT)
GODOT_STANDIN_TYPE_INFO(uint8_t, Variant::INT)
GODOT_STANDIN_TYPE_INFO(uint16_t, Variant::INT)
GODOT_STANDIN_TYPE_INFO(uint32_t, Variant::INT)
GODOT_STANDIN_TYPE_INFO(uint64_t, Variant::INT)
GODOT_STANDIN_TYPE_INFO(float, Variant::FLOAT)
GODOT_STANDIN_TYPE_INFO(double, Variant::FLOAT)
GODOT_STANDIN_TYPE_INFO(String, Variant::STRING)
GODOT_STANDIN_TYPE_INFO(StringName, Variant::STRING_NAME)
GODOT_STANDIN_TYPE_INFO(Dictionary, Variant::DICTIONARY)
GODOT_STANDIN_TYPE_INFO(Array, Variant::ARRAY)
GODOT_STANDIN_TYPE_INFO(PackedByteArray, Variant::PACKED_BYTE_ARRAY)
GODOT_STANDIN_TYPE_INFO(PackedInt32Array, Variant::PACKED_INT32_ARRAY)
GODOT_STANDIN_TYPE_INFO(PackedStringArray, Variant::PACKED_STRING_ARRAY)
GODOT_STANDIN_TYPE_INFO(Variant, Variant::NIL)

#undef GODOT_STANDIN_TYPE_INFO

template <typename T>
constexpr Variant::Type variant_type_of() {
    return GetTypeInfo<std::remove_cv_t<std::remove_reference_t<T>>>::VARIANT_TYPE;
}

// A C++ value as an engine value; enums travel as their integer.
template <typename T>
Variant to_variant(const T& p_value) {
    if constexpr (std::is_enum_v<T>) {
        return Variant(static_cast<int64_t>(p_value));
    } else {
        return Variant(p_value);
    }
}

// An engine value as the C++ type a bound method takes.
template <typename T, typename Bare = std::remove_cv_t<std::remove_reference_t<T>>>
Bare from_variant(const Variant& p_value) {
    if constexpr (std::is_enum_v<Bare>) {
        return static_cast<Bare>(static_cast<int64_t>(p_value));
    } else if constexpr (std::is_same_v<Bare, Variant>) {
        return p_value;
    } else {
        return static_cast<Bare>(p_value);
    }
}

// The name under which the engine lists an enum; VARIANT_ENUM_CAST provides it.
template <typename T>
struct EnumQualifiedName {
    static constexpr const char* value = nullptr;
};

namespace internal {
// "ns::Class::Enum" becomes "Class.Enum"; an enum outside a class keeps its name.
std::string enum_class_info_name(const char* p_qualified_name);
void report_missing_enum_cast(const StringName& p_constant);
}  // namespace internal

template <typename T>
StringName _gde_constant_get_enum_name(T, const StringName& p_constant) {
    if (EnumQualifiedName<T>::value == nullptr) {
        internal::report_missing_enum_cast(p_constant);
        return StringName();
    }
    return StringName(
        String::utf8(internal::enum_class_info_name(EnumQualifiedName<T>::value).c_str()));
}

}  // namespace godot

#define VARIANT_ENUM_CAST(m_enum)                     \
    namespace godot {                                 \
    template <>                                       \
    struct EnumQualifiedName<m_enum> {                \
        static constexpr const char* value = #m_enum; \
    };                                                \
    }
