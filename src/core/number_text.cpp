#include "core/number_text.hpp"

#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

namespace kiv {
namespace {

// std::to_chars spells NaN "nan" or "-nan"; users see one spelling whatever
// the sign bit. Infinities already read "inf" and "-inf".
constexpr std::string_view kNaN = "NaN";

// Largest fixed text: 309 integer digits, sign, point and the precision.
constexpr int kBufferSize = std::numeric_limits<double>::max_exponent10 + 32;

std::string to_text(double value, std::chars_format format, int precision) {
    char buffer[kBufferSize];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, format, precision);
    return std::string(buffer, result.ptr);
}

// "e-03" -> "e-3", "e+04" -> "e4": no plus sign, no leading zeros.
std::string trim_exponent(const std::string& text) {
    const auto e = text.find('e');
    std::string out = text.substr(0, e + 1);
    std::size_t digits = e + 1;
    if (text[digits] == '-') out += '-';
    if (text[digits] == '-' || text[digits] == '+') ++digits;
    while (digits + 1 < text.size() && text[digits] == '0') ++digits;
    out.append(text, digits, std::string::npos);
    return out;
}

}  // namespace

std::string fixed4_text(double value) {
    if (std::isnan(value)) return std::string(kNaN);
    return to_text(value, std::chars_format::fixed, 4);
}

std::string exponent_text(double value) {
    if (std::isnan(value)) return std::string(kNaN);
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    return trim_exponent(to_text(value, std::chars_format::scientific, 6));
}

}  // namespace kiv
