// reset_params: clear the scanner, restore its defaults, program the listed parameters.
#include "core/clicker.h"

#include "core/automation/field_number.h"
#include "core/automation/numbers.h"
#include "core/automation/text.h"
#include "core/maintenance/set_scanner_param.h"

namespace qmx {

// Parameter list text: characters 1-2 the count N, then entry i at characters 4i-1 to
// 4i+2: two for the parameter id, two for the value. No separators.
void Clicker::reset_params()
{
    if (startport.is_empty()) {
        is_open = variant_false;
        return;
    }
    const std::u16string count_text(mid(param_list, 1, 2));
    own_interface_->EmptyScanner();
    platform_.scanner.csp2SetDefaults();

    const std::int16_t count = Variant::from_text(count_text).to_short();
    for (std::int32_t i = 1; i <= count; ++i) {
        // The list as it stands now: a host may change it during a settle wait.
        const std::int16_t id = to_int16(ReadFieldNumber(mid(param_list, 4 * i - 1, 2)));
        const std::int32_t value = to_int32(ReadFieldNumber(mid(param_list, 4 * i + 1, 2)));
        Module1::SetScannerParam(platform_, startport, id, value);
    }
}

} // namespace qmx
