// The scanner model entry by entry: ports, the open-port state machine, packets, the
// time-stamp text, the clock, clearing, parameters, faults, buffer bounds and the log.
#include "lines_log.h"
#include "simulator/packet.h"
#include "simulator/scanner.h"
#include "simulator/scenario_parser.h"
#include "simulator/time_stamp.h"
#include "support/fake_platform.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qmx::sim {
namespace {

constexpr std::uint8_t fill = 0xAA;

constexpr std::int32_t no_answer = -1;
constexpr std::int32_t not_open = -2;
constexpr std::int32_t no_packet = -3;
constexpr std::int32_t buffer_short = -4;
constexpr std::int32_t invalid_clock = -5;
constexpr std::int32_t refused = -6;

template <std::size_t N>
std::array<std::uint8_t, N> filled()
{
    std::array<std::uint8_t, N> a;
    a.fill(fill);
    return a;
}

template <std::size_t N>
bool untouched(const std::array<std::uint8_t, N>& a, std::size_t from = 0)
{
    return std::all_of(a.begin() + static_cast<std::ptrdiff_t>(from), a.end(), [](std::uint8_t b) { return b == fill; });
}

class ScannerTest : public ::testing::Test {
protected:
    // The PC clock reads 8 December 2026, 09:05:03.
    test::FakeClock pc;
    test::LinesLog log;

    Scanner& make(std::string_view scenario_text)
    {
        ParseOutcome outcome = parse_scenario(scenario_text);
        EXPECT_TRUE(outcome.scenario) << outcome.error;
        scanners_.push_back(std::make_unique<Scanner>(outcome.scenario.value_or(Scenario{}), pc));
        scanners_.back()->set_log(&log);
        return *scanners_.back();
    }

    std::array<std::uint8_t, 6> time_of(Scanner& s)
    {
        auto clock = filled<6>();
        EXPECT_EQ(s.get_time(clock), 0);
        return clock;
    }

