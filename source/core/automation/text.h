// Automation texts are 16-bit characters; these are the few helpers the core needs.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qmx {

using Text = std::u16string;

// ASCII (or Latin-1) bytes to 16-bit characters, one character per byte.
Text widen(std::string_view bytes);
// For diagnostics: characters above 0x7F become '?'.
std::string narrow_ascii(std::u16string_view text);

// Mid$(text, start, length) with 1-based start, clipped to the text; start < 1 is the
// caller's error (see mid_checked).
std::u16string_view mid(std::u16string_view text, std::int64_t start, std::int64_t length);
// As mid, but a start before the first character is an invalid argument (error 5).
std::u16string_view mid_checked(std::u16string_view text, std::int64_t start, std::int64_t length);

bool is_blank(char16_t c); // space, tab, line feed
bool is_digit(char16_t c);

} // namespace qmx
