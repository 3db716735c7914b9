// Local calendar time as the scanner keeps it, and a linear count of seconds to do
// arithmetic on it. The count ignores time zones: the scanner's clock is a wall clock.
#pragma once

#include <cstdint>

namespace qmx::sim {

struct CivilTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;

    friend bool operator==(const CivilTime&, const CivilTime&) = default;
};

int days_in_month(int year, int month); // 0 for a month outside 1 to 12
bool is_valid(const CivilTime& time);   // a real date, hours 0-23, minutes and seconds 0-59

// Seconds since 1 January 2000 00:00:00 of a valid time, and back.
std::int64_t seconds_since_2000(const CivilTime& time);
CivilTime civil_from_seconds(std::int64_t seconds);

} // namespace qmx::sim