    std::vector<std::unique_ptr<Scanner>> scanners_;
};

using Bytes = std::vector<std::uint8_t>;

Bytes first(const std::array<std::uint8_t, 500>& a, std::size_t n)
{
    return Bytes(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(n));
}

TEST_F(ScannerTest, InitOpensTheScannersPortOnly)
{
    Scanner& s = make("port 3");
    for (std::int32_t port : {0, 1, 2, 4, 15, 16, -1, 999})
        EXPECT_EQ(s.init(port), no_answer) << port;
    EXPECT_FALSE(s.open_port());
    EXPECT_EQ(s.init(3), 0);
    EXPECT_EQ(s.open_port(), 3);
    EXPECT_EQ(s.get_system_status(), 0);
    // A later Init releases the port first, whatever it answers.
    EXPECT_EQ(s.init(4), no_answer);
    EXPECT_FALSE(s.open_port());
    EXPECT_EQ(s.read_data(), not_open);

    Scanner& nowhere = make("port none");
    for (std::int32_t port = -1; port <= 16; ++port)
        EXPECT_EQ(nowhere.init(port), no_answer) << port;
}

TEST_F(ScannerTest, PerPortOverridesDriveEveryBranchOfThePortSearch)
{
    // Ports 0 and 1 open but fail the status check with counts 4 and 9; port 2 answers
    // with a count of its own; the home port refuses with a result of its own.
    Scanner& s = make("port 3\ninit 3 -12\n"
                      "init 0 0\nread-data 0 4\nstatus 0 -9\n"
                      "init 1 0\nread-data 1 9\nstatus 1 7\n"
                      "init 2 0\nread-data 2 -3\n"
                      "barcode 10 2026-01-01 00:00:00 X\n");
    EXPECT_EQ(s.init(0), 0);
    EXPECT_EQ(s.read_data(), 4);
    EXPECT_EQ(s.get_system_status(), -9);
    EXPECT_EQ(s.init(1), 0);
    EXPECT_EQ(s.read_data(), 9);
    EXPECT_EQ(s.get_system_status(), 7);
    EXPECT_EQ(s.init(2), 0);
    EXPECT_EQ(s.read_data(), -3);
    EXPECT_EQ(s.get_system_status(), 0);
    EXPECT_EQ(s.init(3), -12);
    EXPECT_FALSE(s.open_port()) << "a non-zero Init opens nothing";
    EXPECT_EQ(s.init(5), no_answer);
}

TEST_F(ScannerTest, WithNoPortOpenEveryPortEntryFailsAndWritesNothing)
{
    Scanner& s = make("barcode 10 2026-01-01 00:00:00 X\nparam 1 1");
    auto check = [&](const char* when) {
        auto id = filled<9>();
        auto packet = filled<500>();
        auto clock = filled<6>();
        auto param = filled<10>();
        EXPECT_EQ(s.read_data(), not_open) << when;
        EXPECT_EQ(s.get_system_status(), not_open) << when;
        EXPECT_EQ(s.get_device_id(id, 9), not_open) << when;
        EXPECT_EQ(s.get_packet(packet, 0, 500), not_open) << when;
        EXPECT_EQ(s.wake_up(), not_open) << when;
        EXPECT_EQ(s.get_time(clock), not_open) << when;
        EXPECT_EQ(s.set_time(clock), not_open) << when;
        EXPECT_EQ(s.power_down(), not_open) << when;
        EXPECT_EQ(s.clear_data(), not_open) << when;
        EXPECT_EQ(s.interrogate(), not_open) << when;
        param[0] = 9;
        EXPECT_EQ(s.set_param(1, param, 2), not_open) << when;
        EXPECT_TRUE(untouched(id) && untouched(packet) && untouched(clock) && untouched(param, 1)) << when;
        EXPECT_EQ(s.state().entries.size(), 1u) << when;
        EXPECT_EQ(s.state().params.at(1), 1) << when;
    };
    check("before any Init");
    EXPECT_EQ(s.restore(), 0) << "harmless with no port open";
    s.init(3);
    EXPECT_EQ(s.restore(), 0);
    check("after Restore");
    s.init(3);
    s.init(0);
    check("after a failed Init");

    // These two need no port.
    auto text = filled<30>();
    EXPECT_EQ(s.time_stamp_to_text(pack_time_stamp({2026, 5, 20, 13, 45, 12}, true), text, 30), 0);
    EXPECT_EQ(s.set_defaults(), 0);
}

TEST_F(ScannerTest, PacketsCarryLengthCodeTypeBarcodeAndTimeStamp)
{
    Scanner& s = make("barcode 28 2026-05-20 13:45:12 AB-123\n"
                      "barcode 7 2026-05-20 13:45:-- \n"
                      "packet 0A 1C 41 42\n");
    s.init(3);
    EXPECT_EQ(s.read_data(), 3);

    auto packet = filled<500>();
    EXPECT_EQ(s.get_packet(packet, 0, 500), 12);
    EXPECT_EQ(first(packet, 12), (Bytes{11, 28, 'A', 'B', '-', '1', '2', '3', 0x4C, 0xDB, 0x68, 0x69}));
    EXPECT_TRUE(untouched(packet, 12));

    EXPECT_EQ(s.get_packet(packet, 1, 500), 6) << "an empty barcode is L = 5";
    EXPECT_EQ(first(packet, 6), (Bytes{5, 7, 0x7F, 0xDB, 0x68, 0x69}));

    auto raw = filled<500>();
    EXPECT_EQ(s.get_packet(raw, 2, 500), 4) << "a raw packet comes as given, whatever its L says";
    EXPECT_EQ(first(raw, 4), (Bytes{0x0A, 0x1C, 0x41, 0x42}));
    EXPECT_TRUE(untouched(raw, 4));

    for (std::int32_t number : {3, 4, -1, INT32_MIN, INT32_MAX}) {
        auto none = filled<500>();
        EXPECT_EQ(s.get_packet(none, number, 500), no_packet) << number;
        EXPECT_TRUE(untouched(none)) << number;
    }
}

TEST_F(ScannerTest, APacketNeverGoesPastTheAnnouncedSize)
{
    Scanner& s = make("barcode 20 2026-01-01 00:00:00 " + std::string(250, 'Z'));
    s.init(3);
    auto packet = filled<500>();
    EXPECT_EQ(s.get_packet(packet, 0, 255), buffer_short);
    EXPECT_TRUE(untouched(packet));
    EXPECT_EQ(s.get_packet(packet, 0, 0), buffer_short);
    EXPECT_EQ(s.get_packet(packet, 0, -500), buffer_short);
    EXPECT_TRUE(untouched(packet));
    EXPECT_EQ(s.get_packet(packet, 0, 256), 256);
    EXPECT_EQ(packet[0], 255);
    EXPECT_TRUE(untouched(packet, 256));

    // A size larger than the buffer is held to the buffer.
    std::array<std::uint8_t, 100> small{};
    EXPECT_EQ(s.get_packet(small, 0, 500), buffer_short);
}

TEST_F(ScannerTest, PacketFaultsAndCountOverrides)
{
    const std::string five = "barcode 10 2026-01-01 00:00:00 A\nbarcode 10 2026-01-01 00:00:00 B\n"
                             "barcode 10 2026-01-01 00:00:00 C\nbarcode 10 2026-01-01 00:00:00 D\n"
                             "barcode 10 2026-01-01 00:00:00 E\n";
    auto packet = filled<500>();

    Scanner& failing = make(five + "packets-fail-from 2");
    failing.init(3);
    EXPECT_EQ(failing.read_data(), 5);
    EXPECT_EQ(failing.get_packet(packet, 0, 500), 7);
    EXPECT_EQ(failing.get_packet(packet, 1, 500), 7);
    EXPECT_EQ(failing.get_packet(packet, 2, 500), no_packet);
    EXPECT_EQ(failing.get_packet(packet, 4, 500), no_packet);

    Scanner& counted = make(five + "count 40000");
    counted.init(3);
    EXPECT_EQ(counted.read_data(), 40000);
    EXPECT_EQ(counted.get_packet(packet, 4, 500), 7);
    EXPECT_EQ(counted.get_packet(packet, 5, 500), no_packet) << "nothing beyond the stored ones unless asked";

    Scanner& delivering = make(five + "count 600 deliver\ninit 0 0\nread-data 0 2");
    delivering.init(3);
    EXPECT_EQ(delivering.read_data(), 600);
    EXPECT_EQ(delivering.get_packet(packet, 4, 500), 7);
    EXPECT_EQ(packet[2], 'E');
    EXPECT_EQ(delivering.get_packet(packet, 5, 500), 16);
    EXPECT_EQ(std::string(packet.begin() + 2, packet.begin() + 12), "EXTRA00005");
    EXPECT_EQ(delivering.get_packet(packet, 599, 500), 16);
    EXPECT_EQ(std::string(packet.begin() + 2, packet.begin() + 12), "EXTRA00599");
    EXPECT_EQ(delivering.get_packet(packet, 600, 500), no_packet);
    delivering.init(0);
    EXPECT_EQ(delivering.read_data(), 2) << "a per-port count wins";

    Scanner& scanning = make(five + "scan-after-read 2 20 2026-01-02 00:00:00 LATE");
    scanning.init(3);
    EXPECT_EQ(scanning.read_data(), 5);
    EXPECT_EQ(scanning.read_data(), 5);
    EXPECT_EQ(scanning.read_data(), 6) << "scanned after the second read";
    EXPECT_EQ(scanning.get_packet(packet, 5, 500), 10);
    EXPECT_EQ(std::string(packet.begin() + 2, packet.begin() + 6), "LATE");
    EXPECT_EQ(scanning.read_data(), 6) << "stored once";
}

TEST_F(ScannerTest, AFailingEntryAnswersItsResultFromTheNthCallOnAndDoesNothingElse)
{
    Scanner& s = make("barcode 10 2026-01-01 00:00:00 A\nfail csp2GetPacket -9 from 2\nfail csp2GetTime 4 from 1\n"
                      "fail csp2Restore -7 from 1\nfail csp2ClearData -7 from 1");
    auto packet = filled<500>();
    ASSERT_EQ(s.init(3), 0);
    EXPECT_EQ(s.get_packet(packet, 0, 500), 7);
    packet.fill(fill);
    EXPECT_EQ(s.get_packet(packet, 0, 500), -9);
    EXPECT_EQ(s.get_packet(packet, 0, 500), -9) << "and on every later call";
    EXPECT_TRUE(untouched(packet));
    auto clock = filled<6>();
    EXPECT_EQ(s.get_time(clock), 4);
    EXPECT_TRUE(untouched(clock));
    EXPECT_EQ(s.clear_data(), -7);
    EXPECT_EQ(s.state().entries.size(), 1u);
    EXPECT_EQ(s.restore(), -7);
    EXPECT_EQ(s.open_port(), 3) << "a failed restore releases nothing";
    EXPECT_EQ(s.wake_up(), 0) << "other entries are unaffected";
    EXPECT_EQ(log.lines[2], "csp2GetPacket 0 500 -> -9");
}

TEST_F(ScannerTest, DeviceIdentityInEightBytesWithAZeroAfterThemWhenThereIsRoom)
{
    Scanner& s = make("identity 0123456789ABCDEF");
    s.init(3);
    auto id = filled<9>();
    EXPECT_EQ(s.get_device_id(id, 9), 0);
    EXPECT_EQ(id, (std::array<std::uint8_t, 9>{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF, 0}));

    id = filled<9>();
    EXPECT_EQ(s.get_device_id(id, 8), 0);
    EXPECT_EQ(id[7], 0xEF);
    EXPECT_EQ(id[8], fill);
    id = filled<9>();
    EXPECT_EQ(s.get_device_id(id, 7), buffer_short);
    EXPECT_TRUE(untouched(id));

    Scanner& silent = make("identity-untouched");
    silent.init(3);
    id = filled<9>();
    EXPECT_EQ(silent.get_device_id(id, 9), 0);
    EXPECT_TRUE(untouched(id));
}

TEST_F(ScannerTest, TimeStampTextZeroTerminatedWithinTheSize)
{
    Scanner& s = make("");
    const StampBytes stamp{0x4C, 0xDB, 0x68, 0x69};
    auto text = filled<30>();
    EXPECT_EQ(s.time_stamp_to_text(stamp, text, 30), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.data())), "05/20/26 13:45:12");
    EXPECT_TRUE(untouched(text, 18));

    text = filled<30>();
    EXPECT_EQ(s.time_stamp_to_text(stamp, text, 18), 0);
    EXPECT_EQ(text[17], 0);
    text = filled<30>();
    EXPECT_EQ(s.time_stamp_to_text(stamp, text, 17), buffer_short);
    EXPECT_TRUE(untouched(text));
    EXPECT_EQ(s.time_stamp_to_text({}, text, 30), buffer_short) << "no stamp";
    EXPECT_TRUE(untouched(text));

    Scanner& other = make("stamp-text 5/20/05 13:45:12");
    EXPECT_EQ(other.time_stamp_to_text(stamp, text, 30), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.data())), "5/20/05 13:45:12");

    Scanner& silent = make("stamp-text-untouched");
    text = filled<30>();
    EXPECT_EQ(silent.time_stamp_to_text(stamp, text, 30), 0);
    EXPECT_TRUE(untouched(text));
}

