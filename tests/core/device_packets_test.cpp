// The middle of a download: the device identity, the packet layout, the 500-entry limit,
// the failure points of short packets, and an early stop of the packet loop.
#include "core/clicker.h"
#include "support/fake_platform.h"
#include "support/matchers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace qmx {
namespace {

using ::testing::ElementsAre;

using test::fill_packet;
using test::HeldBarcode;
using test::render;

class DevicePacketsTest : public ::testing::Test {
protected:
    DevicePacketsTest()
    {
        fake.scanner.scanner_on_port(0);
        hold({});
    }

    void hold(std::vector<HeldBarcode> held, std::int32_t count = -1) { fake.scanner.hold(std::move(held), count); }

    static std::vector<HeldBarcode> numbered(int n, const std::string& prefix, std::uint8_t code_type)
    {
        std::vector<HeldBarcode> held;
        for (int k = 1; k <= n; ++k)
            held.push_back({code_type, prefix + std::to_string(k), "05/20/05 13:45:12"});
        return held;
    }

    bool logged(const std::string& call) const
    {
        return std::find(fake.log.begin(), fake.log.end(), call) != fake.log.end();
    }

    test::FakePlatform fake;
    Clicker clicker{fake.platform()};
    const ClickerFields& f = clicker.fields();
};

TEST_F(DevicePacketsTest, IdentityIsSixteenUpperCaseHexDigitsOfBytesOneToEight)
{
    fake.scanner.device_id = [](DeviceIdBuffer& id) {
        id = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0x77};
        return 0;
    };
    clicker.open_clicker();
    EXPECT_EQ(clicker.get_serial().text_value(), u"0123456789ABCDEF");

    fake.scanner.device_id = [](DeviceIdBuffer& id) {
        id = {10, 0, 255, 0, 0, 0, 0, 1, 0xFF};
        return -1; // the result is not looked at
    };
    clicker.open_clicker();
    EXPECT_EQ(clicker.get_serial().text_value(), u"0A00FF0000000001");

    // A library that writes nothing leaves the zero-filled buffer, not the last identity.
    bool zero_on_entry = false;
    fake.scanner.device_id = [&](DeviceIdBuffer& id) {
        zero_on_entry = std::all_of(id.begin(), id.end(), [](std::uint8_t b) { return b == 0; });
        return 0;
    };
    clicker.open_clicker();
    EXPECT_TRUE(zero_on_entry);
    EXPECT_EQ(clicker.get_serial().text_value(), u"0000000000000000");
}

TEST_F(DevicePacketsTest, PacketFieldsFollowTheLength)
{
    std::vector<PacketBuffer> packets(3);
    packets[0] = {11, 28, 'A', 'B', '-', '1', '2', '3', 9, 10, 11, 12, 0xEE, 0xEE}; // L = 11
    packets[1] = {5, 3, 21, 22, 23, 24, 0xEE};                                      // L = 5: no barcode
    packets[2] = {7, 255, 'a', 'b', 1, 2, 3, 4};                                   // case kept, type 255
    fake.scanner.read_data = [] { return 3; };
    fake.scanner.packet = [&](PacketBuffer& p, std::int32_t number) {
        p = packets[static_cast<std::size_t>(number)];
        return 0;
    };
    fake.scanner.time_stamp = [](const TimeStampBytes&, TimeStampText& text) {
        render(text, "05/20/05 13:45:12");
        return 0;
    };
    clicker.open_clicker();

    EXPECT_THAT(fake.log, ElementsAre("Init(0)", "ReadData", "GetSystemStatus", "GetDeviceId", "GetPacket(0)",
                                      "TimeStamp2Str(9,10,11,12)", "GetPacket(1)", "TimeStamp2Str(21,22,23,24)",
                                      "GetPacket(2)", "TimeStamp2Str(1,2,3,4)", "SettleDelay", "WakeUp", "GetTime",
                                      "PowerDown", "Restore"));
    EXPECT_EQ(f.barcodes.at(1), u"AB-123");
    EXPECT_EQ(f.barcodes.at(2), u"");
    EXPECT_EQ(f.barcodes.at(3), u"ab");
    EXPECT_EQ(f.code_types.at(1).type(), Variant::Type::Short);
    EXPECT_EQ(f.code_types.at(1).short_value(), 28);
    EXPECT_EQ(f.code_types.at(2).short_value(), 3);
    EXPECT_EQ(f.code_types.at(3).short_value(), 255);
    for (int k = 1; k <= 3; ++k)
        EXPECT_EQ(f.scan_times.at(k), date_from_civil({2005, 5, 20, 13, 45, 12})) << k;
    // The buffers handed over: identity 9, then packet 500 and time-stamp text 30 each time.
    EXPECT_THAT(fake.scanner.sizes, ElementsAre(9, 500, 30, 500, 30, 500, 30));
}

