// The scanner's own calendar, kept apart from the component's date arithmetic so that a
// fault in one shows up as a disagreement with the other. Plain counting over years and
// months: the scanner's range is a few decades, so clarity wins over speed.
#include "simulator/calendar.h"

namespace qmx::sim {

namespace {

constexpr std::int64_t seconds_per_day = 86'400;

bool leap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_year(int year)
{
    return leap(year) ? 366 : 365;
}

// Days from 1 January 2000 to the first day of the month.
std::int64_t days_before(int year, int month)
{
    std::int64_t days = 0;
    for (int y = 2000; y < year; ++y)
        days += days_in_year(y);
    for (int y = year; y < 2000; ++y)
        days -= days_in_year(y);
    for (int m = 1; m < month; ++m)
        days += days_in_month(year, m);
    return days;
}

} // namespace

int days_in_month(int year, int month)
{
    static constexpr int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return month == 2 && leap(year) ? 29 : lengths[month - 1];
}

bool is_valid(const CivilTime& t)
{
    return t.day >= 1 && t.day <= days_in_month(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
           t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

std::int64_t seconds_since_2000(const CivilTime& t)
{
    const std::int64_t days = days_before(t.year, t.month) + t.day - 1;
    return days * seconds_per_day + t.hour * 3600 + t.minute * 60 + t.second;
}

CivilTime civil_from_seconds(std::int64_t seconds)
{
    std::int64_t days = seconds / seconds_per_day;
    std::int64_t rest = seconds % seconds_per_day;
    if (rest < 0) {
        rest += seconds_per_day;
        --days;
    }
    CivilTime t;
    t.year = 2000;
    while (days < 0)
        days += days_in_year(--t.year);
    while (days >= days_in_year(t.year))
        days -= days_in_year(t.year++);
    t.month = 1;
    while (days >= days_in_month(t.year, t.month))
        days -= days_in_month(t.year, t.month++);
    t.day = static_cast<int>(days) + 1;
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

} // namespace qmx::sim
