// The scanner clock: the flag, the two-digit pairs, and getdate's own port and calls.
#include "core/clicker.h"
#include "support/fake_platform.h"
#include "support/matchers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qmx {
namespace {

using ::testing::ElementsAre;

class ScannerClockTest : public ::testing::Test {
protected:
    void clock_reads(ClockBytes bytes)
    {
        fake.scanner.get_time = [bytes](ClockBytes& clock) {
            clock = bytes;
            return 0;
        };
    }

    std::u16string digits() const { return std::u16string(clicker.fields().clock_digits.view()); }
    std::u16string flag() const { return std::u16string(clicker.fields().clock_flag.view()); }

    test::FakePlatform fake;
    Clicker clicker{fake.platform()};
};

TEST_F(ScannerClockTest, EachByteBecomesAPairOfDigits)
{
    fake.scanner.scanner_on_port(0);
    struct Case {
        ClockBytes bytes;
        const char16_t* digits;
        const char16_t* flag;
    };
    const Case cases[] = {
        {{45, 30, 14, 20, 5, 5}, u"453014200505", u"H"},
        {{255, 30, 14, 20, 5, 5}, u"003014200505", u"L"},  // lost clock, seconds read 00
        {{12, 30, 14, 20, 5, 5}, u"123014200505", u"H"},   // and the flag comes back
        {{10, 30, 255, 20, 5, 5}, u"103025200505", u"H"},  // 255 counts only in the seconds
        {{255, 255, 255, 255, 255, 255}, u"002525252525", u"L"},
        {{0, 1, 2, 3, 123, 100}, u"000102031210", u"H"},   // 100 and above keep their first two digits
        {{59, 59, 23, 31, 12, 99}, u"595923311299", u"H"},
    };
    for (const Case& c : cases) {
        clock_reads(c.bytes);
        clicker.open_clicker();
        EXPECT_EQ(digits(), c.digits);
        EXPECT_EQ(flag(), c.flag);
    }

    // A library that writes nothing leaves the zero-filled buffer, not the last reading.
    fake.scanner.get_time = [](ClockBytes&) { return -1; };
    clicker.open_clicker();
    EXPECT_EQ(digits(), u"000000000000");
    EXPECT_EQ(flag(), u"H");
}

TEST_F(ScannerClockTest, GetdateOpensStartportItselfWithoutWaiting)
{
    // A download that found the scanner on port 4 first; getdate still opens startport,
    // and an unassigned startport is port 0.
    fake.scanner.scanner_on_port(4);
    fake.scanner.read_data = [] { return 0; };
    fake.scanner.device_id = [](DeviceIdBuffer& id) {
        id.fill(0x11);
        return 0;
    };
    clicker.open_clicker();
    ASSERT_EQ(clicker.get_comport(), 4);
    fake.log.clear();
    const int clock_readings = fake.clock.readings;

    clock_reads({45, 30, 14, 20, 5, 5});
    clicker.getdate();
    EXPECT_THAT(fake.log, ElementsAre("Init(0)", "WakeUp", "GetTime", "PowerDown", "Restore"));
    EXPECT_EQ(fake.clock.readings, clock_readings) << "no wait";
    EXPECT_EQ(digits(), u"453014200505");
    EXPECT_EQ(flag(), u"H");
    // Nothing of the download changes.
    EXPECT_EQ(clicker.get_comport(), 4);
    EXPECT_EQ(clicker.get_open_ok(), variant_true);
    EXPECT_EQ(clicker.get_num_barcodes(), 0);
    EXPECT_EQ(clicker.get_serial().text_value(), u"1111111111111111");

    // The result of Init is not looked at: the clock is read on a port that did not open.
    fake.log.clear();
    clicker.put_startport(Variant::from_text(u"6"));
    clock_reads({255, 0, 0, 1, 1, 0});
    clicker.getdate();
    EXPECT_THAT(fake.log, ElementsAre("Init(6)", "WakeUp", "GetTime", "PowerDown", "Restore"));
    EXPECT_EQ(digits(), u"000000010100");
    EXPECT_EQ(flag(), u"L");
}

TEST_F(ScannerClockTest, GetdateFailsBeforeAnyCallWhenStartportIsNoPort)
{
    clock_reads({45, 30, 14, 20, 5, 5});
    clicker.getdate();
    fake.log.clear();

    clock_reads({1, 2, 3, 4, 5, 6});
    for (auto [startport, error] : {std::pair{Variant::from_text(u"x"), 13}, std::pair{Variant::null(), 94},
                                    std::pair{Variant::from_double(3e9), 6}}) {
        clicker.put_startport(startport);
        EXPECT_AUTOMATION_ERROR(clicker.getdate(), error);
    }
    EXPECT_TRUE(fake.log.empty());
    EXPECT_EQ(digits(), u"453014200505");
    EXPECT_EQ(flag(), u"H");
}

} // namespace
} // namespace qmx
