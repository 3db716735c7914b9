// Numeric text: reading it and the text form of a double. Apart from the rounding rules, as
// only the portable Variant and the tests need them; the DLL converts with the system's
// automation runtime.
#include "core/automation/numbers.h"

#include "core/automation/text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace qmx {

namespace {

bool is_space(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\v' || c == u'\f';
}

std::optional<double> parse_radix(std::u16string_view digits, int radix)
{
    if (digits.empty())
        return std::nullopt;
    double value = 0;
    for (char16_t c : digits) {
        int d;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        else
            return std::nullopt;
        if (d >= radix)
            return std::nullopt;
        value = value * radix + d;
    }
    return value;
}

} // namespace

std::optional<double> parse_number(std::u16string_view text)
{
    while (!text.empty() && is_space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && is_space(text.back()))
        text.remove_suffix(1);
    if (text.empty())
        return std::nullopt;

    if (text.size() > 2 && text[0] == u'&') {
        char16_t kind = text[1];
        if (kind == u'h' || kind == u'H')
            return parse_radix(text.substr(2), 16);
        if (kind == u'o' || kind == u'O')
            return parse_radix(text.substr(2), 8);
        return std::nullopt;
    }

    bool negative = false;
    if (text.front() == u'(' && text.back() == u')') {
        negative = true;
        text = text.substr(1, text.size() - 2);
    } else if (text.front() == u'+' || text.front() == u'-') {
        negative = text.front() == u'-';
        text.remove_prefix(1);
    } else if (text.back() == u'+' || text.back() == u'-') {
        negative = text.back() == u'-';
        text.remove_suffix(1);
    }

    // Rebuild as plain ASCII for from_chars: digits, one point, an optional exponent.
    std::string ascii;
    ascii.reserve(text.size() + 1);
    std::size_t i = 0;
    bool digits = false, point = false;
    for (; i < text.size(); ++i) {
        char16_t c = text[i];
        if (is_digit(c)) {
            ascii.push_back(static_cast<char>(c));
            digits = true;
        } else if (c == u',' && digits && !point) {
            continue; // thousands separator inside the whole part
        } else if (c == u'.' && !point) {
            ascii.push_back('.');
            point = true;
        } else {
            break;
        }
    }
    if (!digits)
        return std::nullopt;
    if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
        ascii.push_back('e');
        ++i;
        if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
            ascii.push_back(static_cast<char>(text[i++]));
        bool exponent_digits = false;
        for (; i < text.size() && is_digit(text[i]); ++i) {
            ascii.push_back(static_cast<char>(text[i]));
            exponent_digits = true;
        }
        if (!exponent_digits)
            return std::nullopt;
    }
    if (i != text.size())
        return std::nullopt;

    double value = 0;
    auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    if (ec == std::errc::result_out_of_range)
        value = HUGE_VAL; // out of any integer's range: the caller reports the overflow
    else if (ec != std::errc() || end != ascii.data() + ascii.size())
        return std::nullopt;
    return negative ? -value : value;
}

std::u16string format_double(double value)
{
    if (value == 0)
        return u"0";
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15G", value);
    return widen(buffer);
}

} // namespace qmx
