#include <godot_cpp/variant/variant.hpp>

#include <cmath>
#include <functional>
#include <limits>

#include "number_text.hpp"
#include "text_quote.hpp"

namespace godot {
namespace {

// Storage index to engine type, in the order of Variant::Storage.
constexpr Variant::Type kTypes[] = {
    Variant::NIL,
    Variant::BOOL,
    Variant::INT,
    Variant::FLOAT,
    Variant::STRING,
    Variant::STRING_NAME,
    Variant::DICTIONARY,
    Variant::ARRAY,
    Variant::PACKED_BYTE_ARRAY,
    Variant::PACKED_INT32_ARRAY,
    Variant::PACKED_STRING_ARRAY,
};

int64_t float_to_int(double p_value) {
    if (std::isnan(p_value)) {
        return 0;
    }
    // Out-of-range values saturate instead of being undefined.
    if (p_value >= 9223372036854775807.0) {
        return std::numeric_limits<int64_t>::max();
    }
    if (p_value <= -9223372036854775808.0) {
        return std::numeric_limits<int64_t>::min();
    }
    return static_cast<int64_t>(p_value);
}

bool is_number(Variant::Type p_type) {
    return p_type == Variant::INT || p_type == Variant::FLOAT;
}

bool is_text(Variant::Type p_type) {
    return p_type == Variant::STRING || p_type == Variant::STRING_NAME;
}

}  // namespace

Variant::Type Variant::get_type() const {
    return kTypes[value_.index()];
}

String Variant::get_type_name(Type p_type) {
    switch (p_type) {
        case NIL:
            return "Nil";
        case BOOL:
            return "bool";
        case INT:
            return "int";
        case FLOAT:
            return "float";
        case STRING:
            return "String";
        case STRING_NAME:
            return "StringName";
        case OBJECT:
            return "Object";
        case CALLABLE:
            return "Callable";
        case DICTIONARY:
            return "Dictionary";
        case ARRAY:
            return "Array";
        case PACKED_BYTE_ARRAY:
            return "PackedByteArray";
        case PACKED_INT32_ARRAY:
            return "PackedInt32Array";
        case PACKED_STRING_ARRAY:
            return "PackedStringArray";
        default:
            return "";
    }
}

Variant::operator int64_t() const {
    switch (get_type()) {
        case BOOL:
            return std::get<bool>(value_) ? 1 : 0;
        case INT:
            return std::get<int64_t>(value_);
        case FLOAT:
            return float_to_int(std::get<double>(value_));
        case STRING:
            return internal::text_to_int(std::get<String>(value_).code_points());
        case STRING_NAME:
            return internal::text_to_int(std::get<StringName>(value_).text().code_points());
        default:
            return 0;
    }
}

Variant::operator double() const {
    switch (get_type()) {
        case BOOL:
            return std::get<bool>(value_) ? 1.0 : 0.0;
        case INT:
            return static_cast<double>(std::get<int64_t>(value_));
        case FLOAT:
            return std::get<double>(value_);
        case STRING:
            return internal::text_to_float(std::get<String>(value_).code_points());
        case STRING_NAME:
            return internal::text_to_float(std::get<StringName>(value_).text().code_points());
        default:
            return 0.0;
    }
}

Variant::operator Dictionary() const {
    if (const auto* dictionary = std::get_if<Dictionary>(&value_)) {
        return *dictionary;
    }
    return Dictionary();
}

Variant::operator Array() const {
    Array result;
    switch (get_type()) {
        case ARRAY:
            return std::get<Array>(value_);
        case PACKED_BYTE_ARRAY:
            for (uint8_t v : std::get<PackedByteArray>(value_).elements()) {
                result.push_back(Variant(v));
            }
            break;
        case PACKED_INT32_ARRAY:
            for (int32_t v : std::get<PackedInt32Array>(value_).elements()) {
                result.push_back(Variant(v));
            }
            break;
        case PACKED_STRING_ARRAY:
            for (const String& v : std::get<PackedStringArray>(value_).elements()) {
                result.push_back(Variant(v));
            }
            break;
        default:
            break;
    }
    return result;
}

namespace {

template <typename Packed, typename Element>
Packed packed_from(const Variant::Storage& p_value) {
    if (const auto* packed = std::get_if<Packed>(&p_value)) {
        return *packed;
    }
    Packed result;
    if (const auto* array = std::get_if<Array>(&p_value)) {
        for (int64_t i = 0; i < array->size(); ++i) {
            result.push_back(static_cast<Element>((*array)[i]));
        }
    }
    return result;
}

}  // namespace

Variant::operator PackedByteArray() const {
    return packed_from<PackedByteArray, uint8_t>(value_);
}

Variant::operator PackedInt32Array() const {
    return packed_from<PackedInt32Array, int32_t>(value_);
}

Variant::operator PackedStringArray() const {
    return packed_from<PackedStringArray, String>(value_);
}

bool Variant::booleanize() const {
    switch (get_type()) {
        case BOOL:
            return std::get<bool>(value_);
        case INT:
            return std::get<int64_t>(value_) != 0;
        case FLOAT:
            return std::get<double>(value_) != 0.0;
        case STRING:
            return !std::get<String>(value_).is_empty();
        case STRING_NAME:
            return !std::get<StringName>(value_).is_empty();
        case DICTIONARY:
            return !std::get<Dictionary>(value_).is_empty();
        case ARRAY:
            return !std::get<Array>(value_).is_empty();
        case PACKED_BYTE_ARRAY:
            return !std::get<PackedByteArray>(value_).is_empty();
        case PACKED_INT32_ARRAY:
            return !std::get<PackedInt32Array>(value_).is_empty();
        case PACKED_STRING_ARRAY:
            return !std::get<PackedStringArray>(value_).is_empty();
        default:
            return false;
    }
}

namespace {

class Stringifier {
public:
    String text(const Variant& p_value, bool p_quote_strings) {
        const Variant::Storage& value = p_value.storage();
        switch (p_value.get_type()) {
            case Variant::NIL:
                return "<null>";
            case Variant::BOOL:
                return std::get<bool>(value) ? "true" : "false";
            case Variant::INT:
                return String(std::to_string(std::get<int64_t>(value)).c_str());
            case Variant::FLOAT:
                return String(internal::float_to_text(std::get<double>(value)).c_str());
            case Variant::STRING:
            case Variant::STRING_NAME: {
                String plain = p_value.get_type() == Variant::STRING
                                   ? std::get<String>(value)
                                   : std::get<StringName>(value).text();
                return p_quote_strings ? internal::quote_for_display(plain) : plain;
            }
            case Variant::DICTIONARY:
                return dictionary(std::get<Dictionary>(value));
            case Variant::ARRAY:
            case Variant::PACKED_BYTE_ARRAY:
            case Variant::PACKED_INT32_ARRAY:
            case Variant::PACKED_STRING_ARRAY:
                return array(static_cast<Array>(p_value));
            default:
                return "";
        }
    }

private:
    String array(const Array& p_array) {
        if (!enter(p_array.id())) {
            return "[...]";
        }
        String out = "[";
        for (int64_t i = 0; i < p_array.size(); ++i) {
            if (i > 0) {
                out += ", ";
            }
            out += text(p_array[i], true);
        }
        leave();
        return out + "]";
    }

