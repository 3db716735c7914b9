// Rounding, integer ranges, DATE arithmetic, fixed-length texts and the 500-entry tables.
#include "core/automation/date.h"
#include "core/automation/fixed_text.h"
#include "core/automation/numbers.h"
#include "core/automation/table.h"
#include "core/automation/text.h"
#include "support/matchers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace qmx {
namespace {

TEST(Rounding, HalvesGoToTheEvenNeighbour)
{
    EXPECT_EQ(round_half_even(2.5), 2);
    EXPECT_EQ(round_half_even(3.5), 4);
    EXPECT_EQ(round_half_even(-2.5), -2);
    EXPECT_EQ(round_half_even(-3.5), -4);
    EXPECT_EQ(round_half_even(0.5), 0);
    EXPECT_EQ(round_half_even(1.5), 2);
    EXPECT_EQ(round_half_even(2.5000001), 3);
    EXPECT_EQ(round_half_even(-0.4), 0);
    EXPECT_EQ(round_half_even(1e300), 1e300);
}

TEST(Rounding, IntegerTargetsOverflowOutsideTheirRange)
{
    EXPECT_EQ(to_int16(32767.49), 32767);
    EXPECT_EQ(to_int16(-32768.5), -32768);
    EXPECT_AUTOMATION_ERROR(to_int16(32767.5), 6);
    EXPECT_AUTOMATION_ERROR(to_int16(-32769), 6);
    EXPECT_EQ(to_int32(-2147483648.0), INT32_MIN);
    EXPECT_AUTOMATION_ERROR(to_int32(2147483647.5), 6);
    EXPECT_AUTOMATION_ERROR(to_int32(std::numeric_limits<double>::quiet_NaN()), 6);
    EXPECT_AUTOMATION_ERROR(to_int32(HUGE_VAL), 6);
}

TEST(DateValues, CivilDatesRoundTripExactlyToTheSecond)
{
    EXPECT_EQ(date_from_civil({1899, 12, 30, 0, 0, 0}), 0.0);
    EXPECT_EQ(date_from_civil({2001, 1, 1, 0, 0, 0}), 36892.0);
    EXPECT_EQ(date_from_civil({1900, 1, 1, 0, 0, 0}), 2.0);
    EXPECT_EQ(date_from_civil({1899, 12, 29, 6, 0, 0}), -1.25);

    // Every second of one day, and a few days far apart, come back unchanged.
    for (int s = 0; s < 86400; ++s) {
        CivilDateTime t{2005, 5, 20, s / 3600, s / 60 % 60, s % 60};
        ASSERT_EQ(civil_from_date(date_from_civil(t)), t) << s;
    }
    for (CivilDateTime t : {CivilDateTime{1930, 1, 1, 23, 59, 59}, CivilDateTime{2029, 12, 31, 13, 45, 12},
                            CivilDateTime{2000, 2, 29, 0, 0, 1}, CivilDateTime{9999, 12, 31, 23, 59, 59},
                            CivilDateTime{1800, 3, 1, 12, 30, 0}})
        EXPECT_EQ(civil_from_date(date_from_civil(t)), t);
}

TEST(DateValues, NearlyMidnightRoundsIntoTheNextDay)
{
    EXPECT_EQ(civil_from_date(1.0 - 1e-9), (CivilDateTime{1899, 12, 31, 0, 0, 0}));
    EXPECT_EQ(civil_from_date(-1.0 - (1.0 - 1e-9)), (CivilDateTime{1899, 12, 30, 0, 0, 0}));
}

TEST(DateValues, CalendarRules)
{
    EXPECT_EQ(days_in_month(2000, 2), 29);
    EXPECT_EQ(days_in_month(1900, 2), 28);
    EXPECT_EQ(days_in_month(2024, 2), 29);
    EXPECT_EQ(days_in_month(2023, 4), 30);
    EXPECT_EQ(days_in_month(2023, 13), 0);
    EXPECT_FALSE(is_valid_date(2023, 2, 29));
    EXPECT_TRUE(is_valid_date(2024, 2, 29));
    EXPECT_FALSE(is_valid_date(2024, 0, 1));
    EXPECT_EQ(expand_two_digit_year(0), 2000);
    EXPECT_EQ(expand_two_digit_year(29), 2029);
    EXPECT_EQ(expand_two_digit_year(30), 1930);
    EXPECT_EQ(expand_two_digit_year(99), 1999);
}

TEST(FixedLengthText, StartsAsCodeZeroAndKeepsItsLength)
{
    FixedText<12> digits;
    EXPECT_EQ(digits.view(), std::u16string(12, u'\0'));

    digits = u"12345";
    EXPECT_EQ(digits.view(), u"12345       ");
    digits = u"1234567890123456";
    EXPECT_EQ(digits.view(), u"123456789012");
    digits = u"";
    EXPECT_EQ(digits.view(), std::u16string(12, u' '));
}

TEST(FixedLengthText, ReplacingAStretchLeavesTheRest)
{
    FixedText<12> digits;
    digits = u"000000000000";
    digits.replace(3, 2, u"45");
    EXPECT_EQ(digits.view(), u"004500000000");
    digits.replace(11, 2, u"789"); // only the two characters asked for
    EXPECT_EQ(digits.view(), u"004500000078");
    digits.replace(12, 2, u"99"); // clipped at the end
    EXPECT_EQ(digits.view(), u"004500000079");
    digits.replace(1, 2, u"1"); // a shorter text replaces only what it has
    EXPECT_EQ(digits.view(), u"104500000079");
    digits.replace(13, 2, u"55"); // past the end: nothing
    EXPECT_EQ(digits.view(), u"104500000079");
    EXPECT_AUTOMATION_ERROR(digits.replace(0, 2, u"55"), 5);
    EXPECT_EQ(digits.view(), u"104500000079");
}

TEST(Tables, HoldEntriesOneToFiveHundred)
{
    Table<std::u16string> texts;
    texts.at(1) = u"first";
    texts.at(500) = u"last";
    EXPECT_EQ(texts.at(1), u"first");
    EXPECT_EQ(texts.at(500), u"last");
    EXPECT_EQ(texts.at(250), u"");
    EXPECT_AUTOMATION_ERROR(texts.at(0), 9);
    EXPECT_AUTOMATION_ERROR(texts.at(501), 9);
    EXPECT_AUTOMATION_ERROR(texts.at(-1), 9);
    EXPECT_AUTOMATION_ERROR(texts.at(INT64_MIN), 9);

    Table<double> dates;
    EXPECT_EQ(dates.at(17), 0.0);
}

TEST(Texts, MidIsOneBasedAndClipped)
{
    EXPECT_EQ(mid(u"abcdef", 2, 3), u"bcd");
    EXPECT_EQ(mid(u"abcdef", 5, 9), u"ef");
    EXPECT_EQ(mid(u"abcdef", 7, 2), u"");
    EXPECT_EQ(mid(u"", 1, 2), u"");
    EXPECT_AUTOMATION_ERROR(mid_checked(u"abc", 0, 1), 5);
    EXPECT_EQ(widen("\xff\x01"), std::u16string(u"\u00ff\u0001"));
}

} // namespace
} // namespace qmx
