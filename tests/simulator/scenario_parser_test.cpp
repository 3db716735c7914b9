// Scenario files: every directive, the limits that keep packets inside their buffers, the
// errors with their line numbers, and the built-in default scenario.
#include "simulator/default_scenario.h"
#include "simulator/packet.h"
#include "simulator/scenario_parser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace qmx::sim {
namespace {

Scenario parsed(std::string_view text)
{
    ParseOutcome outcome = parse_scenario(text);
    EXPECT_TRUE(outcome.scenario) << outcome.error;
    return outcome.scenario.value_or(Scenario{});
}

std::string error_of(std::string_view text, FileKind kind = FileKind::scenario)
{
    ParseOutcome outcome = parse_scenario(text, kind);
    EXPECT_FALSE(outcome.scenario) << text;
    return outcome.error;
}

TEST(ScenarioParser, AnEmptyFileIsAnEmptyScannerOnPortThree)
{
    Scenario s = parsed("# nothing but a comment\n\n   \n");
    EXPECT_EQ(s.port, 3);
    EXPECT_EQ(s.identity, default_identity);
    EXPECT_EQ(s.clock, ClockStart{});
    EXPECT_TRUE(s.entries.empty());
    EXPECT_FALSE(s.count);
}

TEST(ScenarioParser, ReadsEveryDirective)
{
    Scenario s = parsed("port 7\r\n"
                        "identity 01 23 45 67 89 AB CD EF\n"
                        "  clock 2025-03-04 05:06:07\n"
                        "clock-lost\n"
                        "barcode 28 2026-05-20 13:45:12 AB-123\n"
                        "barcode 30 2026-05-21 08:00:-- WITH SPACES  \n"
                        "packet 0A1C 41 42\n"
                        "param 10 5\n"
                        "param 22 255\n"
                        "refuse-param 31\n"
                        "init 0 0\n"
                        "read-data 0 4\n"
                        "status 0 -9\n"
                        "count 600 deliver\n"
                        "packets-fail-from 2\n"
                        "identity-untouched\n"
                        "stamp-text 5/20/05 13:45:12\n"
                        "stamp-text-untouched\n");
    EXPECT_EQ(s.port, 7);
    EXPECT_EQ(s.identity, (Identity{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
    EXPECT_EQ(s.clock, (ClockStart{ClockStart::Kind::at, {2025, 3, 4, 5, 6, 7}, 0}));
    EXPECT_TRUE(s.clock_lost);
    ASSERT_EQ(s.entries.size(), 3u);
    EXPECT_EQ(std::get<Barcode>(s.entries[0]), (Barcode{28, {2026, 5, 20, 13, 45, 12}, true, "AB-123"}));
    EXPECT_EQ(std::get<Barcode>(s.entries[1]), (Barcode{30, {2026, 5, 21, 8, 0, 0}, false, "WITH SPACES"}));
    EXPECT_EQ(std::get<RawPacket>(s.entries[2]).bytes, (std::vector<std::uint8_t>{0x0A, 0x1C, 0x41, 0x42}));
    EXPECT_EQ(s.params, (std::map<std::int32_t, std::uint8_t>{{10, 5}, {22, 255}}));
    EXPECT_EQ(s.refused_params, std::set<std::int32_t>{31});
    EXPECT_EQ(s.init_results.at(0), 0);
    EXPECT_EQ(s.read_data_results.at(0), 4);
    EXPECT_EQ(s.status_results.at(0), -9);
    EXPECT_EQ(s.count, 600);
    EXPECT_TRUE(s.deliver_beyond_stored);
    EXPECT_EQ(s.packets_fail_from, 2);
    EXPECT_TRUE(s.identity_untouched);
    EXPECT_EQ(s.stamp_text, "5/20/05 13:45:12");
    EXPECT_TRUE(s.stamp_text_untouched);
}

TEST(ScenarioParser, OtherFormsOfPortClockAndCount)
{
    EXPECT_FALSE(parsed("port none").port);
    EXPECT_EQ(parsed("port -2147483648").port, INT32_MIN);
    EXPECT_EQ(parsed("clock 2025-01-01 00:00:00\nclock pc").clock, ClockStart{});
    EXPECT_EQ(parsed("clock offset -3600").clock, (ClockStart{ClockStart::Kind::offset, {}, -3600}));
    Scenario counted = parsed("count 40000 deliver\ncount 40000");
    EXPECT_EQ(counted.count, 40000);
    EXPECT_FALSE(counted.deliver_beyond_stored) << "the last count line decides";
    Scenario empty_barcode = parsed("barcode 0 2000-01-01 00:00:00");
    EXPECT_EQ(std::get<Barcode>(empty_barcode.entries.at(0)).text, "");
}

TEST(ScenarioParser, BarcodesAndPacketsMustFitTheirPacket)
{
    const std::string prefix = "barcode 20 2026-01-01 00:00:00 ";
    Scenario longest = parsed(prefix + std::string(max_barcode_length, 'X'));
    EXPECT_EQ(packet_bytes(longest.entries.at(0)).front(), 255) << "L of the longest barcode";
    EXPECT_EQ(error_of("\n" + prefix + std::string(max_barcode_length + 1, 'X')),
              "line 2: barcode of 251 bytes; at most 250 fit in a packet");

    std::string raw = "packet";
    for (std::size_t i = 0; i < max_raw_packet_length; ++i)
        raw += " 05";
    EXPECT_EQ(parsed(raw).entries.size(), 1u);
    EXPECT_EQ(error_of(raw + " 05"), "line 1: packet of 501 bytes; it takes 1 to 500");
    EXPECT_EQ(error_of("packet"), "line 1: packet of 0 bytes; it takes 1 to 500");

    EXPECT_EQ(parsed("stamp-text " + std::string(29, '1')).stamp_text->size(), 29u);
    EXPECT_EQ(error_of("stamp-text " + std::string(30, '1')), "line 1: time-stamp text of 30 bytes; it takes 1 to 29");
}

TEST(ScenarioParser, ErrorsNameTheLineAndTheReason)
{
    const std::pair<const char*, const char*> cases[] = {
        {"frobnicate 3", "line 1: unknown directive 'frobnicate'"},
        {"port", "line 1: missing port"},
        {"port three", "line 1: port 'three' is not a whole number"},
        {"port 2147483648", "line 1: port '2147483648' is outside -2147483648 to 2147483647"},
        {"port 3 4", "line 1: unexpected '4'"},
        {"identity 01 23 45", "line 1: identity of 3 bytes; it takes 8"},
        {"identity 0123456789ABCDEZ", "line 1: identity: expected two hexadecimal digits per byte at 'EZ'"},
        {"packet 0A 1", "line 1: packet: expected two hexadecimal digits per byte at '1'"},
        {"barcode 256 2026-01-01 00:00:00 X", "line 1: code type '256' is outside 0 to 255"},
        {"barcode 10 2026-02-29 00:00:00 X", "line 1: date '2026-02-29' does not exist"},
        {"barcode 10 2064-01-01 00:00:00 X", "line 1: year '2064' is outside 2000 to 2063"},
        {"barcode 10 1999-12-31 00:00:00 X", "line 1: year '1999' is outside 2000 to 2063"},
        {"barcode 10 26-01-01 00:00:00 X", "line 1: date '26-01-01' is not YYYY-MM-DD"},
        {"barcode 10 2026-01-01 24:00:00 X", "line 1: hour '24' is outside 0 to 23"},
        {"barcode 10 2026-01-01 10:00 X", "line 1: time '10:00' is not hh:mm:ss"},
        {"barcode 10 2026-01-01", "line 1: missing scan time"},
        {"clock 2026-01-01 10:00:--", "line 1: second '--' is not a whole number"},
        {"clock 2100-01-01 00:00:00", "line 1: year '2100' is outside 2000 to 2099"},
        {"clock yesterday", "line 1: date 'yesterday' is not YYYY-MM-DD"},
        {"param 10 256", "line 1: value '256' is outside 0 to 255"},
        {"init 3", "line 1: missing result"},
        {"count 600 please", "line 1: expected 'deliver' or nothing after the count, not 'please'"},
        {"packets-fail-from -1", "line 1: packet number '-1' is outside 0 to 2147483647"},
        {"clock-lost now", "line 1: unexpected 'now'"},
        {"stamp-text", "line 1: time-stamp text of 0 bytes; it takes 1 to 29"},
    };
    for (const auto& [text, error] : cases)
        EXPECT_EQ(error_of(text), error);
    EXPECT_EQ(error_of("port 3\n# fine\n\nbarcode 10 2026-01-01 00:00:00 OK\nport x\nfrobnicate"),
              "line 5: port 'x' is not a whole number")
        << "the first error is reported";
}

TEST(ScenarioParser, AnyEntryCanFailFromAGivenCall)
{
    Scenario s = parsed("fail csp2PowerDown -5 from 2\nfail csp2Init 0 from 1\nfail csp2PowerDown 7 from 3\n");
    EXPECT_EQ(s.entry_faults, (std::map<std::string, EntryFault>{{"csp2PowerDown", {7, 3}}, {"csp2Init", {0, 1}}}))
        << "the last line for an entry wins";
    const std::pair<const char*, const char*> cases[] = {
        {"fail csp2Frob -1 from 1", "line 1: unknown entry 'csp2Frob'"},
        {"fail csp2powerdown -1 from 1", "line 1: unknown entry 'csp2powerdown'"},
        {"fail csp2Init -1 after 1", "line 1: expected 'from', not 'after'"},
        {"fail csp2Init -1 from 0", "line 1: call number '0' is outside 1 to 2147483647"},
        {"fail csp2Init x from 1", "line 1: result 'x' is not a whole number"},
        {"fail csp2Init -1", "line 1: missing 'from'"},
        {"fail csp2Init -1 from 1 2", "line 1: unexpected '2'"},
    };
    for (const auto& [text, error] : cases)
        EXPECT_EQ(error_of(text), error);
}

TEST(ScenarioParser, AStateFileHoldsOnlyWhatTheScannerKeeps)
{
    ParseOutcome state = parse_scenario("clock offset 60\nclock-lost\nparam 1 2\n"
                                        "barcode 10 2026-01-01 00:00:00 A\npacket 05 00 00 00 00 00\n",
                                        FileKind::state);
    ASSERT_TRUE(state.scenario) << state.error;
    EXPECT_EQ(state.scenario->entries.size(), 2u);
    EXPECT_EQ(error_of("port 3", FileKind::state), "line 1: 'port' does not belong in a state file");
    EXPECT_EQ(error_of("count 5", FileKind::state), "line 1: 'count' does not belong in a state file");
    EXPECT_EQ(error_of("clock pc", FileKind::state), "line 1: a state file keeps the clock as 'clock offset SECONDS'");
}

bool valid_ean_13(const std::string& digits)
{
    if (digits.size() != 13 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    int sum = 0;
    for (std::size_t i = 0; i < 12; ++i)
        sum += (digits[i] - '0') * (i % 2 ? 3 : 1);
    return (10 - sum % 10) % 10 == digits[12] - '0';
}

bool valid_code_39(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ-. $/+%") == std::string::npos;
}

TEST(DefaultScenario, AScannerOnPortThreeWithRealisticBarcodes)
{
    Scenario s = default_scenario();
    EXPECT_EQ(s.port, 3);
    EXPECT_EQ(s.clock.kind, ClockStart::Kind::pc);
    EXPECT_FALSE(s.count || s.packets_fail_from || s.identity_untouched || s.stamp_text || s.stamp_text_untouched);
    ASSERT_GE(s.entries.size(), 5u);
    ASSERT_LE(s.entries.size(), 6u);
    std::set<std::uint8_t> types;
    for (const StoredEntry& entry : s.entries) {
        const Barcode& b = std::get<Barcode>(entry);
        types.insert(b.code_type);
        EXPECT_TRUE(is_valid(b.scanned));
        if (b.code_type == code_type::ean_13)
            EXPECT_TRUE(valid_ean_13(b.text)) << b.text;
        else if (b.code_type == code_type::code_39)
            EXPECT_TRUE(valid_code_39(b.text)) << b.text;
        else
            EXPECT_EQ(b.code_type, code_type::code_128);
        EXPECT_LE(b.text.size(), 13u) << "fits the upload string's barcode field";
    }
    EXPECT_EQ(types, (std::set<std::uint8_t>{code_type::ean_13, code_type::code_128, code_type::code_39}));
}

// The example scenarios that the release's simulator kit ships: each one reads, and the
// written-out default is the built-in one.
TEST(ExampleScenarios, EachReadsAndTheDefaultIsTheBuiltInOne)
{
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QMX_EXAMPLE_SCENARIOS)) {
        std::ifstream file(entry.path(), std::ios::binary);
        std::stringstream text;
        text << file.rdbuf();
        const std::string name = entry.path().filename().string();
        ParseOutcome outcome = parse_scenario(text.str());
        ++files;
        ASSERT_TRUE(outcome.scenario) << name << ": " << outcome.error;
        if (name == "default.txt") {
            EXPECT_EQ(outcome.scenario->port, default_scenario().port);
            EXPECT_EQ(outcome.scenario->identity, default_scenario().identity);
            EXPECT_EQ(outcome.scenario->entries, default_scenario().entries);
        }
    }
    EXPECT_GE(files, 7);
}

} // namespace
} // namespace qmx::sim
