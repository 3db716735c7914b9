// A host calling the same object from a message handler while a member waits: the nested
// call runs to its end, and the outer one finishes on the fields as they then stand.
#include "core/clicker.h"
#include "support/fake_platform.h"
#include "support/matchers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace qmx {
namespace {

using ::testing::ElementsAre;

class ReentrancyTest : public ::testing::Test {
protected:
    // A scanner on port 3 holding `count` barcodes "B1", "B2", ...; its clock answers
    // only while the port is open.
    void scanner_with(std::int32_t count)
    {
        fake.scanner.init = [this](std::int32_t p) {
            open = p == 3;
            return open ? 0 : -1;
        };
        fake.scanner.read_data = [count] { return count; };
        fake.scanner.packet = [count](PacketBuffer& p, std::int32_t number) {
            if (number >= count)
                return -1;
            p = {};
            p[0] = 7; // code type, two barcode bytes, four time-stamp bytes
            p[1] = static_cast<std::uint8_t>(number + 1);
            p[2] = 'B';
            p[3] = static_cast<std::uint8_t>('1' + number);
            return 0;
        };
        fake.scanner.time_stamp = [](const TimeStampBytes&, TimeStampText& text) {
            const std::string stamp = "05/20/05 13:45:12";
            std::copy(stamp.begin(), stamp.end(), text.begin());
            return 0;
        };
        // A released port answers nothing: the clock buffer stays as it was given.
        fake.scanner.get_time = [this](ClockBytes& clock) {
            if (!open)
                return -2;
            clock = {12, 34, 9, 8, 12, 26};
            return 0;
        };
        fake.scanner.after_call = [this](const std::string& call) {
            if (call == "Restore")
                open = false;
        };
    }

    // The first dispatch of a settle wait runs `handler`, once.
    void on_first_dispatch(std::function<void()> handler)
    {
        fake.pump.on_dispatch = [this, handler] {
            if (!handled) {
                handled = true;
                handler();
            }
        };
    }

    test::FakePlatform fake;
    Clicker clicker{fake.platform()};
    bool open = false;
    bool handled = false;
};

TEST_F(ReentrancyTest, OpenClickerCalledAgainFromTheWaitCompletesAndTheOuterCallFinishes)
{
    scanner_with(2);
    clicker.put_startport(Variant::from_short(3));
    test::CallLog nested;
    on_first_dispatch([&] {
        const std::size_t before = fake.log.size();
        clicker.open_clicker();
        nested.assign(fake.log.begin() + static_cast<std::ptrdiff_t>(before), fake.log.end());
    });
    clicker.open_clicker();

    // The nested call is a whole download of its own, ending with the port released.
    EXPECT_THAT(nested, ElementsAre("Init(3)", "ReadData", "GetSystemStatus", "GetDeviceId", "GetPacket(0)",
                                    "TimeStamp2Str(0,0,0,0)", "GetPacket(1)", "TimeStamp2Str(0,0,0,0)", "SettleDelay",
                                    "WakeUp", "GetTime", "PowerDown", "Restore"));
    // The outer call then reads the clock of a port that is no longer open.
    EXPECT_THAT(std::vector<std::string>(fake.log.end() - 4, fake.log.end()),
                ElementsAre("WakeUp", "GetTime", "PowerDown", "Restore"));
    const ClickerFields& f = clicker.fields();
    EXPECT_EQ(f.clock_digits.view(), u"000000000000");
    EXPECT_EQ(f.clock_flag.view(), u"H");
    EXPECT_EQ(f.barcodes.at(2), u"B2");
    EXPECT_EQ(clicker.get_comport(), 3);
    EXPECT_EQ(clicker.get_open_ok(), variant_true);
}

TEST_F(ReentrancyTest, AlldataFromTheWaitOfAnotherAlldataGivesBothTheirText)
{
    scanner_with(3);
    clicker.put_startport(Variant::from_short(3));
    std::u16string inner;
    on_first_dispatch([&] { inner = clicker.get_alldata().text_value(); });
    const std::u16string outer = clicker.get_alldata().text_value();

    ASSERT_EQ(inner.size(), 36u + 3 * 32);
    EXPECT_EQ(inner.substr(19, 13), u"H123409081226");
    EXPECT_EQ(outer.size(), inner.size());
    EXPECT_EQ(outer.substr(19, 13), u"H000000000000");
    EXPECT_EQ(outer.substr(32), inner.substr(32));
}

TEST_F(ReentrancyTest, AHandlerThatChangesTheRememberedPortDuringAParameterWait)
{
    scanner_with(0);
    clicker.put_startport(Variant::from_short(3));
    clicker.put_newparams(Variant::from_text(u"0210052201"));
    int waits = 0;
    fake.pump.on_dispatch = [&] {
        // During EmptyScanner's wait, before any parameter is sent.
        if (++waits == 1)
            clicker.put_startport(Variant::from_short(5));
    };
    clicker.reset_params();
    EXPECT_EQ(fake.log.front(), "Init(3)") << "EmptyScanner converted the port before its wait";
    EXPECT_EQ(std::count(fake.log.begin(), fake.log.end(), "Init(5)"), 2)
        << "each entry converts the port as it stands after its own wait";
}

} // namespace
} // namespace qmx
