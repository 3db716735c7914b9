// alldata and the per-entry accessors.
#include "core/download/upload_string.h"

#include "core/automation/format.h"

#include <algorithm>

namespace qmx {

namespace {

// A fixed-length field that no reading has written yet holds code 0 throughout.
std::u16string_view written_or_blank(std::u16string_view field, std::u16string& blank)
{
    if (std::all_of(field.begin(), field.end(), [](char16_t c) { return c == u'\0'; })) {
        blank.assign(field.size(), u' ');
        return blank;
    }
    return field;
}

} // namespace

std::u16string BuildUploadString(const ClickerFields& f)
{
    std::u16string out;
    const std::int32_t announced = std::max<std::int32_t>(f.barcode_count, 0);
    out.reserve(upload_header_length + upload_record_length * static_cast<std::size_t>(std::min(announced, table_entries)));

    std::u16string blank;
    out += u"V01";
    append_left_aligned(out, f.serial_hex, 16);
    out += written_or_blank(f.clock_flag.view(), blank);
    // Twelve zeros leave the clock's twelve digits as they are, and its blanks.
    out += written_or_blank(f.clock_digits.view(), blank);
    append_zero_padded(out, std::int64_t{f.barcode_count}, 4);

    const std::int32_t count = f.barcode_count;
    for (std::int32_t k = 1; k <= count; ++k) {
        append_zero_padded(out, std::int64_t{k}, 3);
        append_left_aligned(out, f.barcodes.at(k), 13);
        append_zero_padded(out, f.code_types.at(k), 2);
        append_date_digits(out, f.scan_times.at(k));
    }
    return out;
}

Variant Clicker::get_alldata()
{
    own_interface_->open_clicker();
    return Variant::from_text(BuildUploadString(fields()));
}

Variant Clicker::get_sbarcode() const
{
    return Variant::from_text(barcodes.at(get_barcode));
}

Variant Clicker::get_stime() const
{
    return Variant::from_date(scan_times.at(get_barcode));
}

Variant Clicker::get_stype() const
{
    return code_types.at(get_barcode);
}

} // namespace qmx
