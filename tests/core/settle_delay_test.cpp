// The settle wait: whole-second readings, messages served meanwhile, midnight, a wall
// clock set back, and calls into the component from a message handler.
#include "core/scanner/settle_delay.h"
#include "support/fake_platform.h"

#include <gtest/gtest.h>

#include <deque>

namespace qmx {
namespace {

// Wall-clock readings from a script; the monotonic clock moves with each reading.
class ScriptedClock final : public Clock {
public:
    std::deque<LocalTime> readings;
    std::int64_t monotonic_step_ms = 0;
    std::int64_t monotonic = 0;
    int taken = 0;

    LocalTime local_time() override
    {
        ++taken;
        LocalTime t = readings.front();
        if (readings.size() > 1)
            readings.pop_front();
        return t;
    }
    std::int64_t monotonic_ms() override { return monotonic += monotonic_step_ms; }
};

class CountingPump final : public MessagePump {
public:
    int dispatches = 0;
    std::vector<std::int64_t> waits;
    void dispatch_pending() override { ++dispatches; }
    void wait(std::int64_t timeout_ms) override { waits.push_back(timeout_ms); }
};

LocalTime at(int hour, int minute, int second, int ms = 0)
{
    return LocalTime{2026, 12, 8, hour, minute, second, ms};
}

TEST(SettleDelay, EndsOnceTheWholeSecondReadingHasAdvancedByTwo)
{
    test::CallLog log;
    test::FakeClock clock;
    test::FakePump pump(log, clock);
    for (int start_ms : {0, 1, 400, 999}) {
        clock.set(2026, 12, 8, 9, 5, 3, start_ms);
        pump.waited_ms = 0;
        SettleDelay(clock, pump);
        // From second 3 to second 5: 2000 ms less the part of second 3 already gone.
        EXPECT_EQ(pump.waited_ms, 2000 - start_ms) << start_ms;
        LocalTime end = clock.local_time();
        EXPECT_EQ(end.second, 5);
        EXPECT_EQ(end.millisecond, 0);
    }
}

TEST(SettleDelay, TestsBeforeTheFirstDispatch)
{
    ScriptedClock clock;
    clock.readings = {at(9, 0, 0), at(9, 0, 2)};
    CountingPump pump;
    SettleDelay(clock, pump);
    EXPECT_EQ(pump.dispatches, 0);
    EXPECT_TRUE(pump.waits.empty());
}

TEST(SettleDelay, OneSecondIsNotEnough)
{
    ScriptedClock clock;
    clock.readings = {at(9, 0, 0, 900), at(9, 0, 1, 0), at(9, 0, 1, 0), at(9, 0, 1, 999), at(9, 0, 1, 999), at(9, 0, 2, 0)};
    CountingPump pump;
    SettleDelay(clock, pump);
    EXPECT_EQ(pump.dispatches, 2);
    EXPECT_EQ(pump.waits, (std::vector<std::int64_t>{1000, 1}));
}

TEST(SettleDelay, SpansMidnightLikeAnyOtherSecond)
{
    ScriptedClock clock;
    clock.readings = {at(23, 59, 59, 500), at(23, 59, 59, 500), at(0, 0, 0, 0), at(0, 0, 0, 0), at(0, 0, 1, 0)};
    CountingPump pump;
    SettleDelay(clock, pump);
    EXPECT_EQ(pump.dispatches, 2);
    EXPECT_EQ(clock.readings.size(), 1u) << "ended at the first reading two seconds on";
}

TEST(SettleDelay, AWallClockSetBackCannotStretchTheWait)
{
    ScriptedClock clock;
    clock.monotonic_step_ms = 100;
    clock.readings = {at(9, 0, 0), at(8, 0, 0)}; // an hour back, and stuck there
    CountingPump pump;
    SettleDelay(clock, pump);
    // Two monotonic readings per round at 100 ms each: the 2 s bound ends it.
    EXPECT_LE(pump.dispatches, 10);
    EXPECT_GE(pump.dispatches, 5);
    for (std::int64_t w : pump.waits)
        EXPECT_LE(w, 2000);
}

TEST(SettleDelay, AWallClockSetForwardEndsTheWaitEarly)
{
    ScriptedClock clock;
    clock.readings = {at(9, 0, 0), at(10, 0, 0)};
    CountingPump pump;
    SettleDelay(clock, pump);
    EXPECT_EQ(pump.dispatches, 0);
}

TEST(SettleDelay, DispatchesMessagesThatCallBackIn)
{
    test::CallLog log;
    test::FakeClock clock;
    test::FakePump pump(log, clock);
    int nested = 0;
    pump.on_dispatch = [&] {
        if (nested++ == 0)
            SettleDelay(clock, pump); // a handler that waits in turn
    };
    SettleDelay(clock, pump);
    EXPECT_GE(nested, 2);
    EXPECT_EQ(log, (test::CallLog{"SettleDelay"}));
}

} // namespace
} // namespace qmx
