#include "number_text.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace godot {
namespace internal {

std::string float_to_text(double p_value) {
    if (std::isnan(p_value)) {
        return "nan";
    }
    if (std::isinf(p_value)) {
        return p_value < 0 ? "-inf" : "inf";
    }
    if (p_value == 0.0) {
        return "0.0";
    }
    int decimals = 14 - static_cast<int>(std::floor(std::log10(std::fabs(p_value))));
    if (decimals < 1) {
        decimals = 1;
    }
    const int needed = std::snprintf(nullptr, 0, "%.*f", decimals, p_value);
    std::string text(static_cast<size_t>(needed) + 1, '\0');
    std::snprintf(text.data(), text.size(), "%.*f", decimals, p_value);
    text.resize(static_cast<size_t>(needed));
    const size_t point = text.find('.');
    if (point != std::string::npos) {
        size_t last = text.size() - 1;
        while (last > point + 1 && text[last] == '0') {
            --last;
        }
        text.resize(last + 1);
    }
    return text;
}

namespace {

// The leading run of a text that looks like a number, as ASCII.
std::string leading_number(const std::u32string& p_text, bool p_allow_fraction) {
    size_t i = 0;
    while (i < p_text.size() && p_text[i] <= 32) {
        ++i;
    }
    std::string out;
    if (i < p_text.size() && (p_text[i] == '-' || p_text[i] == '+')) {
        out += static_cast<char>(p_text[i++]);
    }
    auto digits = [&]() {
        while (i < p_text.size() && p_text[i] >= '0' && p_text[i] <= '9') {
            out += static_cast<char>(p_text[i++]);
        }
    };
    digits();
    if (p_allow_fraction) {
        if (i < p_text.size() && p_text[i] == '.') {
            out += static_cast<char>(p_text[i++]);
            digits();
        }
        if (i < p_text.size() && (p_text[i] == 'e' || p_text[i] == 'E')) {
            std::string exponent = "e";
            size_t j = i + 1;
            if (j < p_text.size() && (p_text[j] == '-' || p_text[j] == '+')) {
                exponent += static_cast<char>(p_text[j++]);
            }
            if (j < p_text.size() && p_text[j] >= '0' && p_text[j] <= '9') {
                i = j;
                out += exponent;
                digits();
            }
        }
    }
    return out;
}

}  // namespace

int64_t text_to_int(const std::u32string& p_text) {
    std::string number = leading_number(p_text, false);
    if (!number.empty() && number[0] == '+') {
        number.erase(0, 1);
    }
    int64_t value = 0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        return number[0] == '-' ? std::numeric_limits<int64_t>::min()
                                : std::numeric_limits<int64_t>::max();
    }
    return result.ec == std::errc() ? value : 0;
}

double text_to_float(const std::u32string& p_text) {
    std::string number = leading_number(p_text, true);
    if (!number.empty() && number[0] == '+') {
        number.erase(0, 1);
    }
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        return std::strtod(number.c_str(), nullptr);
    }
    return result.ec == std::errc() ? value : 0.0;
}

}  // namespace internal
}  // namespace godot