    String dictionary(const Dictionary& p_dictionary) {
        if (!enter(p_dictionary.id())) {
            return "{...}";
        }
        if (p_dictionary.is_empty()) {
            leave();
            return "{}";
        }
        String out = "{ ";
        const Array keys = p_dictionary.keys();
        for (int64_t i = 0; i < keys.size(); ++i) {
            if (i > 0) {
                out += ", ";
            }
            out += text(keys[i], true) + ": " + text(p_dictionary[keys[i]], true);
        }
        leave();
        return out + " }";
    }

    bool enter(const void* p_container) {
        for (const void* open : open_) {
            if (open == p_container) {
                return false;
            }
        }
        open_.push_back(p_container);
        return true;
    }
    void leave() { open_.pop_back(); }

    std::vector<const void*> open_;
};

}  // namespace

String Variant::stringify() const {
    return Stringifier().text(*this, false);
}

namespace {

constexpr int kMaxCompareDepth = 256;

bool equal(const Variant& p_a, const Variant& p_b, int p_depth);

bool arrays_equal(const Array& p_a, const Array& p_b, int p_depth) {
    if (p_a.is_same_instance(p_b)) {
        return true;
    }
    if (p_a.size() != p_b.size()) {
        return false;
    }
    for (int64_t i = 0; i < p_a.size(); ++i) {
        if (!equal(p_a[i], p_b[i], p_depth + 1)) {
            return false;
        }
    }
    return true;
}

bool dictionaries_equal(const Dictionary& p_a, const Dictionary& p_b, int p_depth) {
    if (p_a.is_same_instance(p_b)) {
        return true;
    }
    if (p_a.size() != p_b.size()) {
        return false;
    }
    const Array keys = p_a.keys();
    for (int64_t i = 0; i < keys.size(); ++i) {
        if (!p_b.has(keys[i]) || !equal(p_a[keys[i]], p_b[keys[i]], p_depth + 1)) {
            return false;
        }
    }
    return true;
}

bool equal(const Variant& p_a, const Variant& p_b, int p_depth) {
    if (p_depth > kMaxCompareDepth) {
        return false;
    }
    const Variant::Type a = p_a.get_type();
    const Variant::Type b = p_b.get_type();
    if (is_number(a) && is_number(b)) {
        if (a == Variant::INT && b == Variant::INT) {
            return std::get<int64_t>(p_a.storage()) == std::get<int64_t>(p_b.storage());
        }
        return static_cast<double>(p_a) == static_cast<double>(p_b);
    }
    if (is_text(a) && is_text(b)) {
        return p_a.stringify() == p_b.stringify();
    }
    if (a != b) {
        return false;
    }
    switch (a) {
        case Variant::DICTIONARY:
            return dictionaries_equal(std::get<Dictionary>(p_a.storage()),
                                      std::get<Dictionary>(p_b.storage()), p_depth);
        case Variant::ARRAY:
            return arrays_equal(std::get<Array>(p_a.storage()), std::get<Array>(p_b.storage()),
                                p_depth);
        default:
            return p_a.storage() == p_b.storage();
    }
}

}  // namespace

bool Variant::operator==(const Variant& p_other) const {
    return equal(*this, p_other, 0);
}

bool Variant::same_key(const Variant& p_other) const {
    if (get_type() != p_other.get_type()) {
        return false;
    }
    if (get_type() == FLOAT) {
        const double a = std::get<double>(value_);
        const double b = std::get<double>(p_other.value_);
        return a == b || (std::isnan(a) && std::isnan(b));
    }
    return *this == p_other;
}

size_t Variant::key_hash() const {
    const size_t kind = static_cast<size_t>(get_type()) * 0x9E3779B97F4A7C15ull;
    switch (get_type()) {
        case BOOL:
            return kind ^ std::hash<bool>()(std::get<bool>(value_));
        case INT:
            return kind ^ std::hash<int64_t>()(std::get<int64_t>(value_));
        case FLOAT: {
            const double v = std::get<double>(value_);
            if (std::isnan(v)) {
                return kind;
            }
            return kind ^ std::hash<double>()(v == 0.0 ? 0.0 : v);
        }
        case STRING:
            return kind ^ std::hash<std::u32string>()(std::get<String>(value_).code_points());
        case STRING_NAME:
            return kind ^
                   std::hash<std::u32string>()(std::get<StringName>(value_).text().code_points());
        default:
            return kind;
    }
}

}  // namespace godot
