#include "text_quote.hpp"

namespace godot {
namespace internal {

String quote_for_json(const String& p_text) {
    std::u32string out = U"\"";
    for (char32_t c : p_text.code_points()) {
        switch (c) {
            case U'\\':
                out += U"\\\\";
                break;
            case U'"':
                out += U"\\\"";
                break;
            case U'\b':
                out += U"\\b";
                break;
            case U'\f':
                out += U"\\f";
                break;
            case U'\n':
                out += U"\\n";
                break;
            case U'\r':
                out += U"\\r";
                break;
            case U'\t':
                out += U"\\t";
                break;
            case U'\v':
                out += U"\\v";
                break;
            default:
                out += c;
                break;
        }
    }
    out += U'"';
    return String::from_code_points(std::move(out));
}

}  // namespace internal
}  // namespace godot
