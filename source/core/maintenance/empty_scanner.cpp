// Clearing the scanner and setting its clock: EmptyScanner and setdate.
#include "core/clicker.h"

#include "core/automation/field_number.h"
#include "core/automation/text.h"
#include "core/scanner/settle_delay.h"

#include <initializer_list>

namespace qmx {

namespace {

// Six clock bytes from a clock text: characters 2k-1 and 2k give byte k (seconds,
// minutes, hours, day, month, year). Missing characters read as nothing, so as 0.
ClockBytes ClockBytesFromText(std::u16string_view text)
{
    ClockBytes clock{};
    for (int k = 1; k <= 6; ++k)
        clock[static_cast<std::size_t>(k - 1)] = ByteFromNumber(ReadFieldNumber(mid(text, 2 * k - 1, 2)));
    return clock;
}

} // namespace

void Clicker::EmptyScanner()
{
    Csp2& scanner = platform_.scanner;
    if (startport.is_empty()) {
        is_open = variant_false;
        return;
    }
    if (scanner.csp2Init(StartPortIndex()) != 0) {
        is_open = variant_false;
        return;
    }
    if (!new_datetime.empty()) {
        ClockBytes clock = ClockBytesFromText(new_datetime);
        SettleDelay(platform_.clock, platform_.pump);
        scanner.csp2WakeUp();
        scanner.csp2SetTime(clock);
        scanner.csp2PowerDown();
    }
    SettleDelay(platform_.clock, platform_.pump);
    scanner.csp2ClearData();
    scanner.csp2Restore();
}

// The remembered port, as getdate opens it: a clock set on port 0 while the scanner sits
// on another port would be reported as done and never happen.
void Clicker::setdate()
{
    // Each part's last two decimal digits, as a clock text of them would give.
    const LocalTime now = platform_.clock.local_time();
    ClockBytes clock{};
    int k = 0;
    for (const int part : {now.second, now.minute, now.hour, now.day, now.month, now.year})
        clock[static_cast<std::size_t>(k++)] = ByteFromNumber(part % 100);

    Csp2& scanner = platform_.scanner;
    scanner.csp2Init(StartPortIndex());
    scanner.csp2WakeUp();
    scanner.csp2SetTime(clock);
    scanner.csp2PowerDown();
    scanner.csp2Restore();
}

} // namespace qmx
