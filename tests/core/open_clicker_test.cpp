// open_clicker: the remembered port, the search over ports 0 to 15, the conversions of
// startport, and the order of the library calls in a whole download.
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
using ::testing::ElementsAreArray;

class OpenClickerTest : public ::testing::Test {
protected:
    // The scanner answers on `port`; every port in `closed_ports` opens but fails the
    // status check. The count the scanner reports depends on the port last opened.
    void scanner_on(std::int32_t port, std::vector<std::int32_t> closed_ports = {})
    {
        fake.scanner.init = [this, port, closed_ports](std::int32_t p) {
            opened = p;
            return p == port || std::count(closed_ports.begin(), closed_ports.end(), p) ? 0 : -1;
        };
        fake.scanner.system_status = [this, port] { return opened == port ? 0 : 1; };
    }

    std::size_t count_of(const std::string& call) const
    {
        return static_cast<std::size_t>(std::count(fake.log.begin(), fake.log.end(), call));
    }

    // A download that finds the scanner on port 3 with one barcode, so that there is
    // something for a later call to keep or overwrite.
    void earlier_download()
    {
        scanner_on(3);
        fake.scanner.read_data = [] { return 1; };
        fake.scanner.device_id = [](DeviceIdBuffer& id) {
            id = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0};
            return 0;
        };
        fake.scanner.packet = [](PacketBuffer& p, std::int32_t number) {
            if (number != 0)
                return -1;
            p = {};
            p[0] = 8; // L: code type, "XYZ", 4 time-stamp bytes
            p[1] = 9;
            p[2] = 'X';
            p[3] = 'Y';
            p[4] = 'Z';
            return 0;
        };
        fake.scanner.time_stamp = [](const TimeStampBytes&, TimeStampText& text) {
            const std::string stamp = "05/20/05 13:45:12";
            std::copy(stamp.begin(), stamp.end(), text.begin());
            return 0;
        };
        fake.scanner.get_time = [](ClockBytes& clock) {
            clock = {45, 30, 14, 20, 5, 5};
            return 0;
        };
        clicker.open_clicker();
        ASSERT_EQ(clicker.get_comport(), 3);
        fake.log.clear();
    }

    void expect_earlier_download_kept() const
    {
        const ClickerFields& f = clicker.fields();
        EXPECT_EQ(f.serial_hex, u"123456789ABCDEF0");
        EXPECT_EQ(f.barcodes.at(1), u"XYZ");
        EXPECT_EQ(f.code_types.at(1).short_value(), 9);
        EXPECT_EQ(f.scan_times.at(1), date_from_civil({2005, 5, 20, 13, 45, 12}));
        EXPECT_EQ(f.clock_digits.view(), u"453014200505");
        EXPECT_EQ(f.clock_flag.view(), u"H");
    }

    test::FakePlatform fake;
    Clicker clicker{fake.platform()};
    std::int32_t opened = -1;
};

TEST_F(OpenClickerTest, WithoutARememberedPortTheSearchStopsAtTheFirstAnsweringPort)
{
    scanner_on(3, {1});
    fake.scanner.read_data = [this] { return opened == 1 ? 4 : 0; };
    clicker.open_clicker();

    // Count before status on every opened port; a refused status is released, a failed
    // Init is not; ports 4 to 15 are never touched.
    EXPECT_THAT(fake.log, ElementsAre("Init(0)", "Init(1)", "ReadData", "GetSystemStatus", "Restore", "Init(2)",
                                      "Init(3)", "ReadData", "GetSystemStatus", "GetDeviceId", "SettleDelay",
                                      "WakeUp", "GetTime", "PowerDown", "Restore"));
    EXPECT_EQ(clicker.get_comport(), 3);
    EXPECT_EQ(clicker.get_open_ok(), variant_true);
    EXPECT_EQ(clicker.get_num_barcodes(), 0);
}

TEST_F(OpenClickerTest, TheRememberedPortComesFirst)
{
    // Hit: only the remembered port is probed.
    scanner_on(3);
    clicker.put_startport(Variant::from_short(3));
    clicker.open_clicker();
    EXPECT_THAT(fake.log, ElementsAre("Init(3)", "ReadData", "GetSystemStatus", "GetDeviceId", "SettleDelay",
                                      "WakeUp", "GetTime", "PowerDown", "Restore"));
    EXPECT_EQ(clicker.get_comport(), 3);
    EXPECT_EQ(clicker.get_open_ok(), variant_true);

    // Miss: then the search from port 0.
    fake.log.clear();
    scanner_on(2);
    clicker.put_startport(Variant::from_short(7));
    clicker.open_clicker();
    EXPECT_THAT(fake.log, ElementsAre("Init(7)", "Init(0)", "Init(1)", "Init(2)", "ReadData", "GetSystemStatus",
                                      "GetDeviceId", "SettleDelay", "WakeUp", "GetTime", "PowerDown", "Restore"));
    EXPECT_EQ(clicker.get_comport(), 2);

    // Opens but fails the status check: released before the search.
    fake.log.clear();
    scanner_on(2, {7});
    clicker.open_clicker();
    EXPECT_THAT(fake.log, ElementsAre("Init(7)", "ReadData", "GetSystemStatus", "Restore", "Init(0)", "Init(1)",
                                      "Init(2)", "ReadData", "GetSystemStatus", "GetDeviceId", "SettleDelay",
                                      "WakeUp", "GetTime", "PowerDown", "Restore"));
    EXPECT_EQ(clicker.get_comport(), 2);
}

