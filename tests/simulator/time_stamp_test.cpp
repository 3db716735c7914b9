// The time-stamp packing and its text, and the seconds arithmetic of the scanner clock.
#include "simulator/calendar.h"
#include "simulator/time_stamp.h"

#include <gtest/gtest.h>

namespace qmx::sim {
namespace {

TEST(TimeStamp, PacksTheFieldsIntoTheirBitsLeastSignificantByteFirst)
{
    // 2026-05-20 13:45:12 and 2005-01-02 03:04 without seconds, worked out by hand.
    EXPECT_EQ(pack_time_stamp({2026, 5, 20, 13, 45, 12}, true), (StampBytes{0x4C, 0xDB, 0x68, 0x69}));
    EXPECT_EQ(pack_time_stamp({2005, 1, 2, 3, 4, 59}, false), (StampBytes{0x3F, 0x31, 0x44, 0x14}));
}

TEST(TimeStamp, TextIsMonthDayYearThenTheTimeEachInTwoDigits)
{
    EXPECT_EQ(time_stamp_text({0x4C, 0xDB, 0x68, 0x69}), "05/20/26 13:45:12");
    EXPECT_EQ(time_stamp_text(pack_time_stamp({2000, 1, 1, 0, 0, 0}, true)), "01/01/00 00:00:00");
    // Every field at its largest: nothing spills into its neighbour.
    EXPECT_EQ(time_stamp_text(pack_time_stamp({2063, 12, 31, 23, 59, 59}, true)), "12/31/63 23:59:59");
    EXPECT_EQ(time_stamp_text(pack_time_stamp({2005, 1, 2, 3, 4, 0}, false)), "01/02/05 03:04:63");
}

TEST(TimeStamp, TextShowsWhateverTheBitsHold)
{
    EXPECT_EQ(time_stamp_text({0xFF, 0xFF, 0xFF, 0xFF}), "15/31/63 31:63:63");
    EXPECT_EQ(time_stamp_text({0, 0, 0, 0}), "00/00/00 00:00:00");
}

TEST(Calendar, SecondsRoundTripAcrossLeapDaysAndCenturies)
{
    for (CivilTime t : {CivilTime{2000, 1, 1, 0, 0, 0}, CivilTime{2000, 2, 29, 12, 0, 1}, CivilTime{2026, 12, 8, 9, 5, 3},
                        CivilTime{2099, 12, 31, 23, 59, 59}, CivilTime{2100, 3, 1, 0, 0, 0}, CivilTime{1999, 12, 31, 23, 59, 59}})
        EXPECT_EQ(civil_from_seconds(seconds_since_2000(t)), t) << t.year << "-" << t.month << "-" << t.day;
    EXPECT_EQ(seconds_since_2000({2000, 1, 2, 0, 0, 0}), 86400);
    EXPECT_EQ(seconds_since_2000({1999, 12, 31, 23, 59, 59}), -1);
    EXPECT_EQ(seconds_since_2000({2001, 1, 1, 0, 0, 0}), 366 * 86400);
}

} // namespace
} // namespace qmx::sim
