#include "core/scanner/settle_delay.h"

#include <cstdint>

namespace qmx {

namespace {

constexpr std::int64_t seconds_per_day = 86400;
constexpr std::int64_t settle_seconds = 2; // the first whole-second advance of at least 1.296 s
constexpr std::int64_t longest_wait_ms = 2000;

std::int64_t ms_of_day(const LocalTime& t)
{
    return ((t.hour * 60LL + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

} // namespace

void SettleDelay(Clock& clock, MessagePump& pump)
{
    const std::int64_t start_second = ms_of_day(clock.local_time()) / 1000;
    const std::int64_t start_mono = clock.monotonic_ms();
    for (;;) {
        // Elapsed whole seconds, counted across midnight. A reading behind the start (the
        // wall clock set back) counts as no progress; the monotonic bound ends that wait.
        const std::int64_t now_second = ms_of_day(clock.local_time()) / 1000;
        const std::int64_t elapsed =
            ((now_second - start_second) % seconds_per_day + seconds_per_day) % seconds_per_day;
        if ((elapsed >= settle_seconds && elapsed < seconds_per_day / 2) ||
            clock.monotonic_ms() - start_mono >= longest_wait_ms)
            return;
        pump.dispatch_pending();
        // Sleep until a message comes or the next second begins, whichever is first.
        const std::int64_t to_next_second = 1000 - ms_of_day(clock.local_time()) % 1000;
        const std::int64_t to_bound = longest_wait_ms - (clock.monotonic_ms() - start_mono);
        if (to_bound > 0)
            pump.wait(to_next_second < to_bound ? to_next_second : to_bound);
    }
}

} // namespace qmx