TEST_F(OpenClickerTest, NoScannerAnywhereProbesTheRememberedPortTwiceAndKeepsTheDownload)
{
    earlier_download();
    fake.scanner.init = [](std::int32_t) { return -1; };
    clicker.put_startport(Variant::from_short(7));
    clicker.open_clicker();

    std::vector<std::string> probes{"Init(7)"};
    for (int port = 0; port <= 15; ++port)
        probes.push_back("Init(" + std::to_string(port) + ")");
    EXPECT_THAT(fake.log, ElementsAreArray(probes)); // 17 probes, 7 twice, nothing else
    EXPECT_EQ(clicker.get_comport(), 999);
    EXPECT_EQ(clicker.get_open_ok(), variant_false);
    EXPECT_EQ(clicker.get_num_barcodes(), 1) << "no port opened, so the count stays";
    expect_earlier_download_kept();
}

TEST_F(OpenClickerTest, PortsThatOpenButFailTheStatusLeaveTheirCount)
{
    std::int32_t count_of_port[] = {4, 9};
    fake.scanner.init = [this](std::int32_t p) {
        opened = p;
        return p <= 1 ? 0 : -1;
    };
    fake.scanner.read_data = [&] { return count_of_port[opened]; };
    fake.scanner.system_status = [] { return 1; };
    clicker.open_clicker();

    std::vector<std::string> expected{"Init(0)", "ReadData", "GetSystemStatus", "Restore",
                                      "Init(1)", "ReadData", "GetSystemStatus", "Restore"};
    for (int port = 2; port <= 15; ++port)
        expected.push_back("Init(" + std::to_string(port) + ")");
    EXPECT_THAT(fake.log, ElementsAreArray(expected));
    EXPECT_EQ(clicker.get_comport(), 999);
    EXPECT_EQ(clicker.get_open_ok(), variant_false);
    EXPECT_EQ(clicker.get_num_barcodes(), 9);
}

TEST_F(OpenClickerTest, StartportIsConvertedByTheAutomationRules)
{
    struct Case {
        Variant startport;
        std::int32_t port;
    };
    const Case cases[] = {
        {Variant::from_double(2.5), 2},   // a half goes to the even neighbour
        {Variant::from_double(3.5), 4},
        {Variant::from_text(u"5"), 5},     // numeric text is a number
        {Variant::from_long(12), 12},
    };
    for (const Case& c : cases) {
        fake.log.clear();
        scanner_on(c.port);
        clicker.put_startport(c.startport);
        clicker.open_clicker();
        ASSERT_FALSE(fake.log.empty());
        EXPECT_EQ(fake.log[0], "Init(" + std::to_string(c.port) + ")");
        EXPECT_EQ(count_of("Init(" + std::to_string(c.port) + ")"), 1u) << "found on the remembered port";
        EXPECT_EQ(clicker.get_comport(), c.port);
        EXPECT_EQ(clicker.get_open_ok(), variant_true);
    }
}

TEST_F(OpenClickerTest, AStartportWithoutAPortNumberFailsBeforeAnyLibraryCall)
{
    earlier_download();
    struct Case {
        Variant startport;
        int error;
    };
    const Case cases[] = {
        {Variant::from_text(u"COM3"), 13},
        {Variant::null(), 94},
        {Variant::from_double(3e9), 6}, // beyond 32 bits
    };
    for (const Case& c : cases) {
        // Each time after a download that found the scanner, so the reset is visible.
        scanner_on(3);
        clicker.put_startport(Variant());
        clicker.open_clicker();
        ASSERT_EQ(clicker.get_open_ok(), variant_true);
        fake.log.clear();

        clicker.put_startport(c.startport);
        EXPECT_AUTOMATION_ERROR(clicker.open_clicker(), c.error);
        EXPECT_TRUE(fake.log.empty());
        EXPECT_EQ(clicker.get_open_ok(), variant_false);
        EXPECT_EQ(clicker.get_comport(), 999);
        expect_earlier_download_kept();
    }
}

