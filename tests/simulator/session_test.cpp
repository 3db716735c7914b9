// A scanner set up from its files: the scenario file and its errors, the call log file,
// and the state file that carries the scanner from one host run to the next.
#include "simulator/session.h"
#include "simulator/state_file.h"
#include "support/fake_platform.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

namespace qmx::sim {
namespace {

namespace fs = std::filesystem;

class SessionTest : public ::testing::Test {
protected:
    SessionTest()
    {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // Other builds may run these tests at the same time.
        folder = fs::temp_directory_path() /
                 (std::string("qmx-sim-") + info->name() + "-" + std::to_string(std::random_device{}()));
        fs::create_directories(folder);
    }
    ~SessionTest() override { fs::remove_all(folder); }

    fs::path write(const std::string& name, const std::string& content)
    {
        std::ofstream(folder / name, std::ios::binary) << content;
        return folder / name;
    }

    std::string read(const fs::path& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    fs::path folder;
    test::FakeClock pc;
    std::ostringstream errors;
};

TEST_F(SessionTest, WithoutAScenarioFileTheDefaultScannerAnswersOnPortThree)
{
    Session session({std::nullopt, folder / "calls.log", std::nullopt}, pc, errors);
    Scanner& s = session.scanner();
    EXPECT_EQ(s.init(0), -1);
    EXPECT_EQ(s.init(3), 0);
    EXPECT_EQ(s.read_data(), 6);
    EXPECT_EQ(read(folder / "calls.log"), "csp2Init 0 -> -1\ncsp2Init 3 -> 0\ncsp2ReadData -> 6\n");
    EXPECT_EQ(errors.str(), "");
}

TEST_F(SessionTest, TheLogIsAppendedToAcrossRuns)
{
    const fs::path log = write("calls.log", "earlier\n");
    {
        Session first({std::nullopt, log, std::nullopt}, pc, errors);
        first.scanner().restore();
    }
    Session second({std::nullopt, log, std::nullopt}, pc, errors);
    second.scanner().init(3);
    EXPECT_EQ(read(log), "earlier\ncsp2Restore -> 0\ncsp2Init 3 -> 0\n");
}

TEST_F(SessionTest, AScenarioFileDescribesTheScanner)
{
    const fs::path scenario = write("scanner.txt", "port 5\nbarcode 10 2026-01-01 00:00:00 A\n");
    Session session({scenario, std::nullopt, std::nullopt}, pc, errors);
    EXPECT_EQ(session.scanner().init(3), -1);
    EXPECT_EQ(session.scanner().init(5), 0);
    EXPECT_EQ(session.scanner().read_data(), 1);
    EXPECT_EQ(errors.str(), "");
}

TEST_F(SessionTest, ABadScenarioIsReportedAndTheScannerAnswersNowhere)
{
    const fs::path scenario = write("bad.txt", "port 3\nbarcode 10 2026-01-01 00:00:00 A\nfrobnicate\n");
    const fs::path log = folder / "calls.log";
    const fs::path state = folder / "state.txt";
    Session session({scenario, log, state}, pc, errors);
    const std::string message = scenario.string() + ": line 3: unknown directive 'frobnicate'; the scanner answers on no port";
    EXPECT_EQ(errors.str(), "qmx csp2 simulator: " + message + "\n");
    for (std::int32_t port = -1; port <= 16; ++port)
        EXPECT_EQ(session.scanner().init(port), -1) << port;
    EXPECT_EQ(session.scanner().set_defaults(), 0);
    EXPECT_FALSE(fs::exists(state)) << "a broken scenario keeps no state";
    EXPECT_EQ(read(log).substr(0, message.size() + 3), "# " + message + "\n");
}

TEST_F(SessionTest, AMissingScenarioFileIsReportedToo)
{
    Session session({folder / "absent.txt", std::nullopt, std::nullopt}, pc, errors);
    EXPECT_NE(errors.str().find("cannot read the scenario file"), std::string::npos) << errors.str();
    EXPECT_EQ(session.scanner().init(3), -1);
}

TEST_F(SessionTest, TheStateFileCarriesClearClockAndParametersToTheNextRun)
{
    const fs::path scenario = write("scanner.txt", "param 10 1\nbarcode 10 2026-01-01 00:00:00 A\n"
                                                   "barcode 10 2026-01-02 00:00:-- B\npacket 07 00 41\n");
    const fs::path state = folder / "state.txt";
    {
        Session first({scenario, std::nullopt, state}, pc, errors);
        Scanner& s = first.scanner();
        s.init(3);
        s.read_data();
        EXPECT_FALSE(fs::exists(state)) << "nothing written before a change";
        ParamBuffer value{9};
        s.set_param(10, value, 2);
        std::array<std::uint8_t, 6> clock{0, 0, 12, 1, 1, 26};
        s.set_time(clock);
    }
    {
        Session second({scenario, std::nullopt, state}, pc, errors);
        Scanner& s = second.scanner();
        EXPECT_EQ(s.state().params.at(10), 9);
        EXPECT_EQ(s.state().entries.size(), 3u) << "barcodes and raw packets survive a save";
        s.init(3);
        std::array<std::uint8_t, 6> clock{};
        pc.advance_ms(5'000);
        s.get_time(clock);
        EXPECT_EQ(clock, (std::array<std::uint8_t, 6>{5, 0, 12, 1, 1, 26}));
        s.clear_data();
    }
    Session third({scenario, std::nullopt, state}, pc, errors);
    third.scanner().init(3);
    EXPECT_EQ(third.scanner().read_data(), 0);
    EXPECT_EQ(errors.str(), "");
}

// A process killed while the state is written must find either the old state or the new
// one: the file is replaced by a rename, never truncated and rewritten where it stands.
TEST_F(SessionTest, TheStateFileIsReplacedWholeAndNoTemporaryFileStays)
{
    const fs::path state = write("state.txt", "clock offset 0\nbarcode 10 2026-01-01 00:00:00 OLD\n");
    const fs::path earlier = folder / "earlier.txt";
    fs::create_hard_link(state, earlier);
    Session session({std::nullopt, std::nullopt, state}, pc, errors);
    session.scanner().init(3);
    session.scanner().clear_data();

    EXPECT_EQ(read(earlier), "clock offset 0\nbarcode 10 2026-01-01 00:00:00 OLD\n") << "written in place";
    EXPECT_EQ(read(state), "# State of the simulated scanner, rewritten on every change.\nclock offset 0\n");
    for (const auto& file : fs::directory_iterator(folder))
        EXPECT_NE(file.path().extension(), ".tmp") << file.path();
    EXPECT_EQ(errors.str(), "");
}

// A barcode scanned while a host works is in the scanner's memory at once: a host killed
// after that read finds it there on its next run.
TEST_F(SessionTest, ABarcodeScannedDuringAVisitIsKeptInTheStateFile)
{
    const fs::path scenario = write("scanner.txt", "scan-after-read 1 20 2026-01-02 00:00:00 LATE\n");
    const fs::path state = write("state.txt", "barcode 10 2026-01-01 00:00:00 A\n");
    {
        Session visit({scenario, std::nullopt, state}, pc, errors);
        visit.scanner().init(3);
        EXPECT_EQ(visit.scanner().read_data(), 1);
        EXPECT_EQ(visit.scanner().read_data(), 2);
    }
    Session next({std::nullopt, std::nullopt, state}, pc, errors);
    ASSERT_EQ(next.scanner().state().entries.size(), 2u);
    EXPECT_EQ(std::get<Barcode>(next.scanner().state().entries[1]).text, "LATE");
    EXPECT_EQ(errors.str(), "");
}

TEST_F(SessionTest, AStateFileRoundTripsEverythingItKeeps)
{
    ScannerState state;
    state.entries = {Barcode{20, {2026, 5, 20, 13, 45, 12}, true, "lot:7731/b"},
                     Barcode{10, {2026, 5, 20, 13, 45, 0}, false, ""}, RawPacket{{0x03, 0x00, 0xFF}}};
    state.clock_offset_seconds = -1234567;
    state.clock_lost = true;
    state.params = {{-1, 0}, {10, 255}};
    StateOutcome back = parse_state(format_state(state));
    ASSERT_TRUE(back.state) << back.error;
    EXPECT_EQ(*back.state, state);
}

TEST_F(SessionTest, ABadStateFileIsReportedAndTheScenarioStandsInstead)
{
    const fs::path state = write("state.txt", "clock offset 10\nport 4\n");
    Session session({std::nullopt, std::nullopt, state}, pc, errors);
    EXPECT_EQ(errors.str(), "qmx csp2 simulator: " + state.string() +
                                ": line 2: 'port' does not belong in a state file; starting from the scenario instead\n");
    EXPECT_EQ(session.scanner().state().entries.size(), 6u);
    EXPECT_EQ(session.scanner().state().clock_offset_seconds, 0);
}

} // namespace
} // namespace qmx::sim
