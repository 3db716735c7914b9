#include "lib/xlsx.h"

#include "lib/component.h"
#include "lib/output_file.h"
#include "lib/system.h"
#include "lib/text.h"

#include <windows.h>

#include <oleauto.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <ctime>
#include <cwchar>
#include <optional>
#include <utility>

namespace qmx::tool {

namespace {

[[noreturn]] void fail(const std::wstring& why)
{
    throw ToolError{Outcome::output, L"cannot make the workbook: " + why};
}

// The library (1.1) writes to a named file only, which it opens with the C library's
// narrow functions (the ANSI code page): a file in the temporary folder under its short
// name, which that code page can spell.
class TemporaryFile {
public:
    TemporaryFile()
    {
        wchar_t folder[MAX_PATH + 1], short_folder[MAX_PATH + 1], file[MAX_PATH + 1];
        if (!GetTempPathW(MAX_PATH + 1, folder) || !GetShortPathNameW(folder, short_folder, MAX_PATH + 1))
            fail(L"no temporary folder: " + system_message(GetLastError()));
        if (!GetTempFileNameW(short_folder, L"qmx", 0, file))
            fail(L"cannot create a file in " + std::wstring(folder) + L": " + system_message(GetLastError()));
        path_ = file;
        try {
            narrow_folder_ = narrow(short_folder);
            narrow_path_ = narrow(path_);
        } catch (...) {
            DeleteFileW(path_.c_str());
            throw;
        }
    }
    ~TemporaryFile() { DeleteFileW(path_.c_str()); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    const std::wstring& path() const { return path_; }
    const char* narrow_path() const { return narrow_path_.c_str(); }
    char* narrow_folder() { return narrow_folder_.data(); }

private:
    std::string narrow(const std::wstring& text) const
    {
        if (GetACP() == CP_UTF8)
            return utf8(text);
        BOOL lost = FALSE;
        const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, nullptr, 0, nullptr, &lost);
        std::string out(n > 0 ? static_cast<std::size_t>(n) : 0u, '\0');
        if (n <= 0 || lost ||
            !WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text.c_str(), -1, out.data(), n, nullptr, &lost) || lost)
            fail(L"the system's code page cannot spell the temporary file's name " + text);
        out.pop_back(); // the terminating NUL
        return out;
    }

