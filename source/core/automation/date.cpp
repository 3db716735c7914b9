#include "core/automation/date.h"

#include <chrono>
#include <cmath>

namespace qmx {

namespace {

namespace cal = std::chrono;

constexpr cal::sys_days origin = cal::year{1899} / 12 / 30;

} // namespace

bool is_leap_year(int year)
{
    return cal::year{year}.is_leap();
}

int days_in_month(int year, int month)
{
    if (month < 1 || month > 12)
        return 0;
    const cal::year_month_day_last last = cal::year{year} / cal::month{static_cast<unsigned>(month)} / cal::last;
    return static_cast<int>(static_cast<unsigned>(last.day()));
}

bool is_valid_date(int year, int month, int day)
{
    return day >= 1 && day <= days_in_month(year, month);
}

int expand_two_digit_year(int two_digit_year)
{
    return two_digit_year < 30 ? 2000 + two_digit_year : 1900 + two_digit_year;
}

std::int64_t day_number(int year, int month, int day)
{
    const cal::sys_days date =
        cal::year{year} / cal::month{static_cast<unsigned>(month)} / cal::day{static_cast<unsigned>(day)};
    return (date - origin).count();
}

Date date_from_civil(const CivilDateTime& v)
{
    const double days = static_cast<double>(day_number(v.year, v.month, v.day));
    const double fraction = (v.hour * 3600 + v.minute * 60 + v.second) / 86400.0;
    return days >= 0 ? days + fraction : days - fraction;
}

CivilDateTime civil_from_date(Date value)
{
    double whole = std::trunc(value);
    auto seconds = static_cast<std::int64_t>(std::llround(std::fabs(value - whole) * 86400.0));
    auto days = static_cast<std::int64_t>(whole);
    if (seconds >= 86400) { // rounding reached the next calendar midnight
        seconds -= 86400;
        days += 1;
    }
    const cal::year_month_day date{origin + cal::days{days}};
    CivilDateTime out;
    out.year = static_cast<int>(date.year());
    out.month = static_cast<int>(static_cast<unsigned>(date.month()));
    out.day = static_cast<int>(static_cast<unsigned>(date.day()));
    out.hour = static_cast<int>(seconds / 3600);
    out.minute = static_cast<int>(seconds / 60 % 60);
    out.second = static_cast<int>(seconds % 60);
    return out;
}

} // namespace qmx
