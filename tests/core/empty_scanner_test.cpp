// EmptyScanner and setdate: which port opens, the clock bytes sent, the settle waits and
// the exact order of the library calls on every path.
#include "core/clicker.h"
#include "support/fake_platform.h"
#include "support/matchers.h"

#include <gtest/gtest.h>

#include <string>

namespace qmx {
namespace {

using test::CallLog;
using test::operator+;

class MaintenanceTest : public ::testing::Test {
protected:
    test::FakePlatform fake;
    Clicker clicker{fake.platform()};

    // A download that finds the scanner on this port, so that open_ok reads True; the
    // record of it is then forgotten.
    void download_from(std::int32_t port)
    {
        fake.scanner.scanner_on_port(port);
        clicker.open_clicker();
        ASSERT_EQ(clicker.get_open_ok(), variant_true);
        forget_calls();
    }

    void forget_calls()
    {
        fake.log.clear();
        fake.scanner.set_times.clear();
        fake.pump.waited_ms = 0;
    }

    void scanner_at(std::int32_t port)
    {
        fake.scanner.scanner_on_port(port);
        clicker.put_startport(Variant::from_short(static_cast<std::int16_t>(port)));
    }
};

const CallLog clear_only{"Init(3)", "SettleDelay", "ClearData", "Restore"};

CallLog clock_then_clear(const std::string& bytes)
{
    return {"Init(3)", "SettleDelay", "WakeUp", "SetTime(" + bytes + ")", "PowerDown", "SettleDelay", "ClearData", "Restore"};
}

// EmptyScanner

TEST_F(MaintenanceTest, EmptyScannerWithoutAPortRefusesAndTouchesNoScanner)
{
    download_from(2);
    clicker.put_pnewdatetime(u"301514071226");
    clicker.EmptyScanner();
    EXPECT_TRUE(fake.log.empty());
    EXPECT_EQ(clicker.get_open_ok(), variant_false);
}

TEST_F(MaintenanceTest, EmptyScannerRefusedByInitMakesNoFurtherCall)
{
    download_from(5);
    clicker.put_startport(Variant::from_short(3));
    clicker.put_pnewdatetime(u"301514071226");
    clicker.EmptyScanner();
    EXPECT_EQ(fake.log, (CallLog{"Init(3)"})) << "no Restore for a port that did not open";
    EXPECT_EQ(clicker.get_open_ok(), variant_false);
}

TEST_F(MaintenanceTest, EmptyScannerWithoutAClockTextOnlyClears)
{
    download_from(3);
    clicker.put_startport(Variant::from_short(3));
    clicker.EmptyScanner();
    EXPECT_EQ(fake.log, clear_only);
    EXPECT_EQ(fake.pump.waited_ms, 2000);
    EXPECT_EQ(clicker.get_open_ok(), variant_true) << "success leaves open_ok as it was";

    forget_calls();
    clicker.put_pnewdatetime(u"301514071226");
    clicker.put_pnewdatetime(u""); // switches clock setting off again
    clicker.EmptyScanner();
    EXPECT_EQ(fake.log, clear_only);
    EXPECT_TRUE(fake.scanner.set_times.empty());
}

TEST_F(MaintenanceTest, EmptyScannerSetsTheClockBetweenTwoSeparateWaits)
{
    scanner_at(3);
    clicker.put_pnewdatetime(u"301514071226");
    clicker.EmptyScanner();
    EXPECT_EQ(fake.log, clock_then_clear("30,15,14,7,12,26"));
    ASSERT_EQ(fake.scanner.set_times.size(), 1u);
    EXPECT_EQ(fake.scanner.set_times[0], (ClockBytes{30, 15, 14, 7, 12, 26}));
    EXPECT_EQ(fake.pump.waited_ms, 4000) << "two full settle waits";
    EXPECT_EQ(clicker.fields().new_datetime, u"301514071226") << "the text stays for later calls";
}

TEST_F(MaintenanceTest, EmptyScannerReadsTheClockTextPairByPair)
{
    struct Case {
        std::u16string text;
        ClockBytes bytes;
    };
    const Case cases[] = {
        {u"3015", {30, 15, 0, 0, 0, 0}},             // short: missing pairs are 0
        {u"301", {30, 1, 0, 0, 0, 0}},               // half a pair reads as what is there
        {u"7", {7, 0, 0, 0, 0, 0}},
        {u"301599071226", {30, 15, 99, 7, 12, 26}},  // no range check on the hour
        {u"301514070026", {30, 15, 14, 7, 0, 26}},   // nor on the month
        {u"30151407122645", {30, 15, 14, 7, 12, 26}}, // beyond twelve characters: ignored
        {u"3015ab071226", {30, 15, 0, 7, 12, 26}},   // two letters read as 0
        {u"3015 4071226", {30, 15, 4, 7, 12, 26}},   // a blank and a digit
        {u"30154 071226", {30, 15, 4, 7, 12, 26}},   // a digit and a blank
        {u"3015+4071226", {30, 15, 4, 7, 12, 26}},
        {u"3015-0071226", {30, 15, 0, 7, 12, 26}},   // minus zero is still 0
        {u"3015.5071226", {30, 15, 0, 7, 12, 26}},   // a half rounds to even
        {u"3015x5071226", {30, 15, 0, 7, 12, 26}},
    };
    scanner_at(3);
    for (const Case& c : cases) {
        forget_calls();
        clicker.put_pnewdatetime(c.text);
        clicker.EmptyScanner();
        ASSERT_EQ(fake.scanner.set_times.size(), 1u) << std::string(c.text.begin(), c.text.end());
        EXPECT_EQ(fake.scanner.set_times[0], c.bytes) << std::string(c.text.begin(), c.text.end());
        EXPECT_EQ(fake.log.size(), 8u);
    }
}

TEST_F(MaintenanceTest, EmptyScannerFailsOnANegativePairWithThePortLeftOpen)
{
    download_from(3);
    clicker.put_startport(Variant::from_short(3));
    clicker.put_pnewdatetime(u"3015-4071226");
    EXPECT_AUTOMATION_ERROR(clicker.EmptyScanner(), 5);
    EXPECT_EQ(fake.log, (CallLog{"Init(3)"})) << "no wait, no wake-up, no Restore";
    EXPECT_EQ(clicker.get_open_ok(), variant_true);

    forget_calls();
    clicker.put_pnewdatetime(u"30151407-226");
    EXPECT_AUTOMATION_ERROR(clicker.EmptyScanner(), 5);
    EXPECT_EQ(fake.log, (CallLog{"Init(3)"}));
}

TEST_F(MaintenanceTest, EmptyScannerTwiceSetsTheStoredClockTwice)
{
    scanner_at(3);
    clicker.put_pnewdatetime(u"301514071226");
    clicker.EmptyScanner();
    clicker.EmptyScanner();
    EXPECT_EQ(fake.log, clock_then_clear("30,15,14,7,12,26") + clock_then_clear("30,15,14,7,12,26"));
    EXPECT_EQ(fake.scanner.set_times, (std::vector<ClockBytes>(2, ClockBytes{30, 15, 14, 7, 12, 26})));
}

TEST_F(MaintenanceTest, EmptyScannerSucceedingAfterARefusalLeavesOpenOkFalse)
{
    download_from(3);
    clicker.put_startport(Variant::from_short(4));
    clicker.EmptyScanner();
    ASSERT_EQ(clicker.get_open_ok(), variant_false);

    fake.scanner.scanner_on_port(4);
    forget_calls();
    clicker.EmptyScanner();
    EXPECT_EQ(fake.log, (CallLog{"Init(4)", "SettleDelay", "ClearData", "Restore"}));
    EXPECT_EQ(clicker.get_open_ok(), variant_false);
}

TEST_F(MaintenanceTest, EmptyScannerConvertsStartportForInit)
{
    fake.scanner.scanner_on_port(3);
    for (const Variant& port : {Variant::from_text(u"3"), Variant::from_text(u" 3 "), Variant::from_long(3),
                                Variant::from_double(3.0), Variant::from_double(3.4)}) {
        forget_calls();
        clicker.put_startport(port);
        clicker.EmptyScanner();
        EXPECT_EQ(fake.log, clear_only);
    }
    forget_calls();
    clicker.put_startport(Variant::from_double(2.5)); // half to even: port 2
    clicker.EmptyScanner();
    EXPECT_EQ(fake.log, (CallLog{"Init(2)"}));
}

TEST_F(MaintenanceTest, EmptyScannerFailsBeforeAnyCallOnAnUnusablePort)
{
    download_from(0);
    clicker.put_pnewdatetime(u"301514071226");
    clicker.put_startport(Variant::from_text(u"abc"));
    EXPECT_AUTOMATION_ERROR(clicker.EmptyScanner(), 13);
    clicker.put_startport(Variant::null());
    EXPECT_AUTOMATION_ERROR(clicker.EmptyScanner(), 94);
    clicker.put_startport(Variant::from_double(3e9));
    EXPECT_AUTOMATION_ERROR(clicker.EmptyScanner(), 6);
    EXPECT_TRUE(fake.log.empty());
    EXPECT_EQ(clicker.get_open_ok(), variant_true);
}

// setdate

CallLog set_clock(const std::string& port, const std::string& bytes)
{
    return {"Init(" + port + ")", "WakeUp", "SetTime(" + bytes + ")", "PowerDown", "Restore"};
}

TEST_F(MaintenanceTest, SetdateSendsThePcClockOnPortZeroWhenNoPortIsKnown)
{
    clicker.setdate(); // the fake clock stands at 09:05:03 on 8 December 2026
    EXPECT_EQ(fake.log, set_clock("0", "3,5,9,8,12,26")) << "no wait, no clear";
    EXPECT_EQ(fake.scanner.set_times, (std::vector<ClockBytes>{{3, 5, 9, 8, 12, 26}}));
    EXPECT_EQ(fake.clock.readings, 1) << "date and time come from one reading";
    EXPECT_EQ(fake.pump.dispatches, 0);
    EXPECT_EQ(clicker.get_open_ok(), variant_false);
}

TEST_F(MaintenanceTest, SetdateUsesTheRememberedPortAndIgnoresEveryResult)
{
    download_from(6);
    clicker.put_startport(Variant::from_text(u"7")); // no scanner answers there
    clicker.put_pnewdatetime(u"301514071226");
    fake.clock.set(2026, 12, 8, 9, 5, 3); // the download's wait moved it on
    clicker.setdate();
    EXPECT_EQ(fake.log, set_clock("7", "3,5,9,8,12,26"));
    EXPECT_EQ(clicker.get_open_ok(), variant_true) << "open_ok is not setdate's business";
}

TEST_F(MaintenanceTest, SetdateFailsBeforeAnyCallOnAnUnusablePort)
{
    clicker.put_startport(Variant::from_text(u"abc"));
    EXPECT_AUTOMATION_ERROR(clicker.setdate(), 13);
    clicker.put_startport(Variant::null());
    EXPECT_AUTOMATION_ERROR(clicker.setdate(), 94);
    clicker.put_startport(Variant::from_double(-3e9));
    EXPECT_AUTOMATION_ERROR(clicker.setdate(), 6);
    EXPECT_TRUE(fake.log.empty());
}

TEST_F(MaintenanceTest, SetdateSendsTwoDigitFieldsOfAnyTime)
{
    struct Case {
        int year, month, day, hour, minute, second;
        ClockBytes bytes;
    };
    const Case cases[] = {
        {2026, 1, 1, 0, 0, 0, {0, 0, 0, 1, 1, 26}},
        {2000, 2, 29, 23, 59, 59, {59, 59, 23, 29, 2, 0}},
        {2099, 12, 31, 12, 34, 56, {56, 34, 12, 31, 12, 99}},
        {2010, 10, 10, 10, 10, 10, {10, 10, 10, 10, 10, 10}},
        {2101, 7, 4, 5, 6, 7, {7, 6, 5, 4, 7, 1}},
    };
    for (const Case& c : cases) {
        fake.clock.set(c.year, c.month, c.day, c.hour, c.minute, c.second, 999);
        fake.scanner.set_times.clear();
        clicker.setdate();
        ASSERT_EQ(fake.scanner.set_times.size(), 1u);
        EXPECT_EQ(fake.scanner.set_times[0], c.bytes) << c.year << "-" << c.month << "-" << c.day;
    }
}

} // namespace
} // namespace qmx
