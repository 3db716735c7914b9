#include "core/automation/date.h"

#include <cmath>

namespace qmx {

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
constexpr std::int64_t days_from_epoch(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civil_from_epoch_days(std::int64_t z, int& year, int& month, int& day)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned d = doy - (153 * mp + 2) / 5 + 1;
    const unsigned m = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
    month = static_cast<int>(m);
    day = static_cast<int>(d);
}

constexpr std::int64_t origin = days_from_epoch(1899, 12, 30);

} // namespace

bool is_leap_year(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month)
{
    static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12)
        return 0;
    return month == 2 && is_leap_year(year) ? 29 : lengths[month - 1];
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
    return days_from_epoch(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - origin;
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
    CivilDateTime out;
    civil_from_epoch_days(days + origin, out.year, out.month, out.day);
    out.hour = static_cast<int>(seconds / 3600);
    out.minute = static_cast<int>(seconds / 60 % 60);
    out.second = static_cast<int>(seconds % 60);
    return out;
}

} // namespace qmx
