#include "core/automation/format.h"

#include "core/automation/text.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>

namespace qmx {

void append_left_aligned(std::u16string& out, std::u16string_view text, std::size_t width)
{
    out.append(text);
    if (text.size() < width)
        out.append(width - text.size(), u' ');
}

namespace {

// The decimal digits of `magnitude`, at least `digits` of them with leading zeros, written
// straight into the text: the upload string takes eight numbers per entry, and a formatted
// print of each cost more than everything else in building it.
void append_digits(std::u16string& out, std::uint64_t magnitude, int digits)
{
    std::size_t count = 1;
    for (std::uint64_t rest = magnitude; rest >= 10; rest /= 10)
        ++count;
    const std::size_t width = std::max(count, static_cast<std::size_t>(std::max(digits, 0)));
    std::size_t at = out.size() + width;
    out.resize(at, u'0');
    for (std::size_t k = 0; k < count; ++k, magnitude /= 10)
        out[--at] = static_cast<char16_t>(u'0' + magnitude % 10);
}

} // namespace

void append_zero_padded(std::u16string& out, std::int64_t value, int digits)
{
    if (value < 0)
        out.push_back(u'-');
    const std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    append_digits(out, magnitude, digits);
}

void append_zero_padded(std::u16string& out, const Variant& value, int digits)
{
    if (value.is_empty()) {
        out.append(static_cast<std::size_t>(digits), u' ');
        return;
    }
    append_zero_padded(out, static_cast<std::int64_t>(value.to_long()), digits);
}

void append_date_digits(std::u16string& out, Date value)
{
    const CivilDateTime t = civil_from_date(value);
    append_zero_padded(out, std::int64_t{t.year}, 4);
    for (const int part : {t.month, t.day, t.hour, t.minute, t.second})
        append_zero_padded(out, std::int64_t{part}, 2);
}

} // namespace qmx
