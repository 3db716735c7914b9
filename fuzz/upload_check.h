// An independent reading of an upload string against the fields it was built from:
// every field in its place and of its width, and the whole text exactly as long as the
// sum of its fields.
#pragma once

#include "core/automation/date.h"
#include "core/automation/numbers.h"
#include "core/clicker.h"
#include "fuzz_support.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

namespace qmx::fuzz {

// n zeros: at least n digits, a hyphen-minus before a negative value.
inline std::u16string zero_padded(std::int64_t value, std::size_t digits)
{
    const std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    std::string number = std::to_string(magnitude);
    if (number.size() < digits)
        number.insert(0, digits - number.size(), '0');
    if (value < 0)
        number.insert(0, 1, '-');
    return std::u16string(number.begin(), number.end());
}

// One moment in time per DATE: before the origin the fraction still counts forward, so
// -1.25 is a quarter day after the start of day -1.
inline double moment_of(Date value)
{
    const double whole = std::trunc(value);
    return whole + std::fabs(value - whole);
}

class UploadReader {
public:
    explicit UploadReader(std::u16string_view text) : text_(text) {}

    // The next `width` characters must be exactly `expected`.
    void expect(std::u16string_view expected)
    {
        FUZZ_CHECK(at_ + expected.size() <= text_.size());
        FUZZ_CHECK(text_.substr(at_, expected.size()) == expected);
        at_ += expected.size();
    }

    // "!" and n "@": the text, then spaces up to n characters.
    void expect_left_aligned(std::u16string_view value, std::size_t width)
    {
        expect(value);
        if (value.size() < width) {
            const std::size_t spaces = width - value.size();
            FUZZ_CHECK(at_ + spaces <= text_.size());
            for (std::size_t i = 0; i < spaces; ++i)
                FUZZ_CHECK(text_.data()[at_ + i] == u' ');
            at_ += spaces;
        }
    }

    // What zero_padded(value, digits) gives, read in place: a record has two such fields,
    // and making each as a text first was most of this check's work. Returns the width.
    std::size_t expect_zero_padded(std::int64_t value, std::size_t digits)
    {
        std::uint64_t magnitude = value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
        std::size_t count = 1;
        for (std::uint64_t rest = magnitude; rest >= 10; rest /= 10)
            ++count;
        const std::size_t sign = value < 0 ? 1 : 0;
        const std::size_t width = sign + std::max(count, digits);
        FUZZ_CHECK(at_ + width <= text_.size());
        if (sign)
            FUZZ_CHECK(text_.data()[at_] == u'-');
        for (std::size_t i = at_ + width; i-- > at_ + sign; magnitude /= 10)
            FUZZ_CHECK(text_.data()[i] == static_cast<char16_t>(u'0' + magnitude % 10));
        at_ += width;
        return width;
    }

    // "yyyymmddhhnnss": fourteen digits that name the same second as the DATE.
    void expect_date_digits(Date value)
    {
        FUZZ_CHECK(at_ + 14 <= text_.size());
        CivilDateTime t;
        t.year = digits(4);
        t.month = digits(2);
        t.day = digits(2);
        t.hour = digits(2);
        t.minute = digits(2);
        t.second = digits(2);
        FUZZ_CHECK(t.year >= 100 && is_valid_date(t.year, t.month, t.day));
        FUZZ_CHECK(t.hour <= 23 && t.minute <= 59 && t.second <= 59);
        const Date written = date_from_civil(t);
        // Rounded to the nearest second: half a second either way.
        FUZZ_CHECK(std::fabs(moment_of(written) - moment_of(value)) <= 0.5001 / 86400.0);
    }

    bool at_end() const { return at_ == text_.size(); }
    std::size_t position() const { return at_; }

private:
    // The next `count` characters, all decimal digits, as a number; the caller has made
    // sure they are there.
    int digits(int count)
    {
        int value = 0;
        for (int i = 0; i < count; ++i) {
            const char16_t c = text_.data()[at_++];
            FUZZ_CHECK(c >= u'0' && c <= u'9');
            value = value * 10 + (c - u'0');
        }
        return value;
    }

    std::u16string_view text_;
    std::size_t at_ = 0;
};

// A fixed-length field never written holds code 0 throughout and comes out as spaces.
template <std::size_t N>
std::u16string written_or_spaces(const FixedText<N>& field)
{
    const std::u16string_view v = field.view();
    if (std::all_of(v.begin(), v.end(), [](char16_t c) { return c == u'\0'; }))
        return std::u16string(N, u' ');
    return std::u16string(v);
}

// The upload string of `fields` must be `text`. Only called when the build succeeded, so
// the count is at most 500 and every code type has a number.
inline void check_upload_string(const ClickerFields& f, std::u16string_view text)
{
    UploadReader r(text);
    std::size_t widths = 0;

    r.expect(u"V01");
    widths += 3;
    r.expect_left_aligned(f.serial_hex, 16);
    widths += std::max<std::size_t>(16, f.serial_hex.size());
    r.expect(written_or_spaces(f.clock_flag));
    widths += 1;

    // The clock digits as they are: a reading writes twelve digits, which "000000000000"
    // leaves unchanged, and before one they are blanks.
    const std::u16string clock = written_or_spaces(f.clock_digits);
    r.expect(clock);
    widths += clock.size();

    const std::u16string count_field = zero_padded(f.barcode_count, 4);
    r.expect(count_field);
    widths += count_field.size();
    FUZZ_CHECK(r.position() == widths);

    FUZZ_CHECK(f.barcode_count <= table_entries);
    for (std::int32_t k = 1; k <= f.barcode_count; ++k) {
        widths += r.expect_zero_padded(k, 3);
        const std::u16string& barcode = f.barcodes.at(k);
        r.expect_left_aligned(barcode, 13);
        widths += std::max<std::size_t>(13, barcode.size());
        const Variant& code = f.code_types.at(k);
        if (code.is_empty()) {
            r.expect(u"  ");
            widths += 2;
        } else {
            widths += r.expect_zero_padded(code.to_long(), 2);
        }
        r.expect_date_digits(f.scan_times.at(k));
        widths += 14;
    }
    // The length is the sum of the fields, and nothing follows the last record.
    FUZZ_CHECK(r.at_end());
    FUZZ_CHECK(text.size() == widths);
}

} // namespace qmx::fuzz
