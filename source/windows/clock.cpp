#include "windows/platform.h"

#include <windows.h>

namespace qmx {

LocalTime Win32Clock::local_time()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

std::int64_t Win32Clock::monotonic_ms()
{
    return static_cast<std::int64_t>(GetTickCount64());
}

} // namespace qmx
