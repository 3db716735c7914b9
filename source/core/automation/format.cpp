#include "core/automation/format.h"

#include "core/automation/numbers.h"
#include "core/automation/text.h"

#include <cmath>
#include <cstdio>

namespace qmx {

void append_left_aligned(std::u16string& out, std::u16string_view text, std::size_t width)
{
    out.append(text);
    if (text.size() < width)
        out.append(width - text.size(), u' ');
}

void append_zero_padded(std::u16string& out, std::int64_t value, int digits)
{
    char buffer[32];
    if (value < 0)
        std::snprintf(buffer, sizeof buffer, "-%0*llu", digits, 0ULL - static_cast<unsigned long long>(value));
    else
        std::snprintf(buffer, sizeof buffer, "%0*llu", digits, static_cast<unsigned long long>(value));
    for (const char* c = buffer; *c; ++c)
        out.push_back(static_cast<char16_t>(*c));
}

void append_zero_padded(std::u16string& out, const Variant& value, int digits)
{
    if (value.is_empty()) {
        out.append(static_cast<std::size_t>(digits), u' ');
        return;
    }
    append_zero_padded(out, static_cast<std::int64_t>(value.to_long()), digits);
}

void append_zero_padded(std::u16string& out, std::u16string_view text, int digits)
{
    std::optional<double> number = parse_number(text);
    if (number && std::fabs(*number) < 1e18) {
        append_zero_padded(out, static_cast<std::int64_t>(round_half_even(*number)), digits);
        return;
    }
    out.append(text);
}

void append_date_digits(std::u16string& out, Date value)
{
    const CivilDateTime t = civil_from_date(value);
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    for (const char* c = buffer; *c; ++c)
        out.push_back(static_cast<char16_t>(*c));
}

} // namespace qmx
