// The automation format patterns that the upload string uses, appending to a text.
#pragma once

#include "core/automation/date.h"
#include "core/automation/variant.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qmx {

// "!" and n "@": the text from the left in n positions, padded with spaces. A longer
// text is kept whole, so nothing of it is lost.
void append_left_aligned(std::u16string& out, std::u16string_view text, std::size_t width);

// n zeros: at least n digits with leading zeros; a negative value gets a hyphen-minus
// before them (-1 under "0000" is "-0001"); a longer value is written in full.
void append_zero_padded(std::u16string& out, std::int64_t value, int digits);

// n zeros applied to a value: Empty gives n spaces (it has never been written, and must
// not read as 0); a numeric value is rounded to a whole number first.
void append_zero_padded(std::u16string& out, const Variant& value, int digits);

// "yyyymmddhhnnss": 14 digits, exact to the second; DATE 0 is 18991230000000.
void append_date_digits(std::u16string& out, Date value);

} // namespace qmx
