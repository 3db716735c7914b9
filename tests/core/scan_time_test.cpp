// ParseScanTime: the "63" repair, the slash search, the date fields with the two-digit
// year, the time of day, and the fallback date.
#include "core/download/scan_time.h"
#include "support/matchers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace qmx {
namespace {

using namespace std::string_literals;

// The 30-character buffer as the library leaves it: `bytes` from the left, zeros after.
TimeStampText stamp(const std::string& bytes)
{
    TimeStampText text{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), text.size()), text.begin());
    return text;
}

std::string contents(const TimeStampText& text)
{
    return std::string(text.begin(), text.end());
}

Date parsed(const std::string& bytes)
{
    TimeStampText text = stamp(bytes);
    return ParseScanTime(text);
}

Date at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0)
{
    return date_from_civil({year, month, day, hour, minute, second});
}

TEST(ParseScanTime, ReadsMonthDayYearAndTheTimeExactly)
{
    EXPECT_EQ(parsed("05/20/05 13:45:12"), at(2005, 5, 20, 13, 45, 12));
    EXPECT_EQ(civil_from_date(parsed("05/20/05 13:45:12")), (CivilDateTime{2005, 5, 20, 13, 45, 12}));
    EXPECT_EQ(parsed("12/31/99 23:59:59"), at(1999, 12, 31, 23, 59, 59));
    EXPECT_EQ(parsed("02/29/04 06:07:08"), at(2004, 2, 29, 6, 7, 8));
    EXPECT_EQ(parsed("05/2/05 10:00"), at(2005, 5, 2, 10, 0, 0)); // the day is what lies between
    EXPECT_EQ(parsed(" 5/ 1/05 10:00"), at(2005, 5, 1, 10, 0, 0)); // blanks around the digits
    EXPECT_EQ(parsed("13:45:12 05/20/05"), at(2005, 5, 20, 13, 45, 12));
}

TEST(ParseScanTime, TwoDigitYearsUseTheWindow)
{
    EXPECT_EQ(parsed("01/01/00"), at(2000, 1, 1));
    EXPECT_EQ(parsed("01/01/29"), at(2029, 1, 1));
    EXPECT_EQ(parsed("01/01/30"), at(1930, 1, 1));
    EXPECT_EQ(parsed("01/01/99"), at(1999, 1, 1));
}

TEST(ParseScanTime, TimeForms)
{
    EXPECT_EQ(parsed("05/20/05"), at(2005, 5, 20)); // no time: midnight
    EXPECT_EQ(parsed("05/20/05 13:45"), at(2005, 5, 20, 13, 45, 0));
    EXPECT_EQ(parsed("05/20/05 1:45:12 PM"), at(2005, 5, 20, 13, 45, 12));
    EXPECT_EQ(parsed("05/20/05 1:45PM"), at(2005, 5, 20, 13, 45, 0));
    EXPECT_EQ(parsed("05/20/05 12:30:00 PM"), at(2005, 5, 20, 12, 30, 0));
    EXPECT_EQ(parsed("05/20/05 12:00 AM"), at(2005, 5, 20, 0, 0, 0));
    EXPECT_EQ(parsed("05/20/05 9:05 am"), at(2005, 5, 20, 9, 5, 0));
}

TEST(ParseScanTime, AValidDateWithAnUnreadableTimeIsATypeMismatch)
{
    for (const char* text : {"05/20/05 24:00:00", "05/20/05 13:60", "05/20/05 13:45:60", "05/20/05 13:45:99",
                             "05/20/05 13h45", "05/20/05 13", "05/20/05 13:45:12 noon", "05/20/05 13:45:12 13:45:12"})
        EXPECT_AUTOMATION_ERROR(parsed(text), 13);
}

TEST(ParseScanTime, TheTimeIsReadOnlyUpToTheFirstZeroCharacter)
{
    EXPECT_EQ(parsed("05/20/05 13:45:12\0 99:99 junk"s), at(2005, 5, 20, 13, 45, 12));
    // The slashes are searched in all 30 characters: a text that the library ended at
    // once still yields the date left over behind it, at midnight.
    EXPECT_EQ(parsed("\0"s "05/20/05 13:45:12"), at(2005, 5, 20));
}

TEST(ParseScanTime, AnythingThatIsNotADateGivesTheFirstOfJanuary2001)
{
    for (const std::string& text :
         {"13/45/05 13:45:12"s, "13/45/05 25:99:99 junk"s, "02/30/05 10:00"s, "02/29/05 10:00"s, "00/10/05 10:00"s,
          "05/00/05 10:00"s, "05//05 10:00"s, "ab/cd/ef"s, "05/20/0x 10:00"s, "05/20/-5 10:00"s})
        EXPECT_EQ(parsed(text), unreadable_scan_date) << text;
    EXPECT_EQ(unreadable_scan_date, 36892.0);
}

TEST(ParseScanTime, SlashesMissingOrTooEarlyAreAnInvalidArgument)
{
    for (const std::string& text : {"5/20/05 13:45:12"s, "/20/05 13:45:12"s, "05-20-05 13:45:12"s,
                                    "05/20-05 13:45:12"s, std::string(30, '\0')})
        EXPECT_AUTOMATION_ERROR(parsed(text), 5);
}

TEST(ParseScanTime, TheFirst63FromPositionTwoIsRepairedInTheBuffer)
{
    TimeStampText text = stamp("05/20/05 13:45:63");
    EXPECT_EQ(ParseScanTime(text), at(2005, 5, 20, 13, 45, 0));
    EXPECT_EQ(contents(text), contents(stamp("05/20/05 13:45:00")));

    // Wherever it is: a year 63 becomes 00.
    EXPECT_EQ(parsed("05/20/63 10:00"), at(2000, 5, 20, 10, 0, 0));

    // Position 2 is the first that counts.
    text = stamp("063/20/05");
    EXPECT_EQ(ParseScanTime(text), unreadable_scan_date);
    EXPECT_EQ(contents(text), contents(stamp("000/20/05")));

    // Only the first occurrence, even one that lies behind the zero character.
    text = stamp("05/20/05 13:45:63\0"s "63");
    ParseScanTime(text);
    EXPECT_EQ(contents(text), contents(stamp("05/20/05 13:45:00\0"s "63")));
    text = stamp("05/20/05 13:45:12\0"s "x63");
    EXPECT_EQ(ParseScanTime(text), at(2005, 5, 20, 13, 45, 12));
    EXPECT_EQ(contents(text), contents(stamp("05/20/05 13:45:12\0"s "x00")));
}

TEST(ParseScanTime, A63AtPositionOneBlocksEveryLaterRepair)
{
    // The month is the two characters before the first slash, so this is 20 May 2005;
    // the seconds stay 63 and cannot be read.
    TimeStampText text = stamp("6305/20/05 13:45:63");
    EXPECT_AUTOMATION_ERROR(ParseScanTime(text), 13);
    EXPECT_EQ(contents(text), contents(stamp("6305/20/05 13:45:63")));

    text = stamp("6305/20/05 13:45:12");
    EXPECT_EQ(ParseScanTime(text), at(2005, 5, 20, 13, 45, 12));
}

} // namespace
} // namespace qmx
