// The automation conversions of text to numbers (parse_number, Variant to_long,
// to_short, to_text) and ReadFieldNumber, on any text and any VARIANT: only the named
// errors, the 16- and 32-bit conversions agreeing with each other, and plain decimal
// text and short fields agreeing with a reading built another way.
#include "core/automation/field_number.h"
#include "core/automation/numbers.h"
#include "support/field_reference.h"
#include "fuzz_support.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace qmx::fuzz {
namespace {

// Plain decimal text: spaces, a leading sign, up to 15 digits, a point and up to 6
// digits, spaces. The C library reads it; nothing else is needed.
std::optional<double> plain_decimal(std::u16string_view text)
{
    std::string s;
    for (char16_t c : text) {
        if (c >= 0x80)
            return std::nullopt;
        s.push_back(static_cast<char>(c));
    }
    const std::size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::nullopt;
    s = s.substr(first, s.find_last_not_of(' ') - first + 1);
    std::size_t i = s[0] == '+' || s[0] == '-' ? 1 : 0;
    const std::size_t whole_start = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
        ++i;
    const std::size_t whole = i - whole_start;
    std::size_t fraction = 0;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9')
            ++i, ++fraction;
    }
    if (i != s.size() || whole == 0 || whole > 15 || fraction > 6)
        return std::nullopt;
    return std::strtod(s.c_str(), nullptr);
}

// The conversions of one VARIANT must agree: a 16-bit result is the 32-bit one, and a
// 32-bit result inside 16 bits converts to 16 bits too.
void check_variant(const Variant& v, std::optional<double> number)
{
    std::optional<std::int32_t> as_long;
    std::optional<std::int16_t> as_short;
    const std::optional<int> long_error = run_member({6, 13, 94}, [&] { as_long = v.to_long(); });
    const std::optional<int> short_error = run_member({6, 13, 94}, [&] { as_short = v.to_short(); });
    if (as_short)
        FUZZ_CHECK(as_long && *as_long == *as_short);
    if (as_long && *as_long >= -32768 && *as_long <= 32767)
        FUZZ_CHECK(as_short && *as_short == *as_long);
    if (long_error && *long_error != 6)
        FUZZ_CHECK(short_error == long_error); // no number at all fails both the same way
    if (number) {
        // The number the text holds, rounded half to even, or overflow.
        const double rounded = std::nearbyint(*number);
        if (rounded >= -2147483648.0 && rounded <= 2147483647.0)
            FUZZ_CHECK(as_long && *as_long == static_cast<std::int32_t>(rounded));
        else
            FUZZ_CHECK(long_error == 6);
    }
}

} // namespace
void fuzz_one(Input& in)
{
    const std::u16string text = in.text();

    // Text: parse_number decides for to_long and to_short; to_text gives it back.
    const std::optional<double> number = parse_number(text);
    if (number) {
        FUZZ_CHECK(!std::isnan(*number));
        const double rounded = round_half_even(*number);
        FUZZ_CHECK(std::isinf(*number) ? rounded == *number : rounded == std::nearbyint(*number));
    }
    if (const std::optional<double> plain = plain_decimal(text))
        FUZZ_CHECK(number && *number == *plain);
    const Variant as_text = Variant::from_text(text);
    check_variant(as_text, number);
    if (!number)
        FUZZ_CHECK(run_member({13}, [&] { (void)as_text.to_long(); }) == 13);
    FUZZ_CHECK(as_text.to_text() == text);

    // ReadFieldNumber never fails and gives a whole number; short fields agree with the
    // reading built another way, and only a number outside 0 to 255 is refused as a byte.
    const double field = ReadFieldNumber(text);
    FUZZ_CHECK(!std::isnan(field) && (std::isinf(field) || field == std::nearbyint(field)));
    if (text.size() <= 8)
        FUZZ_CHECK(field == test::reference_field_number(text));
    const double pair = ReadFieldNumber(std::u16string_view(text).substr(0, 2));
    FUZZ_CHECK(pair >= -9 && pair <= 99);
    std::uint8_t byte = 0;
    const std::optional<int> byte_error = run_member({5}, [&] { byte = ByteFromNumber(pair); });
    FUZZ_CHECK(byte_error.has_value() == (pair < 0 || pair > 255));
    if (!byte_error)
        FUZZ_CHECK(byte == pair);

    // Any VARIANT a host can pass: only 6, 13 and 94 leave a conversion, and a number's
    // text form reads back as the number.
    const Variant v = any_variant(in);
    check_variant(v, std::nullopt);
    std::u16string v_text;
    if (!run_member({13, 94}, [&] { v_text = v.to_text(); })) {
        if (v.type() == Variant::Type::Short || v.type() == Variant::Type::Long) {
            const std::optional<double> back = parse_number(v_text);
            FUZZ_CHECK(back && *back == v.to_long());
        }
    }

    // A double's text form: fifteen significant digits that read back as the number.
    // Near the largest double they round past it, and the text reads as too large.
    const double d = in.real();
    const std::optional<double> back = parse_number(Variant::from_double(d).to_text());
    if (std::isfinite(d)) {
        FUZZ_CHECK(back.has_value());
        if (std::isinf(*back))
            FUZZ_CHECK(std::fabs(d) >= 1.797693134862315e308);
        else
            FUZZ_CHECK(std::fabs(*back - d) <= std::fabs(d) * 1e-14);
    }
}

} // namespace qmx::fuzz
