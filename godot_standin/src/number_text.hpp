#pragma once

#include <cstdint>
#include <string>

namespace godot {
namespace internal {

// A float the way the engine writes it: 0 as "0.0", otherwise
// max(1, 14 - floor(log10|x|)) digits after the point with trailing zeros
// removed down to one; "nan", "inf" and "-inf" for the special values.
std::string float_to_text(double p_value);

// The engine's lenient reading of a leading number in a text (used when a
// String converts to a number): what does not parse reads as 0.
int64_t text_to_int(const std::u32string& p_text);
double text_to_float(const std::u32string& p_text);

}  // namespace internal
}  // namespace godot
