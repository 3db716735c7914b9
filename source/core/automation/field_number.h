// Reading the short number fields of the clock text and the parameter list.
#pragma once

#include <cstdint>
#include <string_view>

namespace qmx {

// The lenient reading of a field as a whole number: blanks (space, tab, line feed) are
// ignored wherever they stand, an optional sign is taken, then decimal digits with at
// most one decimal point up to the first character that cannot continue the number. No
// number reads as 0. The result is rounded half to even.
double ReadFieldNumber(std::u16string_view field);

// A number as a byte: 0 to 255, anything else an invalid argument (5).
std::uint8_t ByteFromNumber(double value);

} // namespace qmx
