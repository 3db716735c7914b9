// The format patterns of the upload string: left-placed text, zero-padded numbers and
// the 14-digit date.
#include "core/automation/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>

namespace qmx {
namespace {

std::u16string left_aligned(std::u16string_view text, std::size_t width)
{
    std::u16string out = u"<";
    append_left_aligned(out, text, width);
    return out;
}

template <typename Value>
std::u16string zero_padded(const Value& value, int digits)
{
    std::u16string out = u"<";
    append_zero_padded(out, value, digits);
    return out;
}

std::u16string date_digits(Date value)
{
    std::u16string out = u"<";
    append_date_digits(out, value);
    return out;
}

TEST(FormatPatterns, TextIsPlacedFromTheLeftAndPaddedWithSpaces)
{
    EXPECT_EQ(left_aligned(u"ABC12", 13), u"<ABC12        ");
    EXPECT_EQ(left_aligned(u"", 13), u"<             ");
    EXPECT_EQ(left_aligned(u"1234567890123", 13), u"<1234567890123");
    EXPECT_EQ(left_aligned(u"abC-12 x", 8), u"<abC-12 x"); // case and inner blanks kept
    EXPECT_EQ(left_aligned(u"123456789012345", 13), u"<123456789012345"); // a longer text is kept whole
    EXPECT_EQ(left_aligned(u"0123456789ABCDEF", 16), u"<0123456789ABCDEF");
}

TEST(FormatPatterns, NumbersHaveAtLeastTheGivenDigits)
{
    EXPECT_EQ(zero_padded(std::int64_t{7}, 3), u"<007");
    EXPECT_EQ(zero_padded(std::int64_t{500}, 3), u"<500");
    EXPECT_EQ(zero_padded(std::int64_t{0}, 4), u"<0000");
    EXPECT_EQ(zero_padded(std::int64_t{120}, 2), u"<120");
    EXPECT_EQ(zero_padded(std::int64_t{32767}, 4), u"<32767");
    EXPECT_EQ(zero_padded(std::int64_t{-1}, 4), u"<-0001");
    EXPECT_EQ(zero_padded(std::int64_t{-32768}, 4), u"<-32768");
    EXPECT_EQ(zero_padded(std::int64_t{LLONG_MIN}, 2), u"<-9223372036854775808");
}

TEST(FormatPatterns, VariantsAreFormattedByTheirNumberAndEmptyIsBlank)
{
    EXPECT_EQ(zero_padded(Variant::from_short(3), 2), u"<03");
    EXPECT_EQ(zero_padded(Variant::from_short(0), 2), u"<00");
    EXPECT_EQ(zero_padded(Variant::from_short(120), 2), u"<120");
    EXPECT_EQ(zero_padded(Variant::from_short(255), 2), u"<255");
    EXPECT_EQ(zero_padded(Variant(), 2), u"<  "); // never written: not code type 0
}

TEST(FormatPatterns, DatesAreFourteenDigitsExactToTheSecond)
{
    EXPECT_EQ(date_digits(0), u"<18991230000000");
    EXPECT_EQ(date_digits(36892), u"<20010101000000");
    EXPECT_EQ(date_digits(date_from_civil({2005, 5, 20, 13, 44, 10})), u"<20050520134410");
    EXPECT_EQ(date_digits(date_from_civil({2005, 5, 20, 23, 59, 59})), u"<20050520235959");
    EXPECT_EQ(date_digits(date_from_civil({1999, 12, 31, 23, 59, 59})), u"<19991231235959");
    EXPECT_EQ(date_digits(date_from_civil({2029, 12, 31, 0, 0, 1})), u"<20291231000001");
    // The ends of the DATE range: a three-digit year keeps its leading zero.
    EXPECT_EQ(date_digits(date_from_civil({100, 1, 1, 0, 0, 0})), u"<01000101000000");
    EXPECT_EQ(date_digits(date_from_civil({9999, 12, 31, 23, 59, 59})), u"<99991231235959");
    for (int s = 0; s < 86400; s += 7) {
        const CivilDateTime t{2013, 6, 15, s / 3600, s / 60 % 60, s % 60};
        char expected[16];
        std::snprintf(expected, sizeof expected, "20130615%02d%02d%02d", t.hour, t.minute, t.second);
        ASSERT_EQ(date_digits(date_from_civil(t)), u"<" + std::u16string(expected, expected + 14)) << s;
    }
}

} // namespace
} // namespace qmx
