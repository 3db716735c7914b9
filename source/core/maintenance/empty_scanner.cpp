// Clearing the scanner and setting its clock: EmptyScanner and setdate.
#include "core/clicker.h"

#include "core/automation/field_number.h"
#include "core/automation/text.h"
#include "core/scanner/settle_delay.h"

#include <cstdio>

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

std::u16string two_digit_fields(int a, int b, int c)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d%02d%02d", a % 100, b % 100, c % 100);
    return widen(buffer);
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
    const LocalTime now = platform_.clock.local_time();
    const std::u16string date = two_digit_fields(now.year, now.month, now.day); // yymmdd
    const std::u16string time = two_digit_fields(now.hour, now.minute, now.second); // hhmmss
    ClockBytes clock{};
    clock[0] = ByteFromNumber(ReadFieldNumber(mid(time, 5, 2)));
    clock[1] = ByteFromNumber(ReadFieldNumber(mid(time, 3, 2)));
    clock[2] = ByteFromNumber(ReadFieldNumber(mid(time, 1, 2)));
    clock[3] = ByteFromNumber(ReadFieldNumber(mid(date, 5, 2)));
    clock[4] = ByteFromNumber(ReadFieldNumber(mid(date, 3, 2)));
    clock[5] = ByteFromNumber(ReadFieldNumber(mid(date, 1, 2)));

    Csp2& scanner = platform_.scanner;
    scanner.csp2Init(StartPortIndex());
    scanner.csp2WakeUp();
    scanner.csp2SetTime(clock);
    scanner.csp2PowerDown();
    scanner.csp2Restore();
}

} // namespace qmx
