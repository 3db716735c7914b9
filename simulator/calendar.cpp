#include "simulator/calendar.h"

#include "automation/date.h"

namespace qmx::sim {

namespace {

constexpr std::int64_t seconds_per_day = 86'400;

std::int64_t day_2000()
{
    return qmx::day_number(2000, 1, 1);
}

} // namespace

int days_in_month(int year, int month)
{
    return qmx::days_in_month(year, month);
}

bool is_valid(const CivilTime& t)
{
    return qmx::is_valid_date(t.year, t.month, t.day) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
           t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

std::int64_t seconds_since_2000(const CivilTime& t)
{
    const std::int64_t days = qmx::day_number(t.year, t.month, t.day) - day_2000();
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
    const qmx::CivilDateTime date = qmx::civil_from_date(static_cast<double>(days + day_2000()));
    CivilTime t;
    t.year = date.year;
    t.month = date.month;
    t.day = date.day;
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest / 60 % 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

} // namespace qmx::sim
