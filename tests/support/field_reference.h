// A second, differently built reading of the short number fields of the clock text and
// the parameter list, to hold ReadFieldNumber against: drop the blanks, take a sign,
// collect digits with one point, let the C library convert and round half to even.
#pragma once

#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

namespace qmx::test {

inline double reference_field_number(std::u16string_view field)
{
    std::string s;
    for (char16_t c : field) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue; // blanks count nowhere
        s.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    std::string number;
    bool point = false;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9')
            number.push_back(s[i]);
        else if (s[i] == '.' && !point)
            point = true, number.push_back('.');
        else
            break;
    }
    double value = number.empty() || number == "." ? 0.0 : std::strtod(number.c_str(), nullptr);
    if (negative)
        value = -value;
    return std::nearbyint(value); // the default rounding mode sends a half to the even neighbour
}

} // namespace qmx::test