TEST_F(OpenClickerTest, ARememberedPortBeyondSixteenBitsFailsWhenItAnswers)
{
    scanner_on(70000);
    fake.scanner.read_data = [] { return 2; };
    clicker.put_startport(Variant::from_long(70000));
    EXPECT_AUTOMATION_ERROR(clicker.open_clicker(), 6);
    // The port stays open: no Restore, no search.
    EXPECT_THAT(fake.log, ElementsAre("Init(70000)", "ReadData", "GetSystemStatus"));
    EXPECT_EQ(clicker.get_comport(), 999);
    EXPECT_EQ(clicker.get_open_ok(), variant_false);
    EXPECT_EQ(clicker.get_num_barcodes(), 2);

    // When it does not answer, the search goes on as usual.
    fake.log.clear();
    scanner_on(1, {70000});
    clicker.open_clicker();
    EXPECT_EQ(clicker.get_comport(), 1);
}

TEST_F(OpenClickerTest, ARememberedPort999ThatAnswersIsDownloaded)
{
    scanner_on(999);
    clicker.put_startport(Variant::from_short(999));
    clicker.open_clicker();
    EXPECT_THAT(fake.log, ElementsAre("Init(999)", "ReadData", "GetSystemStatus", "GetDeviceId", "SettleDelay",
                                      "WakeUp", "GetTime", "PowerDown", "Restore"));
    EXPECT_EQ(clicker.get_comport(), 999);
    EXPECT_EQ(clicker.get_open_ok(), variant_true);
    EXPECT_EQ(clicker.fields().clock_flag.view(), u"H");
}

TEST_F(OpenClickerTest, ACountBeyondSixteenBitsFailsWithThePortOpen)
{
    for (std::int32_t count : {32768, 40000, -32769}) {
        fake.log.clear();
        scanner_on(0);
        fake.scanner.read_data = [] { return 7; };
        clicker.open_clicker();
        fake.log.clear();

        fake.scanner.read_data = [count] { return count; };
        EXPECT_AUTOMATION_ERROR(clicker.open_clicker(), 6);
        EXPECT_THAT(fake.log, ElementsAre("Init(0)", "ReadData")) << count;
        EXPECT_EQ(clicker.get_num_barcodes(), 7);
        EXPECT_EQ(clicker.get_open_ok(), variant_false);
    }

    fake.log.clear();
    fake.scanner.read_data = [] { return 32767; };
    fake.scanner.system_status = [] { return 1; }; // the limit itself fits
    clicker.open_clicker();
    EXPECT_EQ(clicker.get_num_barcodes(), 32767);
}

TEST_F(OpenClickerTest, ANegativeCountReadsNoPacketButStillWaitsAndReadsTheClock)
{
    scanner_on(0);
    fake.scanner.read_data = [] { return -3; };
    clicker.open_clicker();
    EXPECT_THAT(fake.log, ElementsAre("Init(0)", "ReadData", "GetSystemStatus", "GetDeviceId", "SettleDelay",
                                      "WakeUp", "GetTime", "PowerDown", "Restore"));
    EXPECT_EQ(clicker.get_num_barcodes(), -3);
    EXPECT_EQ(clicker.get_open_ok(), variant_true);
}

TEST_F(OpenClickerTest, AFullDownloadMakesTheCallsInOrderWithOneWait)
{
    scanner_on(0);
    fake.scanner.read_data = [] { return 2; };
    fake.scanner.packet = [](PacketBuffer& p, std::int32_t number) {
        const std::uint8_t base = static_cast<std::uint8_t>(4 * number);
        p = {};
        p[0] = 6; // one barcode character, time stamp in bytes 4 to 7
        p[1] = 1;
        p[2] = 'A';
        p[3] = base + 1;
        p[4] = base + 2;
        p[5] = base + 3;
        p[6] = base + 4;
        return 0;
    };
    fake.scanner.time_stamp = [](const TimeStampBytes&, TimeStampText& text) {
        const std::string stamp = "05/20/05 13:45:12";
        std::copy(stamp.begin(), stamp.end(), text.begin());
        return 0;
    };
    clicker.open_clicker();
    EXPECT_THAT(fake.log, ElementsAre("Init(0)", "ReadData", "GetSystemStatus", "GetDeviceId", "GetPacket(0)",
                                      "TimeStamp2Str(1,2,3,4)", "GetPacket(1)", "TimeStamp2Str(5,6,7,8)",
                                      "SettleDelay", "WakeUp", "GetTime", "PowerDown", "Restore"));
    EXPECT_GT(fake.pump.waited_ms, 0) << "the wait really waited";
    EXPECT_EQ(clicker.get_num_barcodes(), 2);
}

} // namespace
} // namespace qmx
