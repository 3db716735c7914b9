// Clocks of the Windows benchmarks: wall time, and processor time from the system's
// kernel and user times.
#pragma once

#include <windows.h>

namespace qmx::bench {

inline double wall_ms()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

inline double cpu_ms(const FILETIME& kernel, const FILETIME& user)
{
    auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 10000.0;
}

} // namespace qmx::bench