    std::wstring path_;
    std::string narrow_folder_, narrow_path_;
};

// Seconds since 1970 (UTC) of a local automation DATE; 1 where there is none, so that
// the library never takes the PC's clock instead.
std::time_t unix_time(double local)
{
    SYSTEMTIME here{}, utc{};
    FILETIME f{};
    if (local <= 0 || !VariantTimeToSystemTime(local, &here) || !TzSpecificLocalTimeToSystemTime(nullptr, &here, &utc) ||
        !SystemTimeToFileTime(&utc, &f))
        return 1;
    const unsigned long long ticks = (static_cast<unsigned long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    return static_cast<std::time_t>((ticks - 116444736000000000ULL) / 10000000ULL);
}

bool is_hex(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

// Remembers the library's first error; the workbook is made only without one.
struct Sheet {
    lxw_worksheet* sheet;
    lxw_error error = LXW_NO_ERROR;

    void keep(lxw_error e)
    {
        if (error == LXW_NO_ERROR)
            error = e;
    }
    void text(lxw_row_t row, lxw_col_t col, const std::wstring& value, lxw_format* format)
    {
        keep(worksheet_write_string(sheet, row, col, cell_text(value).c_str(), format));
    }
    void number(lxw_row_t row, lxw_col_t col, double value, lxw_format* format = nullptr)
    {
        keep(worksheet_write_number(sheet, row, col, value, format));
    }
    // An automation DATE is the workbook's own serial date (both count days from
    // 1899-12-30); no time is an empty cell, never day 0.
    void date(lxw_row_t row, lxw_col_t col, double value, bool valid, lxw_format* format)
    {
        if (valid)
            number(row, col, value, format);
        else
            keep(worksheet_write_blank(sheet, row, col, format));
    }
    void width(lxw_col_t col, std::size_t characters, lxw_format* format = nullptr)
    {
        keep(worksheet_set_column(sheet, col, col, static_cast<double>(std::min<std::size_t>(characters, 80) + 2),
                                  format));
    }
};

} // namespace

std::string cell_text(const std::wstring& text)
{
    std::wstring escaped;
    for (std::size_t k = 0; k < text.size(); ++k) {
        if (text[k] == L'\0') {
            escaped += L"_x0000_";
        } else if (text[k] == L'_' && k + 6 < text.size() && text[k + 1] == L'x' && is_hex(text[k + 2]) &&
                   is_hex(text[k + 3]) && is_hex(text[k + 4]) && is_hex(text[k + 5]) && text[k + 6] == L'_') {
            escaped += L"_x005F_"; // the underscore itself, escaped
        } else {
            escaped += text[k];
        }
    }
    return utf8(escaped);
}

std::string workbook(const Download& d)
{
    TemporaryFile file;
    lxw_workbook_options options{};
    options.tmpdir = file.narrow_folder();
    lxw_workbook* book = workbook_new_opt(file.narrow_path(), &options);
    if (!book)
        fail(L"the library cannot open " + file.path());
    lxw_doc_properties properties{};
    properties.created = unix_time(d.downloaded_at);
    workbook_set_properties(book, &properties);

    lxw_format* bold = workbook_add_format(book);
    format_set_bold(bold);
    lxw_format* text = workbook_add_format(book);
    format_set_num_format(text, "@"); // stays text when a person edits it
    lxw_format* date = workbook_add_format(book);
    format_set_num_format(date, "yyyy-mm-dd hh:mm:ss");
    const bool downloaded = d.downloaded_at > 0;

    Sheet barcodes{workbook_add_worksheet(book, "Barcodes")};
    const wchar_t* headers[] = {L"entry", L"barcode", L"code type", L"scanned at", L"scanner", L"downloaded at"};
    for (lxw_col_t col = 0; col < 6; ++col)
        barcodes.text(0, col, headers[col], bold);
    std::size_t longest = std::wcslen(headers[1]);
    lxw_row_t row = 0;
    for (const Entry& e : d.entries) {
        ++row;
        barcodes.number(row, 0, e.number);
        barcodes.text(row, 1, e.barcode, text);
        if (e.code_type)
            barcodes.number(row, 2, *e.code_type);
        barcodes.date(row, 3, e.scanned, e.code_type && e.scanned > 0, date);
        barcodes.text(row, 4, d.identity, text);
        barcodes.date(row, 5, d.downloaded_at, downloaded, date);
        longest = std::max(longest, e.barcode.size());
    }
    // Room for the filter's button beside each header.
    barcodes.width(0, 7);
    barcodes.width(1, longest + 2, text);
    barcodes.width(2, 11);
    barcodes.width(3, 19);
    barcodes.width(4, std::max<std::size_t>(d.identity.size(), 7) + 2, text);
    barcodes.width(5, 19);
    worksheet_freeze_panes(barcodes.sheet, 1, 0);
    barcodes.keep(worksheet_autofilter(barcodes.sheet, 0, 0, row, 5));

    Sheet scanner{workbook_add_worksheet(book, "Scanner")};
    scanner.text(0, 0, L"scanner", bold);
    scanner.text(0, 1, d.identity, text);
    scanner.text(1, 0, L"clock", bold);
    if (const std::optional<double> clock = scanner_clock(d))
        scanner.date(1, 1, *clock, true, date);
    else
        scanner.text(1, 1, d.clock_digits, text);
    scanner.text(2, 0, L"port", bold);
    scanner.number(2, 1, d.port);
    scanner.text(3, 0, L"downloaded at", bold);
    scanner.date(3, 1, d.downloaded_at, downloaded, date);
    scanner.width(0, 13);
    scanner.width(1, std::max<std::size_t>({d.identity.size(), d.clock_digits.size(), 19}));

    const lxw_error made = workbook_close(book);
    for (const lxw_error e : {barcodes.error, scanner.error, made})
        if (e != LXW_NO_ERROR)
            fail(from_utf8(lxw_strerror(e)));
    std::optional<std::string> bytes = read_file(file.path());
    if (!bytes || bytes->empty())
        fail(L"the library left no file at " + file.path());
    return *std::move(bytes);
}

} // namespace qmx::tool
