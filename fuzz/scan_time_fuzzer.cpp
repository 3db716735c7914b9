// ParseScanTime on any 30 bytes: the repair of the first "63", the slash positions that
// make the text readable at all, the date its fields name (or the fallback), and the
// time of day of a text in the library's usual shape.
#include "core/download/scan_time.h"
#include "fuzz_support.h"

#include <cmath>
#include <cstring>
#include <string>

namespace qmx::fuzz {
namespace {

// A date field read on its own: spaces around decimal digits (leading zeros allowed).
std::optional<int> field(const TimeStampText& text, int from, int length)
{
    std::string s;
    for (int i = from; i < from + length && i < 30; ++i)
        s.push_back(static_cast<char>(text[static_cast<std::size_t>(i)]));
    const std::size_t first = s.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::nullopt;
    s = s.substr(first, s.find_last_not_of(' ') - first + 1);
    if (s.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    s.erase(0, std::min(s.find_first_not_of('0'), s.size()));
    return s.size() > 4 ? 99999 : s.empty() ? 0 : std::stoi(s);
}

int digit(std::uint8_t c)
{
    return c >= '0' && c <= '9' ? c - '0' : -1;
}

// "dd/dd/dd dd:dd:dd" followed by a zero or the end: the time it names, or nothing.
std::optional<int> usual_shape_seconds(const TimeStampText& t)
{
    static const char shape[] = "dd/dd/dd dd:dd:dd";
    for (std::size_t i = 0; i < 17; ++i) {
        if (shape[i] == 'd' ? digit(t[i]) < 0 : t[i] != static_cast<std::uint8_t>(shape[i]))
            return std::nullopt;
    }
    if (t[17] != 0)
        return std::nullopt;
    const int h = digit(t[9]) * 10 + digit(t[10]);
    const int m = digit(t[12]) * 10 + digit(t[13]);
    const int s = digit(t[15]) * 10 + digit(t[16]);
    return h < 24 && m < 60 && s < 60 ? std::optional<int>(h * 3600 + m * 60 + s) : std::optional<int>(-1);
}

} // namespace

void fuzz_one(Input& in)
{
    TimeStampText text{};
    in.fill(text, text.size()); // a short input leaves zero bytes, as a short text would
    const TimeStampText original = text;

    Date result = 0;
    const std::optional<int> error = run_member({5, 13}, [&] { result = ParseScanTime(text); });

    // The repair: only the first "63", and only from the second position on.
    TimeStampText repaired = original;
    for (std::size_t i = 0; i + 1 < repaired.size(); ++i) {
        if (repaired[i] == '6' && repaired[i + 1] == '3') {
            if (i >= 1)
                repaired[i] = repaired[i + 1] = '0';
            break;
        }
    }
    FUZZ_CHECK(text == repaired);

    // The slashes, counted from 1 as the text's own positions.
    int s1 = 0, s2 = 0;
    for (int i = 0; i < 30; ++i) {
        if (repaired[static_cast<std::size_t>(i)] == '/') {
            if (!s1) {
                s1 = i + 1;
            } else {
                s2 = i + 1;
                break;
            }
        }
    }
    const bool cuttable = s1 >= 3 && s2 != 0;
    FUZZ_CHECK(cuttable == !(error && *error == 5));
    if (!cuttable)
        return;

    const std::optional<int> month = field(repaired, s1 - 3, 2);
    const std::optional<int> day = field(repaired, s1, s2 - s1 - 1);
    const std::optional<int> year = field(repaired, s2, 2);
    const bool is_date = month && day && year && *year < 100 && is_valid_date(expand_two_digit_year(*year), *month, *day);
    if (!is_date) {
        // Not a date: 1 January 2001, midnight, whatever time the text holds.
        FUZZ_CHECK(!error && result == unreadable_scan_date);
        return;
    }
    if (error) {
        FUZZ_CHECK(*error == 13); // a date with a time that cannot be read
        FUZZ_CHECK(usual_shape_seconds(repaired).value_or(-1) < 0);
        return;
    }
    const CivilDateTime t = civil_from_date(result);
    FUZZ_CHECK(t.year == expand_two_digit_year(*year) && t.month == *month && t.day == *day);
    FUZZ_CHECK(result >= 0 && result - std::floor(result) < 1.0);
    if (const std::optional<int> seconds = usual_shape_seconds(repaired))
        FUZZ_CHECK(*seconds == t.hour * 3600 + t.minute * 60 + t.second);
}

} // namespace qmx::fuzz
