// The download as the tools write it: a table for people, CSV and JSON for programs, and
// the upload string as alldata returned it. Every text comes out in UTF-8; a barcode byte
// becomes the character of the same code (0xE9 is "é").
#pragma once

#include "lib/download.h"

#include <optional>
#include <string>
#include <string_view>

namespace qmx::tool {

enum class Format { table, csv, json, upload };

std::optional<Format> format_named(std::wstring_view name);
const wchar_t* format_name(Format format);

struct WriteOptions {
    Format format = Format::table;
    char separator = ','; // CSV only
};

// The whole document for one download.
std::string render(const Download& d, const WriteOptions& options);

// A JSON string of UTF-8 text, control characters escaped.
std::string json_string(const std::string& text);

// CSV in parts, for appending to a file that has its header already.
std::string csv_header(char separator);
std::string csv_rows(const Download& d, const WriteOptions& options);

} // namespace qmx::tool
