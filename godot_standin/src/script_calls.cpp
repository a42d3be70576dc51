#include "script_calls.hpp"

#include <godot_standin/class_records.hpp>

namespace godot {
namespace internal {

std::string to_utf8(const String& p_text) {
    const CharString bytes = p_text.utf8();
    return std::string(bytes.get_data(), static_cast<size_t>(bytes.length()));
}

bool can_convert_strict(Variant::Type p_from, Variant::Type p_to) {
    if (p_to == Variant::NIL || p_from == p_to) {
        return true;
    }
    switch (p_to) {
        case Variant::BOOL:
            return p_from == Variant::INT || p_from == Variant::FLOAT;
        case Variant::INT:
            return p_from == Variant::BOOL || p_from == Variant::FLOAT;
        case Variant::FLOAT:
            return p_from == Variant::BOOL || p_from == Variant::INT;
        case Variant::STRING:
            return p_from == Variant::STRING_NAME;
        case Variant::STRING_NAME:
            return p_from == Variant::STRING;
        case Variant::ARRAY:
            return p_from == Variant::PACKED_BYTE_ARRAY || p_from == Variant::PACKED_INT32_ARRAY ||
                   p_from == Variant::PACKED_STRING_ARRAY;
        case Variant::PACKED_BYTE_ARRAY:
        case Variant::PACKED_INT32_ARRAY:
        case Variant::PACKED_STRING_ARRAY:
            return p_from == Variant::ARRAY;
        default:
            return false;
    }
}

Variant call_method(Object* p_object, const StringName& p_method,
                    const std::vector<Variant>& p_arguments, std::string& r_error) {
    r_error.clear();
    const std::string name = to_utf8(p_method);
    const std::string base = to_utf8(p_object->get_class());
    const MethodBind* bind = godot_standin::find_method(p_object->get_class(), p_method);
    if (bind == nullptr) {
        r_error = "Invalid call. Nonexistent function '" + name + "' in base '" + base + "'.";
        return Variant();
    }
    const size_t total = static_cast<size_t>(bind->get_argument_count());
    const std::vector<Variant>& defaults = bind->get_default_arguments();
    const size_t required = total - defaults.size();
    if (p_arguments.size() > total) {
        r_error = "Too many arguments for \"" + name + "()\" call. Expected at most " +
                  std::to_string(total) + " but received " + std::to_string(p_arguments.size()) +
                  ".";
        return Variant();
    }
    if (p_arguments.size() < required) {
        r_error = "Too few arguments for \"" + name + "()\" call. Expected at least " +
                  std::to_string(required) + " but received " + std::to_string(p_arguments.size()) +
                  ".";
        return Variant();
    }
    for (size_t i = 0; i < p_arguments.size(); ++i) {
        const Variant::Type expected = bind->get_argument_type(static_cast<int>(i));
        const Variant::Type actual = p_arguments[i].get_type();
        if (!can_convert_strict(actual, expected)) {
            r_error = "Invalid type in function '" + name + "' in base '" + base +
                      "'. Cannot convert argument " + std::to_string(i + 1) + " from " +
                      to_utf8(Variant::get_type_name(actual)) + " to " +
                      to_utf8(Variant::get_type_name(expected)) + ".";
            return Variant();
        }
    }
    std::vector<Variant> arguments = p_arguments;
    for (size_t i = arguments.size(); i < total; ++i) {
        arguments.push_back(defaults[i - required]);
    }
    return bind->call(p_object, arguments);
}

}  // namespace internal
}  // namespace godot