TEST_F(ScannerTest, TheClockRunsWithThePcClockFromWhereverItWasSet)
{
    Scanner& s = make("clock pc");
    s.init(3);
    EXPECT_EQ(time_of(s), (std::array<std::uint8_t, 6>{3, 5, 9, 8, 12, 26}));
    pc.advance_ms(61'000);
    EXPECT_EQ(time_of(s), (std::array<std::uint8_t, 6>{4, 6, 9, 8, 12, 26}));

    std::array<std::uint8_t, 6> wanted{30, 15, 14, 7, 12, 26};
    EXPECT_EQ(s.set_time(wanted), 0);
    EXPECT_EQ(time_of(s), wanted);
    pc.advance_ms(10'000);
    EXPECT_EQ(time_of(s), (std::array<std::uint8_t, 6>{40, 15, 14, 7, 12, 26}));

    std::array<std::uint8_t, 6> last_second{59, 59, 23, 31, 12, 99};
    EXPECT_EQ(s.set_time(last_second), 0);
    pc.advance_ms(1'000);
    EXPECT_EQ(time_of(s), (std::array<std::uint8_t, 6>{0, 0, 0, 1, 1, 0})) << "two-digit year rolls over";
    std::array<std::uint8_t, 6> leap_day{0, 0, 12, 29, 2, 28};
    EXPECT_EQ(s.set_time(leap_day), 0);

    Scanner& started = make("clock 2025-01-31 23:59:58");
    started.init(3);
    pc.advance_ms(3'000);
    EXPECT_EQ(time_of(started), (std::array<std::uint8_t, 6>{1, 0, 0, 1, 2, 25}));
    Scanner& offset = make("clock offset -3600");
    offset.init(3);
    EXPECT_EQ(time_of(offset)[2], 8);
}

TEST_F(ScannerTest, AnInvalidClockIsRefusedAndKeepsTheClock)
{
    Scanner& s = make("");
    s.init(3);
    std::array<std::uint8_t, 6> good{30, 15, 14, 7, 12, 26};
    ASSERT_EQ(s.set_time(good), 0);
    const std::array<std::uint8_t, 6> invalid[] = {
        {60, 15, 14, 7, 12, 26}, {30, 60, 14, 7, 12, 26}, {30, 15, 24, 7, 12, 26}, {30, 15, 14, 0, 12, 26},
        {30, 15, 14, 31, 11, 26}, {30, 15, 14, 29, 2, 27}, {30, 15, 14, 7, 13, 26}, {30, 15, 14, 7, 0, 26},
        {30, 15, 14, 7, 12, 100}, {255, 15, 14, 7, 12, 26}, {30, 15, 99, 7, 12, 26},
    };
    for (std::array<std::uint8_t, 6> clock : invalid) {
        EXPECT_EQ(s.set_time(clock), invalid_clock) << int(clock[0]) << " " << int(clock[2]) << " " << int(clock[3]);
        EXPECT_EQ(time_of(s), good);
    }
}

TEST_F(ScannerTest, ALostClockReportsSecondsOf255UntilAValidSet)
{
    Scanner& s = make("clock-lost");
    s.init(3);
    EXPECT_EQ(time_of(s), (std::array<std::uint8_t, 6>{255, 5, 9, 8, 12, 26}));
    std::array<std::uint8_t, 6> invalid{30, 15, 14, 7, 13, 26};
    EXPECT_EQ(s.set_time(invalid), invalid_clock);
    EXPECT_EQ(time_of(s)[0], 255);
    std::array<std::uint8_t, 6> good{30, 15, 14, 7, 12, 26};
    EXPECT_EQ(s.set_time(good), 0);
    EXPECT_EQ(time_of(s), good);
    EXPECT_FALSE(s.state().clock_lost);
}

TEST_F(ScannerTest, ClearDataErasesTheStoredBarcodes)
{
    Scanner& s = make("barcode 10 2026-01-01 00:00:00 A\npacket 05 00 00 00 00 00");
    s.init(3);
    EXPECT_EQ(s.clear_data(), 0);
    EXPECT_EQ(s.read_data(), 0);
    auto packet = filled<500>();
    EXPECT_EQ(s.get_packet(packet, 0, 500), no_packet);
    EXPECT_TRUE(untouched(packet));
}

TEST_F(ScannerTest, ParametersAreSetRefusedAndResetToTheScenarioTable)
{
    Scanner& s = make("param 10 1\nparam 11 2\nrefuse-param 22");
    EXPECT_EQ(s.state().params, (std::map<std::int32_t, std::uint8_t>{{10, 1}, {11, 2}}));
    s.init(3);
    ParamBuffer buffer{5, 0, ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    EXPECT_EQ(s.set_param(10, buffer, 2), 0);
    buffer[0] = 99;
    EXPECT_EQ(s.set_param(22, buffer, 2), refused);
    buffer[0] = 7;
    EXPECT_EQ(s.set_param(-4, buffer, 2), 0);
    EXPECT_EQ(s.set_param(12, buffer, 0), buffer_short);
    EXPECT_EQ(s.set_param(12, {}, 2), buffer_short);
    EXPECT_EQ(s.state().params, (std::map<std::int32_t, std::uint8_t>{{-4, 7}, {10, 5}, {11, 2}}));

    s.restore();
    EXPECT_EQ(s.set_defaults(), 0);
    EXPECT_EQ(s.state().params, (std::map<std::int32_t, std::uint8_t>{{10, 1}, {11, 2}}));
}

TEST_F(ScannerTest, EveryChangeOfStateIsReportedAndFailedCallsChangeNothing)
{
    Scanner& s = make("barcode 10 2026-01-01 00:00:00 A\nrefuse-param 3");
    std::vector<ScannerState> saved;
    s.on_change([&](const ScannerState& state) { saved.push_back(state); });

    std::array<std::uint8_t, 6> clock{0, 0, 12, 1, 1, 26};
    ParamBuffer value{4};
    s.clear_data();
    s.set_time(clock);
    s.set_param(1, value, 2);
    EXPECT_TRUE(saved.empty()) << "no port open";

    s.init(3);
    std::array<std::uint8_t, 6> invalid{0, 0, 12, 1, 13, 26};
    s.set_time(invalid);
    s.set_param(3, value, 2);
    EXPECT_TRUE(saved.empty()) << "refused calls";

    s.clear_data();
    s.set_time(clock);
    s.set_param(1, value, 2);
    s.set_defaults();
    ASSERT_EQ(saved.size(), 4u);
    EXPECT_TRUE(saved[0].entries.empty());
    // 2026-01-01 12:00:00 against the PC's 2026-12-08 09:05:03.
    EXPECT_EQ(saved[1].clock_offset_seconds, -(341 * 86400 - 3 * 3600 + 5 * 60 + 3));
    EXPECT_EQ(saved[2].params.at(1), 4);
    EXPECT_TRUE(saved[3].params.empty());
}

TEST_F(ScannerTest, TheLogHasOneLinePerCallWithItsArgumentsAndResult)
{
    Scanner& s = make("barcode 10 2026-05-20 13:45:12 2001234567893\nrefuse-param 22");
    auto id = filled<9>();
    auto packet = filled<500>();
    auto text = filled<30>();
    std::array<std::uint8_t, 6> clock{30, 15, 14, 7, 12, 26};
    ParamBuffer param{5, 0, ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

    s.init(2);
    s.init(3);
    s.read_data();
    s.get_system_status();
    s.get_device_id(id, 9);
    s.get_packet(packet, 0, 500);
    s.time_stamp_to_text(StampBytes{0x4C, 0xDB, 0x68, 0x69}, text, 30);
    s.get_packet(packet, 1, 500);
    s.wake_up();
    s.set_time(clock);
    s.get_time(clock);
    s.power_down();
    s.interrogate();
    s.set_param(10, param, 2);
    s.set_param(22, param, 2);
    s.clear_data();
    s.restore();
    s.set_defaults();
    s.set_time(clock);
    s.time_stamp_to_text({}, text, 30);
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "csp2Init 2 -> -1",
                             "csp2Init 3 -> 0",
                             "csp2ReadData -> 1",
                             "csp2GetSystemStatus -> 0",
                             "csp2GetDeviceId 9 -> 0",
                             "csp2GetPacket 0 500 -> 19",
                             "csp2TimeStamp2Str 4C DB 68 69 30 -> 0",
                             "csp2GetPacket 1 500 -> -3",
                             "csp2WakeUp -> 0",
                             "csp2SetTime 30 15 14 7 12 26 -> 0",
                             "csp2GetTime -> 0",
                             "csp2PowerDown -> 0",
                             "csp2Interrogate -> 0",
                             "csp2SetParam 10 05 00 20 20 20 20 20 20 20 20 2 -> 0",
                             "csp2SetParam 22 05 00 20 20 20 20 20 20 20 20 2 -> -6",
                             "csp2ClearData -> 0",
                             "csp2Restore -> 0",
                             "csp2SetDefaults -> 0",
                             "csp2SetTime 30 15 14 7 12 26 -> -2",
                             "csp2TimeStamp2Str null 30 -> -4",
                         }));
}

} // namespace
} // namespace qmx::sim
