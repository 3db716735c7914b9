// The PC clock, as the component reads it.
#pragma once

#include <cstdint>

namespace qmx {

struct LocalTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    // The local date and time of day.
    virtual LocalTime local_time() = 0;
    // Milliseconds from an arbitrary start; never goes back, whatever the wall clock does.
    virtual std::int64_t monotonic_ms() = 0;
};

} // namespace qmx