TEST_F(DevicePacketsTest, BytesAboveOneTwoSevenStayOneCharacterEach)
{
    hold({{200, std::string("\xE9\x80\xFF", 3), "05/20/05 13:45:12"}});
    clicker.open_clicker();
    EXPECT_EQ(f.barcodes.at(1), (std::u16string{u'\u00E9', u'\u0080', u'\u00FF'}));
    EXPECT_EQ(f.code_types.at(1).short_value(), 200);
}

TEST_F(DevicePacketsTest, TheTimeStampTextCarriesOverFromPacketToPacket)
{
    std::vector<std::string> seen;
    fake.scanner.read_data = [] { return 3; };
    fake.scanner.packet = [](PacketBuffer& p, std::int32_t) {
        fill_packet(p, 1, "X", {1, 2, 3, 4});
        return 0;
    };
    fake.scanner.time_stamp = [&](const TimeStampBytes&, TimeStampText& text) {
        seen.emplace_back(text.begin(), text.begin() + 17);
        if (seen.size() == 1)
            render(text, "05/20/05 13:45:63"); // later packets: the library writes nothing
        return 0;
    };
    clicker.open_clicker();

    // The repair of the first packet's text is what the next packet finds in the buffer.
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], std::string(17, '\0'));
    EXPECT_EQ(seen[1], "05/20/05 13:45:00");
    EXPECT_EQ(seen[2], "05/20/05 13:45:00");
    for (int k = 1; k <= 3; ++k)
        EXPECT_EQ(f.scan_times.at(k), date_from_civil({2005, 5, 20, 13, 45, 0})) << k;
}

TEST_F(DevicePacketsTest, AnEarlyStopResetsTheEntriesUpToTheCount)
{
    // An earlier download of another scanner with seven entries.
    hold(numbered(7, "OLD", 11));
    clicker.open_clicker();
    ASSERT_EQ(f.barcodes.at(5), u"OLD5");

    // This one reports 5 but delivers only packets 0 and 1.
    fake.log.clear();
    hold({{1, "NEW1", "06/21/06 10:00:00"}, {2, "NEW2", "06/21/06 11:00:00"}}, 5);
    clicker.open_clicker();

    EXPECT_THAT(fake.log, ElementsAre("Init(0)", "ReadData", "GetSystemStatus", "GetDeviceId", "GetPacket(0)",
                                      "TimeStamp2Str(0,0,165,90)", "GetPacket(1)", "TimeStamp2Str(1,0,165,90)",
                                      "GetPacket(2)", "SettleDelay", "WakeUp", "GetTime", "PowerDown", "Restore"));
    EXPECT_EQ(clicker.get_num_barcodes(), 5);
    EXPECT_EQ(clicker.get_open_ok(), variant_true);
    EXPECT_EQ(f.barcodes.at(1), u"NEW1");
    EXPECT_EQ(f.barcodes.at(2), u"NEW2");
    EXPECT_EQ(f.scan_times.at(2), date_from_civil({2006, 6, 21, 11, 0, 0}));
    for (int k = 3; k <= 5; ++k) {
        EXPECT_EQ(f.barcodes.at(k), u"") << k;
        EXPECT_TRUE(f.code_types.at(k).is_empty()) << k;
        EXPECT_EQ(f.scan_times.at(k), 0.0) << k;
    }
    // Above the count: untouched.
    EXPECT_EQ(f.barcodes.at(6), u"OLD6");
    EXPECT_EQ(f.code_types.at(7).short_value(), 11);
    EXPECT_EQ(f.scan_times.at(7), date_from_civil({2005, 5, 20, 13, 45, 12}));
}

TEST_F(DevicePacketsTest, AnEarlyStopWithACountAboveTheTablesResetsUpToEntry500)
{
    hold(numbered(499, "B", 1), 600);
    clicker.open_clicker(); // stops at entry 500; no entry 501 is touched
    EXPECT_EQ(clicker.get_num_barcodes(), 600);
    EXPECT_EQ(f.barcodes.at(499), u"B499");
    EXPECT_EQ(f.barcodes.at(500), u"");
    EXPECT_EQ(fake.log.back(), "Restore");
}

