#include "lib/text.h"

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

// A date from its parts, or nothing when they name no calendar time.
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

} // namespace

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
