// The upload string builder over arbitrary field contents: any identity text, clock
// fields written or not, any count, barcodes of any length and characters, code types of
// any VARIANT kind, any valid DATE. Either the text is exactly the sum of its fields, or
// the error is the one the first unformattable entry calls for.
#include "core/download/upload_string.h"
#include "fuzz_support.h"
#include "upload_check.h"

#include <cmath>
#include <memory>

namespace qmx::fuzz {
namespace {

// The automation DATE range: 1 January 100 to 31 December 9999, 23:59:59.
constexpr double first_date = -657434.0 - 86399.0 / 86400.0;
constexpr double last_date = 2958465.0 + 86399.0 / 86400.0;

Date any_date(Input& in)
{
    switch (in.byte() % 3) {
    case 0: return 0; // never written
    case 1: {
        // A whole second of any day in the range.
        const auto day = static_cast<std::int64_t>(static_cast<std::uint32_t>(in.i32()) % 3615900u) - 657434;
        const double second = static_cast<double>(in.i32() & 0x1FFFF) / 86400.0;
        const double fraction = std::min(second, 86399.0 / 86400.0);
        return day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
    }
    default: {
        const double value = in.real();
        return std::isfinite(value) && value >= first_date && value <= last_date ? value : 36892.0;
    }
    }
}

std::int16_t any_count(Input& in)
{
    switch (in.byte() % 4) {
    case 0: return in.byte();
    case 1: return static_cast<std::int16_t>(in.byte() * 2); // up to 510
    case 2: return static_cast<std::int16_t>(in.u16());
    default: return 500;
    }
}

} // namespace
void fuzz_one(Input& in)
{
    // The fields live in the same place every run: 50 KB taken afresh per run came from
    // memory the sanitizer had never handed out, and faulting it in cost a fifth of the
    // run. They are destroyed at the end, so the run frees all it took (libFuzzer
    // re-runs for a leak check any input that does not).
    static std::optional<ClickerFields> fields;
    ClickerFields& f = fields.emplace();
    f.barcode_count = any_count(in);
    f.serial_hex = in.text();
    if (const std::uint8_t flag = in.byte(); flag % 2)
        f.clock_flag = std::u16string(1, in.character());
    switch (in.byte() % 3) {
    case 0: break; // never read
    case 1: {
        std::u16string digits;
        for (int i = 0; i < 12; ++i)
            digits.push_back(static_cast<char16_t>(u'0' + in.byte() % 10));
        f.clock_digits = digits;
        break;
    }
    default: {
        std::u16string any;
        for (int i = 0; i < 12; ++i)
            any.push_back(in.character());
        f.clock_digits = any;
    }
    }
    for (int k = 1; k <= table_entries && !in.exhausted(); ++k) {
        f.barcodes.at(k) = in.text();
        switch (in.byte() % 4) {
        case 0: break; // never written: Empty
        case 1: f.code_types.at(k) = Variant::from_short(in.byte()); break;
        case 2: f.code_types.at(k) = Variant::from_short(static_cast<std::int16_t>(in.u16())); break;
        default: f.code_types.at(k) = any_variant(in);
        }
        f.scan_times.at(k) = any_date(in);
    }

    // The error the first entry that cannot be formatted calls for, if any.
    std::optional<int> expected;
    for (std::int32_t k = 1; k <= f.barcode_count && !expected; ++k) {
        if (k > table_entries) {
            expected = 9;
            break;
        }
        if (!f.code_types.at(k).is_empty()) {
            try {
                (void)f.code_types.at(k).to_long();
            } catch (const AutomationError& e) {
                expected = e.code();
            }
        }
    }

    std::u16string text;
    const std::optional<int> error = run_member({6, 9, 13, 94}, [&] { text = BuildUploadString(f); });
    FUZZ_CHECK(error == expected);
    if (!error)
        check_upload_string(f, text);
    fields.reset();
}

} // namespace qmx::fuzz
