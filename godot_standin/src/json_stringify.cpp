#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <godot_cpp/classes/json.hpp>

#include "engine_errors.hpp"
#include "number_text.hpp"
#include "text_quote.hpp"

namespace godot {
namespace {

class JsonWriter {
public:
    JsonWriter(const String& p_indent, bool p_sort_keys, bool p_full_precision)
        : indent_(p_indent), sort_keys_(p_sort_keys), full_precision_(p_full_precision) {}

    String write(const Variant& p_value, int p_level) {
        const Variant::Storage& value = p_value.storage();
        switch (p_value.get_type()) {
            case Variant::NIL:
                return "null";
            case Variant::BOOL:
                return std::get<bool>(value) ? "true" : "false";
            case Variant::INT:
                return String(std::to_string(std::get<int64_t>(value)).c_str());
            case Variant::FLOAT:
                return number(std::get<double>(value));
            case Variant::ARRAY:
            case Variant::PACKED_BYTE_ARRAY:
            case Variant::PACKED_INT32_ARRAY:
            case Variant::PACKED_STRING_ARRAY:
                return array(static_cast<Array>(p_value), p_level);
            case Variant::DICTIONARY:
                return dictionary(std::get<Dictionary>(value), p_level);
            default:
                return internal::quote_for_json(p_value.stringify());
        }
    }

private:
    String number(double p_value) const {
        if (full_precision_ && std::isfinite(p_value)) {
            char text[64];
            std::snprintf(text, sizeof(text), "%.17g", p_value);
            String out(text);
            bool integral = true;
            for (char32_t c : out.code_points()) {
                integral = integral && c != '.' && c != 'e' && c != 'n' && c != 'i';
            }
            return integral ? out + ".0" : out;
        }
        return String(internal::float_to_text(p_value).c_str());
    }

    String array(const Array& p_array, int p_level) {
        if (!enter(p_array.id())) {
            internal::report_engine_error("Converting circular structure to JSON.",
                                          "JSON::stringify");
            return "[...]";
        }
        if (p_array.is_empty()) {
            leave();
            return "[]";
        }
        String out = "[";
        for (int64_t i = 0; i < p_array.size(); ++i) {
            if (i > 0) {
                out += ",";
            }
            out += line_break() + indentation(p_level + 1) + write(p_array[i], p_level + 1);
        }
        out += line_break() + indentation(p_level) + "]";
        leave();
        return out;
    }

    String dictionary(const Dictionary& p_dictionary, int p_level) {
        if (!enter(p_dictionary.id())) {
            internal::report_engine_error("Converting circular structure to JSON.",
                                          "JSON::stringify");
            return "{...}";
        }
        const Array keys = p_dictionary.keys();
        std::vector<std::pair<String, Variant>> entries;
        for (int64_t i = 0; i < keys.size(); ++i) {
            entries.emplace_back(keys[i].stringify(), p_dictionary[keys[i]]);
        }
        if (sort_keys_) {
            std::stable_sort(entries.begin(), entries.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        }
        if (entries.empty()) {
            leave();
            return "{}";
        }
        const String colon = indent_.is_empty() ? ":" : ": ";
        String out = "{";
        for (size_t i = 0; i < entries.size(); ++i) {
            if (i > 0) {
                out += ",";
            }
            out += line_break() + indentation(p_level + 1) +
                   internal::quote_for_json(entries[i].first) + colon +
                   write(entries[i].second, p_level + 1);
        }
        out += line_break() + indentation(p_level) + "}";
        leave();
        return out;
    }

    String line_break() const { return indent_.is_empty() ? "" : "\n"; }
    String indentation(int p_level) const {
        String out;
        for (int i = 0; i < p_level; ++i) {
            out += indent_;
        }
        return out;
    }

    // A container that holds itself would never end; the engine writes a
    // marker instead.
    bool enter(const void* p_container) {
        if (std::find(open_.begin(), open_.end(), p_container) != open_.end()) {
            return false;
        }
        open_.push_back(p_container);
        return true;
    }
    void leave() { open_.pop_back(); }

    String indent_;
    bool sort_keys_;
    bool full_precision_;
    std::vector<const void*> open_;
};

}  // namespace

String JSON::stringify(const Variant& p_data, const String& p_indent, bool p_sort_keys,
                       bool p_full_precision) {
    return JsonWriter(p_indent, p_sort_keys, p_full_precision).write(p_data, 0);
}

}  // namespace godot