TEST_F(DevicePacketsTest, APacketForEntry501FailsBeforeItIsStored)
{
    hold(numbered(501, "C", 4), 600);
    EXPECT_AUTOMATION_ERROR(clicker.open_clicker(), 9);

    EXPECT_EQ(f.barcodes.at(500), u"C500");
    EXPECT_EQ(f.code_types.at(500).short_value(), 4);
    EXPECT_EQ(f.scan_times.at(500), date_from_civil({2005, 5, 20, 13, 45, 12}));
    // Nothing of packet 500 was used, and neither the wait nor the clock followed.
    ASSERT_GE(fake.log.size(), 2u);
    EXPECT_EQ(fake.log.back(), "GetPacket(500)");
    EXPECT_EQ(fake.log[fake.log.size() - 2], "TimeStamp2Str(243,1,165,90)");
    EXPECT_FALSE(logged("SettleDelay"));
    EXPECT_FALSE(logged("WakeUp"));
    EXPECT_FALSE(logged("Restore"));
    EXPECT_EQ(clicker.get_open_ok(), variant_true);
}

TEST_F(DevicePacketsTest, ShortPacketsFailWithInvalidArgument)
{
    for (std::uint8_t length : {0, 1, 2, 3, 4}) {
        hold(numbered(2, "OLD", 11));
        clicker.open_clicker();
        fake.log.clear();

        fake.scanner.read_data = [] { return 2; };
        fake.scanner.packet = [length](PacketBuffer& p, std::int32_t number) {
            if (number == 0)
                fill_packet(p, 7, "GOOD", {1, 2, 3, 4});
            else
                p = {length, 42, 'Z', 'Z', 'Z', 'Z', 'Z', 'Z'};
            return 0;
        };
        fake.scanner.time_stamp = [](const TimeStampBytes&, TimeStampText& text) {
            render(text, "05/20/05 13:45:12");
            return 0;
        };
        // Below 3 the time stamp would start before the packet; at 3 or 4 the barcode
        // would have a negative length. Either way: the code type is stored, the barcode
        // is not, and the download ends with the port open.
        EXPECT_AUTOMATION_ERROR(clicker.open_clicker(), 5);
        EXPECT_THAT(fake.log, ElementsAre("Init(0)", "ReadData", "GetSystemStatus", "GetDeviceId", "GetPacket(0)",
                                          "TimeStamp2Str(1,2,3,4)", "GetPacket(1)"))
            << int(length);
        EXPECT_EQ(f.barcodes.at(1), u"GOOD");
        EXPECT_EQ(f.code_types.at(2).short_value(), 42) << int(length);
        EXPECT_EQ(f.barcodes.at(2), u"OLD2") << int(length);
        EXPECT_EQ(clicker.get_open_ok(), variant_true);
    }
}

TEST_F(DevicePacketsTest, TimeStampTextsThatCannotBeReadEndTheDownload)
{
    // The library writes nothing into the zero-filled text of the first packet.
    hold(numbered(1, "A", 1));
    fake.scanner.time_stamp = [](const TimeStampBytes&, TimeStampText&) { return 0; };
    EXPECT_AUTOMATION_ERROR(clicker.open_clicker(), 5);
    EXPECT_EQ(f.barcodes.at(1), u"A1");
    EXPECT_EQ(fake.log.back(), "TimeStamp2Str(0,0,165,90)");

    // A date with a time out of range.
    fake.log.clear();
    hold({{1, "B", "05/20/05 24:00:00"}});
    EXPECT_AUTOMATION_ERROR(clicker.open_clicker(), 13);
    EXPECT_EQ(f.barcodes.at(1), u"B");
    EXPECT_FALSE(logged("SettleDelay"));
    EXPECT_FALSE(logged("Restore"));

    // No date in it: the fallback date, and the download goes on.
    fake.log.clear();
    hold({{1, "C", "13/45/05 24:00:00"}});
    clicker.open_clicker();
    EXPECT_EQ(f.scan_times.at(1), 36892.0);
    EXPECT_EQ(fake.log.back(), "Restore");
}

} // namespace
} // namespace qmx
