// Automation DATE values: days since 30 December 1899 00:00, the fraction being the time
// of day. For days before that origin the fraction still counts forward from midnight
// (-1.25 is 29 December 1899, 06:00), as the platform defines it.
#pragma once

#include <cstdint>

namespace qmx {

using Date = double;

struct CivilDateTime {
    int year = 1899;
    int month = 12;
    int day = 30;
    int hour = 0;
    int minute = 0;
    int second = 0;

    friend bool operator==(const CivilDateTime&, const CivilDateTime&) = default;
};

bool is_leap_year(int year);
int days_in_month(int year, int month); // 0 for a month outside 1 to 12
bool is_valid_date(int year, int month, int day);

// The two-digit-year window: 0 to 29 are 2000 to 2029, 30 to 99 are 1930 to 1999.
int expand_two_digit_year(int two_digit_year);

// Whole days between the origin and a valid calendar date.
std::int64_t day_number(int year, int month, int day);

// DATE of a valid date and time of day (hour 0-23, minute and second 0-59). The time
// part is exact to the second: it comes back unchanged from civil_from_date.
Date date_from_civil(const CivilDateTime& value);

// Calendar date and time of a DATE, rounded to the nearest second. The value must lie in
// the DATE range (years 100 to 9999).
CivilDateTime civil_from_date(Date value);

} // namespace qmx
