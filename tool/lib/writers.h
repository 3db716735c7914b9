// The download as the tools write it: a table and a workbook for people, CSV and JSON for
// programs, and the upload string as alldata returned it. Every text comes out in UTF-8; a
// barcode byte becomes the character of the same code (0xE9 is "é").
#pragma once

#include "lib/download.h"

#include <optional>
#include <string>
#include <string_view>

namespace qmx::tool {

enum class Format { table, csv, json, upload, xlsx };

std::optional<Format> format_named(std::wstring_view name);
const wchar_t* format_name(Format format);

struct WriteOptions {
    Format format = Format::table;
    char separator = ','; // CSV only
    // CSV: every byte as scanned. Otherwise a field a spreadsheet would take for a formula
    // (its first character =, +, -, @, TAB or CR) gets a leading apostrophe.
    bool exact = false;
    // CSV and upload: control characters shown as \xNN (text.h), for a console. The table
    // always shows them so; JSON escapes them itself; a workbook keeps every character.
    bool visible = false;
};

// Whether text going to a handle takes `visible`: the table always, CSV and the upload
// string when the handle is a console.
bool shows_visibly(Format format, bool to_console);

// The whole document for one download. A workbook that cannot be made throws
// ToolError{Outcome::output}.
std::string render(const Download& d, const WriteOptions& options);

// A JSON string in UTF-8, every control character escaped (C1 too).
std::string json_string(std::wstring_view text);
// The "barcodes" member of the JSON document, one object per entry; with_dates adds each
// scan time as the automation DATE it was read as, so that it reads back exactly.
std::string json_barcodes(const Download& d, bool with_dates);

// CSV in parts, for appending to a file that has its header already.
std::string csv_header(char separator);
std::string csv_rows(const Download& d, const WriteOptions& options);
// The rows as render writes them by default (formula-safe).
std::string csv_rows(const Download& d, char separator);

} // namespace qmx::tool
