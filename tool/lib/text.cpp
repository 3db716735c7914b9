#include "lib/text.h"

#include "lib/component.h"

#include <windows.h>

#include <oleauto.h>

#include <cmath>
#include <cwchar>

namespace qmx::tool {

namespace {

int two_digits(std::wstring_view text, std::size_t at)
{
    if (at + 2 > text.size() || !iswdigit(text[at]) || !iswdigit(text[at + 1]))
        return -1;
    return (text[at] - L'0') * 10 + (text[at + 1] - L'0');
}


// The offset of the first byte that is not well-formed UTF-8 (overlong forms, surrogates
// and values past U+10FFFF included), or npos.
std::size_t utf8_error(std::string_view b)
{
    std::size_t i = 0;
    while (i < b.size()) {
        const unsigned char c = static_cast<unsigned char>(b[i]);
        std::size_t length = 0;
        unsigned char low = 0x80, high = 0xBF; // the second byte's range
        if (c < 0x80)
            length = 1;
        else if (c >= 0xC2 && c <= 0xDF)
            length = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            low = c == 0xE0 ? 0xA0 : 0x80;
            high = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            low = c == 0xF0 ? 0x90 : 0x80;
            high = c == 0xF4 ? 0x8F : 0xBF;
        } else
            return i;
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k >= b.size())
                return i;
            const unsigned char t = static_cast<unsigned char>(b[i + k]);
            if (t < (k == 1 ? low : 0x80) || t > (k == 1 ? high : 0xBF))
                return i;
        }
        i += length;
    }
    return std::string_view::npos;
}

std::wstring byte_offset(std::size_t at)
{
    return L" (byte " + std::to_wstring(at + 1) + L")";
}

} // namespace

std::optional<double> make_date(int year, int month, int day, int hour, int minute, int second)
{
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59 || hour < 0 ||
        minute < 0 || second < 0)
        return std::nullopt;
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(year);
    t.wMonth = static_cast<WORD>(month);
    t.wDay = static_cast<WORD>(day);
    t.wHour = static_cast<WORD>(hour);
    t.wMinute = static_cast<WORD>(minute);
    t.wSecond = static_cast<WORD>(second);
    double date = 0;
    if (!SystemTimeToVariantTime(&t, &date))
        return std::nullopt;
    SYSTEMTIME back{};
    // 31 February would roll over into March.
    if (!VariantTimeToSystemTime(date, &back) || back.wDay != t.wDay || back.wMonth != t.wMonth)
        return std::nullopt;
    return date;
}

std::optional<double> read_iso_time(std::wstring_view text)
{
    if (text.size() != 19 || text[4] != L'-' || text[7] != L'-' || (text[10] != L'T' && text[10] != L' ') ||
        text[13] != L':' || text[16] != L':')
        return std::nullopt;
    const int century = two_digits(text, 0), year = two_digits(text, 2), month = two_digits(text, 5),
              day = two_digits(text, 8), hour = two_digits(text, 11), minute = two_digits(text, 14),
              second = two_digits(text, 17);
    if (century < 0 || year < 0 || day < 0)
        return std::nullopt;
    return make_date(century * 100 + year, month, day, hour, minute, second);
}

std::wstring decode_text_file(std::string_view bytes, const std::wstring& name)
{
    const auto refuse = [&](const std::wstring& why) {
        throw ToolError{Outcome::usage, name + L": " + why + L"; save it as UTF-8 or as Unicode (UTF-16) text"};
    };
    std::wstring text;
    if (bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")) {
        const bool little = bytes[0] == '\xFF';
        if (little && bytes.size() >= 4 && bytes.substr(2, 2) == std::string_view("\0\0", 2))
            refuse(L"UTF-32 text is not read");
        if (bytes.size() % 2)
            refuse(L"UTF-16 text of an odd number of bytes");
        for (std::size_t i = 2; i < bytes.size(); i += 2) {
            const unsigned char a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
            text += static_cast<wchar_t>(little ? a | b << 8 : b | a << 8);
        }
        for (std::size_t i = 0; i < text.size(); ++i) {
            const wchar_t c = text[i];
            const bool lead = c >= 0xD800 && c <= 0xDBFF, trail = c >= 0xDC00 && c <= 0xDFFF;
            if (trail || (lead && (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)))
                refuse(L"not UTF-16 text: a lone surrogate" + byte_offset(2 + 2 * i));
            i += lead;
        }
    } else {
        const std::size_t mark = bytes.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
        bytes.remove_prefix(mark);
        const std::size_t bad = utf8_error(bytes);
        if (bad != std::string_view::npos)
            refuse(L"not UTF-8 text" + byte_offset(mark + bad));
        text = from_utf8(bytes);
    }
    if (const std::size_t nul = text.find(L'\0'); nul != std::wstring::npos)
        refuse(L"the text holds a NUL character (UTF-16 without a byte-order mark?)");
    return text;
}

std::string utf8(std::wstring_view text)
{
    if (text.empty())
        return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring from_utf8(std::string_view text)
{
    if (text.empty())
        return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

bool is_control(wchar_t c)
{
    return (c < 0x20 && c != L'\t') || (c >= 0x7F && c <= 0x9F);
}

std::wstring visible(std::wstring_view text)
{
    std::wstring shown;
    shown.reserve(text.size());
    for (wchar_t c : text) {
        if (is_control(c)) {
            wchar_t escape[8];
            std::swprintf(escape, 8, L"\\x%02X", static_cast<unsigned>(c));
            shown += escape;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::wstring iso_time(double date, wchar_t separator)
{
    SYSTEMTIME t{};
    if (!VariantTimeToSystemTime(date, &t))
        return L"";
    wchar_t text[32];
    std::swprintf(text, 32, L"%04u-%02u-%02u%lc%02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, separator, t.wHour,
                  t.wMinute, t.wSecond);
    return text;
}

std::optional<double> scanner_clock(const Download& d)
{
    if (!d.clock_valid)
        return std::nullopt;
    return read_clock_text(d.clock_digits);
}

std::wstring clock_text(double date)
{
    SYSTEMTIME t{};
    VariantTimeToSystemTime(date, &t);
    wchar_t text[16];
    std::swprintf(text, 16, L"%02u%02u%02u%02u%02u%02u", t.wSecond, t.wMinute, t.wHour, t.wDay, t.wMonth,
                  t.wYear % 100u);
    return text;
}

std::optional<double> read_clock_text(std::wstring_view text)
{
    if (text.size() != 12)
        return std::nullopt;
    int field[6];
    for (std::size_t k = 0; k < 6; ++k)
        if ((field[k] = two_digits(text, 2 * k)) < 0)
            return std::nullopt;
    return make_date(2000 + field[5], field[4], field[3], field[2], field[1], field[0]);
}

std::wstring clock_difference(double scanner, double pc)
{
    const long long seconds = std::llround((scanner - pc) * 86400.0);
    if (seconds == 0)
        return L"in step with the PC";
    const unsigned long long size = static_cast<unsigned long long>(seconds < 0 ? -seconds : seconds);
    wchar_t text[64];
    if (size < 120)
        std::swprintf(text, 64, L"%llu s", size);
    else if (size < 2 * 3600)
        std::swprintf(text, 64, L"%llu min", (size + 30) / 60);
    else if (size < 2 * 86400)
        std::swprintf(text, 64, L"%llu h", (size + 1800) / 3600);
    else
        std::swprintf(text, 64, L"%llu days", (size + 43200) / 86400);
    return std::wstring(text) + (seconds > 0 ? L" ahead of the PC" : L" behind the PC");
}

} // namespace qmx::tool
