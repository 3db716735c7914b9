// The writers' escaping: formula-safe CSV, control characters shown visibly, the
// workbook's cell texts, and the workbook made the same every time and without leftovers.
#include "lib/text.h"
#include "lib/writers.h"
#include "lib/xlsx.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <oleauto.h>

#include <filesystem>

namespace qmx::tool {
namespace {

double at(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME t{};
    t.wYear = year, t.wMonth = month, t.wDay = day, t.wHour = hour, t.wMinute = minute, t.wSecond = second;
    double date = 0;
    SystemTimeToVariantTime(&t, &date);
    return date;
}

Download one(const std::wstring& barcode, const std::wstring& identity = L"00126B3FA21904C7")
{
    Download d;
    d.found = true;
    d.port = 3;
    d.identity = identity;
    d.clock_digits = L"051208301126";
    d.clock_valid = true;
    d.downloaded_at = at(2026, 12, 10, 3, 15, 0);
    d.entries.push_back(Entry{1, barcode, 10, at(2026, 11, 30, 8, 12, 5)});
    return d;
}

std::string row(const std::string& barcode, const std::string& scanner = "00126B3FA21904C7")
{
    return "1," + barcode + ",10,2026-11-30T08:12:05," + scanner + ",2026-12-10T03:15:00\r\n";
}

struct CsvCase {
    const wchar_t* barcode;
    bool exact;
    const char* field;
};

TEST(Csv, FormulaLeadingFieldsGetAnApostropheUnlessExact)
{
    const CsvCase cases[] = {
        {L"=1+1", false, "'=1+1"},
        {L"=1+1", true, "=1+1"},
        {L"+1+1", false, "'+1+1"},
        {L"+A123BJC5D6E71", true, "+A123BJC5D6E71"},
        {L"-2+3", false, "'-2+3"},
        {L"-2+3", true, "-2+3"},
        {L"@SUM(1)", false, "'@SUM(1)"},
        {L"@SUM(1)", true, "@SUM(1)"},
        {L"\tx", false, "'\tx"},
        {L"\tx", true, "\tx"},
        {L"\rx", false, "\"'\rx\""}, // the apostrophe, then quoted for the line break
        {L"\rx", true, "\"\rx\""},
        {L"=HYPERLINK(\"http://x\",\"click\")", false, "\"'=HYPERLINK(\"\"http://x\"\",\"\"click\"\")\""},
        {L"=HYPERLINK(\"http://x\",\"click\")", true, "\"=HYPERLINK(\"\"http://x\"\",\"\"click\"\")\""},
        {L"a,\"b\"", false, "\"a,\"\"b\"\"\""},
        {L"line\nbreak", false, "\"line\nbreak\""},
        {L"0012345678905", false, "0012345678905"},
        {L"1-2=3", false, "1-2=3"}, // only the first character counts
        {L"", false, ""},
        {L"caf\xE9", false, "caf\xC3\xA9"},
    };
    for (const CsvCase& c : cases)
        EXPECT_EQ(csv_rows(one(c.barcode), WriteOptions{Format::csv, ',', c.exact}), row(c.field))
            << "barcode " << utf8(c.barcode) << (c.exact ? " exact" : "");
}

TEST(Csv, TheScannerFieldIsGuardedTooAndRenderKeepsTheOptions)
{
    EXPECT_EQ(csv_rows(one(L"x", L"=2"), ','), row("x", "'=2"));
    EXPECT_EQ(csv_rows(one(L"a;b"), WriteOptions{Format::csv, ';'}),
              "1;\"a;b\";10;2026-11-30T08:12:05;00126B3FA21904C7;2026-12-10T03:15:00\r\n");
    EXPECT_EQ(render(one(L"-1"), WriteOptions{Format::csv, ',', true}), csv_header(',') + row("-1"));
    EXPECT_EQ(render(one(L"-1"), WriteOptions{Format::csv, ','}), csv_header(',') + row("'-1"));
    // For a console: the escape replaces the carriage return, so nothing needs quotes.
    EXPECT_EQ(csv_rows(one(L"\x1B]0;x\a\r"), WriteOptions{Format::csv, ',', false, true}), row("\\x1B]0;x\\x07\\x0D"));
}

TEST(Text, VisibleShowsEveryControlCharacter)
{
    const struct {
        std::wstring text, shown;
    } cases[] = {
        {L"0012345678905", L"0012345678905"},
        {L"a\tb", L"a\tb"},
        {std::wstring(L"A\0B", 3), L"A\\x00B"},
        {L"\x1B[2J", L"\\x1B[2J"},
        {L"\r\n", L"\\x0D\\x0A"},
        {L"\x1F\x20", L"\\x1F "},
        {L"\x7E\x7F", L"~\\x7F"},
        {L"\x80\x9B\x9F", L"\\x80\\x9B\\x9F"},
        {L"\xA0\xE9\xFF", L"\xA0\xE9\xFF"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(visible(c.text), c.shown) << utf8(c.shown);
}

TEST(Text, WhereOutputIsShownVisibly)
{
    const struct {
        Format format;
        bool console, visibly;
    } cases[] = {
        {Format::table, false, true}, {Format::table, true, true},  {Format::csv, false, false},
        {Format::csv, true, true},    {Format::upload, false, false}, {Format::upload, true, true},
        {Format::json, false, false}, {Format::json, true, false},  {Format::xlsx, false, false},
        {Format::xlsx, true, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(shows_visibly(c.format, c.console), c.visibly) << format_name(c.format) << " " << c.console;
}

TEST(Text, NoFormatPutsARawControlCharacterOnAConsole)
{
    const Download d = one(L"\x9B" L"2J\x1B");
    for (Format f : {Format::table, Format::csv, Format::json, Format::upload}) {
        WriteOptions options{f};
        options.visible = shows_visibly(f, true);
        Download with_upload = d;
        with_upload.upload = d.entries[0].barcode;
        const std::string text = render(with_upload, options);
        EXPECT_EQ(text.find("\xC2\x9B"), std::string::npos) << utf8(format_name(f));
        EXPECT_EQ(text.find('\x1B'), std::string::npos) << utf8(format_name(f));
    }
    EXPECT_NE(render(d, WriteOptions{Format::json}).find("\"\\u009b2J\\u001b\""), std::string::npos);
}

TEST(Workbook, CellTextsKeepNulAndLiteralEscapes)
{
    const struct {
        std::wstring text;
        std::string cell;
    } cases[] = {
        {L"plain", "plain"},
        {L"_x0041_", "_x005F_x0041_"},
        {L"a_x00e9_b_x12_", "a_x005F_x00e9_b_x12_"},
        {L"_xZZZZ_", "_xZZZZ_"},
        {L"_x0041", "_x0041"},
        {std::wstring(L"A\0B", 3), "A_x0000_B"},
        {L"\xE9\x9B", "\xC3\xA9\xC2\x9B"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cell_text(c.text), c.cell) << c.cell;
}

TEST(Workbook, SameDownloadSameBytesAndNoTemporaryFileLeft)
{
    wchar_t base[MAX_PATH + 1];
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, base), 0u);
    const std::filesystem::path folder = std::filesystem::path(base) / L"qmx-writers-test";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    SetEnvironmentVariableW(L"TMP", folder.c_str());
    SetEnvironmentVariableW(L"TEMP", folder.c_str());

    const Download d = one(L"0012345678905");
    const std::string first = workbook(d);
    const std::string second = render(d, WriteOptions{Format::xlsx});
    SetEnvironmentVariableW(L"TMP", base);
    SetEnvironmentVariableW(L"TEMP", base);

    EXPECT_EQ(first.compare(0, 4, "PK\x03\x04"), 0);
    EXPECT_EQ(first, second);
    Download later = d;
    later.downloaded_at += 1.0;
    EXPECT_NE(workbook(later), first);
    EXPECT_TRUE(std::filesystem::is_empty(folder));
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace qmx::tool
