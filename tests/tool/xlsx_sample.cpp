// Writes the downloads that xlsx_check.py reads back with a reader nobody here wrote:
//   xlsx_sample OUT_FOLDER
// cases.xlsx (the barcodes a spreadsheet would mangle, a valid clock), noclock.xlsx (no
// barcodes, a clock that is not set), and cases.csv / cases-exact.csv of the same barcodes.
#include "lib/component.h"
#include "lib/output_file.h"
#include "lib/writers.h"

#include <windows.h>

#include <oleauto.h>

#include <cstdio>
#include <string>

using namespace qmx::tool;

namespace {

double at(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME t{};
    t.wYear = year, t.wMonth = month, t.wDay = day, t.wHour = hour, t.wMinute = minute, t.wSecond = second;
    double date = 0;
    SystemTimeToVariantTime(&t, &date);
    return date;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: xlsx_sample OUT_FOLDER\n");
        return 2;
    }
    const std::wstring out = std::wstring(argv[1]) + L"\\";
    Download d;
    d.found = true;
    d.port = 3;
    d.identity = L"00126B3FA21904C7";
    d.clock_digits = L"051208301126";
    d.clock_valid = true;
    d.downloaded_at = at(2026, 12, 10, 3, 15, 0);
    const double scanned = at(2026, 11, 30, 8, 12, 5);
    // Keep in step with xlsx_check.py's table.
    d.entries = {
        {1, L"0012345678905", 10, scanned},
        {2, L"20471100035811234567", 20, scanned + 1.0 / 86400},
        {3, L"=1+1", 20, scanned + 2.0 / 86400},
        {4, L"a,\"b\"", 20, at(2026, 12, 7, 16, 30, 52)},
        {5, L"caf\xE9\xFF", 20, at(2026, 12, 7, 16, 30, 53)},
        {6, L"lost", std::nullopt, 0},
        {7, L"no time", 20, 0},
        {8, L"-2+3", 20, at(2026, 1, 2, 3, 4, 5)},
        {9, std::wstring(L"A") + L'\0' + L"B_x0041_\x1B[2J\x9B", 20, at(2026, 1, 2, 3, 4, 6)},
    };
    try {
        write_durably(out + L"cases.xlsx", render(d, WriteOptions{Format::xlsx}));
        write_durably(out + L"cases.csv", render(d, WriteOptions{Format::csv}));
        write_durably(out + L"cases-exact.csv", render(d, WriteOptions{Format::csv, ',', true}));
        Download empty = d;
        empty.entries.clear();
        empty.clock_digits = L"000000000000";
        empty.clock_valid = false;
        empty.port = 12;
        write_durably(out + L"noclock.xlsx", render(empty, WriteOptions{Format::xlsx}));
    } catch (const ToolError& e) {
        std::fprintf(stderr, "xlsx_sample: %ls\n", e.message.c_str());
        return 1;
    }
    return 0;
}
