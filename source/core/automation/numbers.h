// Numeric rules of the automation runtime: half-to-even rounding, range-checked integer
// conversion, reading numeric text, and the text form of a double.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qmx {

// Nearest whole number, a half going to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
double round_half_even(double value);

// Round half to even, then fit the target: overflow (error 6) when out of range or NaN.
std::int16_t to_int16(double value);
std::int32_t to_int32(double value);

// Numeric text as the automation runtime reads it: surrounding blanks, a leading or
// trailing sign, parentheses for a negative value, thousands separators, a decimal point,
// an exponent, and &H / &O prefixes. Empty when the text is not a number.
std::optional<double> parse_number(std::u16string_view text);

// The text form of a double: up to 15 significant digits, exponent form from 1E+15 and
// below 1E-4 (0.1 -> "0.1", 1e20 -> "1E+20").
std::u16string format_double(double value);

} // namespace qmx
