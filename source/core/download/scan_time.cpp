#include "core/download/scan_time.h"

#include "core/automation/error.h"
#include "core/automation/text.h"

#include <algorithm>
#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qmx {

namespace {

// The time stamp's own positions count from 1.
std::int64_t find(std::u16string_view text, std::u16string_view what, std::int64_t from)
{
    std::size_t at = text.find(what, static_cast<std::size_t>(from - 1));
    return at == std::u16string_view::npos ? 0 : static_cast<std::int64_t>(at) + 1;
}

void repair_seconds(TimeStampText& bytes, std::span<char16_t> text)
{
    std::int64_t at = find(std::u16string_view(text.data(), text.size()), u"63", 1);
    if (at >= 2) {
        auto i = static_cast<std::size_t>(at - 1);
        bytes[i] = bytes[i + 1] = '0';
        text[i] = text[i + 1] = u'0';
    }
}

// A date field: blanks around one or more decimal digits.
std::optional<int> field_value(std::u16string_view field)
{
    while (!field.empty() && field.front() == u' ')
        field.remove_prefix(1);
    while (!field.empty() && field.back() == u' ')
        field.remove_suffix(1);
    if (field.empty())
        return std::nullopt;
    int value = 0;
    for (char16_t c : field) {
        if (!is_digit(c))
            return std::nullopt;
        value = value > 9999 ? value : value * 10 + (c - u'0');
    }
    return value;
}

struct TimeOfDay {
    int hour = 0;
    int minute = 0;
    int second = 0;
};

bool is_meridiem(std::u16string_view token, bool& pm)
{
    if (token.size() != 2 || (token[1] != u'M' && token[1] != u'm'))
        return false;
    if (token[0] == u'A' || token[0] == u'a')
        pm = false;
    else if (token[0] == u'P' || token[0] == u'p')
        pm = true;
    else
        return false;
    return true;
}

// h:mm or h:mm:ss, each part one or two digits.
bool read_clock_token(std::u16string_view token, TimeOfDay& time)
{
    int parts[3] = {0, 0, 0};
    int count = 0;
    std::size_t i = 0;
    while (count < 3) {
        std::size_t digits = 0;
        int value = 0;
        for (; i < token.size() && is_digit(token[i]) && digits < 2; ++i, ++digits)
            value = value * 10 + (token[i] - u'0');
        if (digits == 0)
            return false;
        parts[count++] = value;
        if (i == token.size())
            break;
        if (token[i] != u':')
            return false;
        ++i;
    }
    if (i != token.size() || count < 2)
        return false;
    time = {parts[0], parts[1], parts[2]};
    return true;
}

// The time of day in the text: the date token is passed over, one h:mm[:ss] token may
// follow with an AM/PM marker attached or apart. No time at all is midnight; anything
// else, or a time out of range, is a type mismatch.
TimeOfDay read_time_of_day(std::u16string_view text)
{
    std::optional<TimeOfDay> time;
    std::optional<bool> pm;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == u' ' || text[i] == u'\t') {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && text[end] != u' ' && text[end] != u'\t')
            ++end;
        std::u16string_view token = text.substr(i, end - i);
        i = end;

        if (token.find(u'/') != std::u16string_view::npos) {
            if (token.find_first_not_of(u"0123456789/") != std::u16string_view::npos)
                raise(ErrorNumber::TypeMismatch);
            continue;
        }
        bool marker = false;
        if (is_meridiem(token, marker)) {
            if (!time || pm)
                raise(ErrorNumber::TypeMismatch);
            pm = marker;
            continue;
        }
        if (token.size() > 2 && is_meridiem(token.substr(token.size() - 2), marker)) {
            pm = marker;
            token.remove_suffix(2);
        }
        TimeOfDay read;
        if (time || !read_clock_token(token, read))
            raise(ErrorNumber::TypeMismatch);
        time = read;
    }
    TimeOfDay t = time.value_or(TimeOfDay{});
    if (pm) {
        if (t.hour > 12)
            raise(ErrorNumber::TypeMismatch);
        t.hour = t.hour % 12 + (*pm ? 12 : 0);
    }
    if (t.hour > 23 || t.minute > 59 || t.second > 59)
        raise(ErrorNumber::TypeMismatch);
    return t;
}

} // namespace

Date ParseScanTime(TimeStampText& bytes)
{
    // Read once per packet: the characters live here rather than on the heap.
    std::array<char16_t, std::tuple_size_v<TimeStampText>> characters;
    std::copy(bytes.begin(), bytes.end(), characters.begin());
    repair_seconds(bytes, characters);
    const std::u16string_view text(characters.data(), characters.size());

    const std::int64_t s1 = find(text, u"/", 1);
    const std::int64_t s2 = s1 ? find(text, u"/", s1 + 1) : 0;
    const std::u16string_view month_text = mid_checked(text, s1 - 2, 2);
    const std::u16string_view day_text = mid_checked(text, s1 + 1, s2 - s1 - 1);
    const std::u16string_view year_text = mid_checked(text, s2 + 1, 2);

    const std::optional<int> day = field_value(day_text);
    const std::optional<int> month = field_value(month_text);
    const std::optional<int> year = field_value(year_text);
    if (!day || !month || !year || !is_valid_date(expand_two_digit_year(*year), *month, *day))
        return unreadable_scan_date;

    std::u16string_view readable = text;
    readable = readable.substr(0, readable.find(u'\0'));
    const TimeOfDay time = read_time_of_day(readable);
    return date_from_civil({expand_two_digit_year(*year), *month, *day, time.hour, time.minute, time.second});
}

} // namespace qmx
