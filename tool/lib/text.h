// Texts and times as the tools write them: UTF-8, ISO 8601 local times, clock texts.
#pragma once

#include "lib/download.h"

#include <optional>
#include <string>
#include <string_view>

namespace qmx::tool {

std::string utf8(std::wstring_view text);
std::wstring from_utf8(std::string_view text);

// A character a terminal may act upon: C0 but TAB, DEL, and C1 (U+0080 to U+009F, where
// 0x9B alone starts an escape sequence).
bool is_control(wchar_t c);
// The text with every such character shown as \xNN, for a console or a person to read.
std::wstring visible(std::wstring_view text);

// A local time from its parts, or nothing when they name no calendar time (31 February).
std::optional<double> make_date(int year, int month, int day, int hour, int minute, int second);
// 2026-11-30T08:12:05 (separator 'T'), or with a blank for people to read.
std::wstring iso_time(double date, wchar_t separator = L'T');
// 2026-11-30T08:12:05 or 2026-11-30 08:12:05 back to a date; nothing for anything else.
std::optional<double> read_iso_time(std::wstring_view text);
// The text of a file a user wrote (a parameter list): UTF-8 with or without a byte-order
// mark, or UTF-16 little- or big-endian with one (PowerShell 5's Out-File, Notepad's
// "Unicode"). Anything else, a NUL character included, is refused rather than guessed:
// ToolError{Outcome::usage} naming the file and the first byte that is wrong.
std::wstring decode_text_file(std::string_view bytes, const std::wstring& name);
// The scanner clock of a download, when its flag says it is valid and its digits make a
// calendar time (years 2000 to 2099).
std::optional<double> scanner_clock(const Download& d);
// The twelve digits SSMMHHDDMMYY that EmptyScanner sets the scanner clock from.
std::wstring clock_text(double date);
// A clock text a user typed: twelve digits of a real time, or nothing.
std::optional<double> read_clock_text(std::wstring_view text);
// "12 s ahead of the PC", "in step with the PC"
std::wstring clock_difference(double scanner, double pc);

} // namespace qmx::tool
