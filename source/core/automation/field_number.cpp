#include "core/automation/field_number.h"

#include "core/automation/error.h"
#include "core/automation/numbers.h"
#include "core/automation/text.h"

namespace qmx {

double ReadFieldNumber(std::u16string_view field)
{
    std::size_t i = 0;
    auto skip_blanks = [&] {
        while (i < field.size() && is_blank(field[i]))
            ++i;
    };
    skip_blanks();
    bool negative = false;
    if (i < field.size() && (field[i] == u'+' || field[i] == u'-')) {
        negative = field[i] == u'-';
        ++i;
    }
    double value = 0;
    double scale = 0; // 0 before the point, then 0.1, 0.01, ...
    for (skip_blanks(); i < field.size(); ++i, skip_blanks()) {
        const char16_t c = field[i];
        if (is_digit(c)) {
            if (scale == 0) {
                value = value * 10 + (c - u'0');
            } else {
                value += (c - u'0') * scale;
                scale /= 10;
            }
        } else if (c == u'.' && scale == 0) {
            scale = 0.1;
        } else {
            break;
        }
    }
    return round_half_even(negative ? -value : value);
}

std::uint8_t ByteFromNumber(double value)
{
    if (!(value >= 0 && value <= 255))
        raise(ErrorNumber::InvalidArgument);
    return static_cast<std::uint8_t>(value);
}

} // namespace qmx
