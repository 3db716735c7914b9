// The tools' library where it decides alone: reading back its JSON, the archive's round trip
// and pruning, output names, when a download says what the scanner holds, and the locks.
#include "lib/archive.h"
#include "lib/component.h"
#include "lib/json_reader.h"
#include "lib/output_file.h"
#include "lib/output_name.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

namespace qmx::tool {
namespace {

TEST(JsonReader, ReadsWhatTheToolsWriteAndRefusesTheRest)
{
    const struct {
        const char* text;
        bool valid;
    } cases[] = {
        {R"({"a": [1, -2.5e3, true, false, null], "b": {"c": "x\"\\\/\u00e9\u001b"}})", true},
        {R"("\ud83d\ude00")", true},
        {"  [ ]  ", true},
        {"{}", true},
        {R"({"a": 1,})", false},
        {R"({"a" 1})", false},
        {R"(["x)", false},
        {"[1] 2", false},
        {R"("\ud83d")", false},
        {"\"tab\tinside\"", false},
        {"", false},
        {"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[1]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parse_json(c.text).has_value(), c.valid) << c.text;
    const auto v = parse_json(R"({"b": {"c": "x\"\\\/\u00e9\u001b"}, "n": -2.5e3})");
    ASSERT_TRUE(v);
    EXPECT_EQ(v->find("b")->find("c")->text, "x\"\\/\xC3\xA9\x1B");
    EXPECT_EQ(v->find("n")->number, -2500);
    EXPECT_EQ(v->find("missing"), nullptr);
}

Download two_barcodes()
{
    Download d;
    d.found = true;
    d.port = 3;
    d.identity = L"00126B3FA21904C7";
    d.clock_valid = true;
    d.clock_digits = L"050403020126";
    d.reported = 2;
    d.upload = L"V0100126B3FA21904C7H0504030201260002";
    d.downloaded_at = 46366.5;
    std::wstring every_byte;
    for (wchar_t c = 0; c < 256; ++c)
        every_byte += c;
    d.entries = {Entry{1, every_byte, 10, 46356.25}, Entry{2, L"", std::nullopt, 0}};
    d.upload += L"001" + every_byte + L"1020261130060000002             ";
    return d;
}

TEST(Archive, KeepsEveryByteOfAVisit)
{
    const Download d = two_barcodes();
    const std::wstring path = archive_visit(d, L"clear", L"C:\\Scans\\x.csv");
    const std::wstring id = path.substr(path.find_last_of(L'\\') + 1, path.size() - path.find_last_of(L'\\') - 6);
    const ArchivedVisit back = archived_visit(id);
    EXPECT_EQ(back.command, L"clear");
    EXPECT_EQ(back.output, L"C:\\Scans\\x.csv");
    EXPECT_TRUE(back.download.same_contents(d));
    EXPECT_EQ(back.download.upload, d.upload);
    EXPECT_EQ(back.download.clock_digits, d.clock_digits);
    EXPECT_EQ(back.download.downloaded_at, d.downloaded_at);
    EXPECT_EQ(back.download.port, 3);
    bool listed = false;
    for (const ArchivedVisit& v : archived_visits())
        listed = listed || v.id == id;
    EXPECT_TRUE(listed);
    for (const wchar_t* bad : {L"", L"..\\x", L"20200101-000000-000-NONE"})
        EXPECT_THROW(archived_visit(bad), ToolError) << bad;
}

TEST(Archive, PrunesOnlyBeyondBothFloors)
{
    // Four visits, 200, 100, 50 and 1 days before "now".
    const std::vector<std::wstring> ids = {L"20260101-000000-000-A", L"20260411-000000-000-A",
                                           L"20260531-000000-000-A", L"20260719-000000-000-A"};
    SYSTEMTIME t{};
    t.wYear = 2026, t.wMonth = 7, t.wDay = 20;
    double now = 0;
    SystemTimeToVariantTime(&t, &now);
    const struct {
        unsigned days, visits;
        std::vector<std::wstring> pruned;
    } cases[] = {
        {90, 100, {}},
        {90, 2, {ids[0], ids[1]}},
        {150, 2, {ids[0]}},
        {90, 0, {ids[0], ids[1]}},
        {300, 0, {}},
        {10, 1, {ids[0], ids[1], ids[2]}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(visits_to_prune(ids, now, c.days, c.visits), c.pruned) << c.days << " days, " << c.visits;
}

TEST(OutputName, PlaceholdersAndExtensions)
{
    Download d = two_barcodes();
    SYSTEMTIME t{};
    t.wYear = 2026, t.wMonth = 12, t.wDay = 9, t.wHour = 18, t.wMinute = 5, t.wSecond = 7;
    SystemTimeToVariantTime(&t, &d.downloaded_at);
    EXPECT_EQ(expand_output_name(L"C:\\S\\{date}_{time}-{scanner}{date}.csv", d),
              L"C:\\S\\2026-12-09_180507-00126B3FA21904C72026-12-09.csv");
    for (const wchar_t* good : {L"a.csv", L"{date}.csv", L"x{time}{scanner}"})
        EXPECT_NO_THROW(check_output_name(good)) << good;
    for (const wchar_t* bad : {L"{day}.csv", L"a{.csv", L"a}.csv", L"{date.csv", L"{{date}}.csv"})
        EXPECT_THROW(check_output_name(bad), ToolError) << bad;
    const struct {
        const wchar_t* name;
        std::optional<Format> format;
    } formats[] = {
        {L"a.csv", Format::csv}, {L"A.JSON", Format::json}, {L"dir.csv\\a", std::nullopt},
        {L"a.txt", std::nullopt}, {L"a", std::nullopt},     {L"C:\\x.y\\b.Csv", Format::csv},
    };
    for (const auto& f : formats)
        EXPECT_EQ(format_of_name(f.name), f.format) << f.name;
}

TEST(Download, ContentsReportedOnlyWhenCountEntriesAndHeaderAgree)
{
    const Download good = two_barcodes();
    EXPECT_TRUE(good.contents_reported());
    const struct {
        const char* what;
        int reported;
        std::size_t entries;
        const wchar_t* count_field;
    } cases[] = {
        {"an error from the library", -7, 0, L"-007"},
        {"more than the scanner holds", 501, 2, L"0501"},
        {"fewer entries than counted", 2, 1, L"0002"},
        {"a header that disagrees", 2, 2, L"0003"},
        {"no header", 2, 2, nullptr},
    };
    for (const auto& c : cases) {
        Download d = good;
        d.reported = c.reported;
        d.entries.resize(c.entries);
        if (c.count_field)
            d.upload.replace(32, 4, c.count_field);
        else
            d.upload.clear();
        EXPECT_FALSE(d.contents_reported()) << c.what;
    }
}

TEST(Locks, ASecondHolderWaitsThenGivesUp)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring file = std::wstring(folder) + L"qmx-lock-test.csv";
    {
        FileLock first(file, 0);
        EXPECT_TRUE(file_exists(file + L".lock"));
        try {
            FileLock second(file, 0);
            ADD_FAILURE() << "a second lock of the same file";
        } catch (const ToolError& e) {
            EXPECT_EQ(e.outcome, Outcome::busy);
        }
    }
    EXPECT_FALSE(file_exists(file + L".lock"));
    FileLock again(file, 0);

    ScannerLock held(0);
    std::optional<Outcome> other;
    std::thread([&] {
        try {
            ScannerLock second(0);
        } catch (const ToolError& e) {
            other = e.outcome;
        }
    }).join();
    EXPECT_EQ(other, Outcome::busy);
}

} // namespace
} // namespace qmx::tool
