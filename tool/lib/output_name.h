// The name of a visit's output file as a person gives it: placeholders for the nightly
// case ({date}, {time}, {scanner}), and the format its extension names.
#pragma once

#include "lib/download.h"
#include "lib/writers.h"

#include <optional>
#include <string>

namespace qmx::tool {

// ToolError{Outcome::usage} for a brace that opens no known placeholder.
void check_output_name(const std::wstring& pattern);
// {date} YYYY-MM-DD and {time} hhmmss of the download, {scanner} its identity.
std::wstring expand_output_name(const std::wstring& pattern, const Download& d);
// The format an extension names (.csv, .json, .xlsx), or nothing.
std::optional<Format> format_of_name(const std::wstring& path);

} // namespace qmx::tool
