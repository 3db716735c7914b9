#include "core/maintenance/set_scanner_param.h"

#include "core/automation/field_number.h"
#include "core/scanner/settle_delay.h"

namespace qmx::Module1 {

bool SetScannerParam(const Platform& platform, const Variant& port, std::int16_t param_id, std::int32_t value)
{
    Csp2& scanner = platform.scanner;
    SettleDelay(platform.clock, platform.pump);
    scanner.csp2Init(port.to_long());
    scanner.csp2WakeUp();
    scanner.csp2Interrogate();

    // The value byte, a zero byte, then blanks; only the first two are announced.
    ParamBuffer buffer;
    buffer.fill(' ');
    buffer[0] = ByteFromNumber(value);
    buffer[1] = 0;
    const bool accepted = scanner.csp2SetParam(param_id, buffer, 2) == 0;

    scanner.csp2PowerDown();
    scanner.csp2Restore();
    return accepted;
}

} // namespace qmx::Module1
