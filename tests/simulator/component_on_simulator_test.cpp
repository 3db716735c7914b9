// The component driven against the simulated scanner: what the simulator delivers is what
// the component expects, along every sequence it makes.
#include "core/clicker.h"
#include "lines_log.h"
#include "simulator/default_scenario.h"
#include "simulator/scenario_parser.h"
#include "simulator/simulated_csp2.h"
#include "support/fake_platform.h"

#include <gtest/gtest.h>

namespace qmx::sim {
namespace {

std::u16string u16(std::string_view text)
{
    return std::u16string(text.begin(), text.end());
}

class ComponentOnSimulator : public ::testing::Test {
protected:
    explicit ComponentOnSimulator(Scenario scenario = default_scenario()) : scanner(std::move(scenario), clock)
    {
        scanner.set_log(&calls);
    }

    static Scenario parsed(std::string_view text) { return parse_scenario(text).scenario.value(); }

    // The PC clock reads 8 December 2026, 09:05:03 and moves only while the component waits.
    test::FakeClock clock;
    test::CallLog pump_log;
    test::FakePump pump{pump_log, clock};
    test::FakeDirectory directory;
    Scanner scanner;
    SimulatedCsp2 csp2{scanner};
    test::LinesLog calls;
    Clicker clicker{Platform{csp2, clock, pump, directory}};
};

TEST_F(ComponentOnSimulator, AlldataDownloadsTheDefaultScanner)
{
    const std::u16string upload = clicker.get_alldata().text_value();
    EXPECT_EQ(clicker.get_open_ok(), variant_true);
    EXPECT_EQ(clicker.get_comport(), 3);
    // Identity, clock flag, the clock after the settle wait, count.
    EXPECT_EQ(upload.substr(0, 36), u"V0100126B3FA21904C7H0505090812260006");
    EXPECT_EQ(upload.size(), 36u + 6 * 32);
    EXPECT_EQ(upload.substr(36, 32), u"00120012345678931020261130081205");
    EXPECT_EQ(upload.substr(36 + 3 * 32, 32), u"00429000012345661020261204104700")
        << "seconds not recorded arrive as 63 and are repaired to 00";
    EXPECT_EQ(upload.substr(36 + 4 * 32, 32), u"005lot:7731/b   2020261207163052");

    const ClickerFields& f = clicker.fields();
    const std::vector<StoredEntry>& stored = default_scenario().entries;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const Barcode& b = std::get<Barcode>(stored[i]);
        const int k = static_cast<int>(i) + 1;
        EXPECT_EQ(f.barcodes.at(k), u16(b.text)) << k;
        EXPECT_EQ(f.code_types.at(k).to_short(), b.code_type) << k;
        const CivilDateTime t = civil_from_date(f.scan_times.at(k));
        EXPECT_EQ(t, (CivilDateTime{b.scanned.year, b.scanned.month, b.scanned.day, b.scanned.hour, b.scanned.minute,
                                    b.seconds_recorded ? b.scanned.second : 0}))
            << k;
    }
    EXPECT_FALSE(scanner.open_port()) << "the download released the port";
    EXPECT_EQ(calls.lines.front(), "csp2Init 0 -> -1");
    EXPECT_EQ(calls.lines.back(), "csp2Restore -> 0");
}

TEST_F(ComponentOnSimulator, EmptyScannerSetsTheClockAndClearsAndGetdateReadsItBack)
{
    clicker.put_startport(Variant::from_short(3));
    clicker.put_pnewdatetime(u"301514071226");
    clicker.EmptyScanner();
    EXPECT_TRUE(scanner.state().entries.empty());
    clicker.getdate();
    // Set after the first settle wait; the second wait came before the reading.
    EXPECT_EQ(clicker.fields().clock_digits.view(), u"321514071226");
    EXPECT_EQ(clicker.fields().clock_flag.view(), u"H");
    clicker.open_clicker();
    EXPECT_EQ(clicker.get_num_barcodes(), 0);
    EXPECT_FALSE(scanner.open_port());
}

TEST_F(ComponentOnSimulator, ResetParamsProgramsTheTableOneConversationEach)
{
    clicker.put_startport(Variant::from_short(3));
    clicker.put_newparams(Variant::from_text(u"0210052201"));
    clicker.reset_params();
    EXPECT_EQ(scanner.state().params, (std::map<std::int32_t, std::uint8_t>{{10, 5}, {22, 1}}));
    EXPECT_TRUE(scanner.state().entries.empty());
    EXPECT_NE(std::find(calls.lines.begin(), calls.lines.end(), "csp2SetParam 22 01 00 20 20 20 20 20 20 20 20 2 -> 0"),
              calls.lines.end());
}

class ComponentOnFaultyScanner : public ComponentOnSimulator {
protected:
    ComponentOnFaultyScanner()
        : ComponentOnSimulator(parsed("port none\ninit 0 0\nread-data 0 4\nstatus 0 1\n"
                                      "init 1 0\nread-data 1 9\nstatus 1 1\nclock-lost\n"))
    {
    }
};

TEST_F(ComponentOnFaultyScanner, PortsThatOpenButFailTheStatusCheckFindNoScanner)
{
    clicker.open_clicker();
    EXPECT_EQ(clicker.get_open_ok(), variant_false);
    EXPECT_EQ(clicker.get_comport(), 999);
    EXPECT_EQ(clicker.get_num_barcodes(), 9);
    EXPECT_EQ(std::count(calls.lines.begin(), calls.lines.end(), "csp2Restore -> 0"), 2);
}

TEST_F(ComponentOnFaultyScanner, ALostClockReadsAsFlagL)
{
    clicker.getdate(); // port 0 opens; its status is never asked for
    EXPECT_EQ(clicker.fields().clock_flag.view(), u"L");
    EXPECT_EQ(clicker.fields().clock_digits.view(), u"000509081226");
}

} // namespace
} // namespace qmx::sim
