// Reading the scanner's clock: the last stage of a download, and getdate.
#include "core/clicker.h"

#include <cstdio>

namespace qmx {

namespace {

constexpr std::uint8_t clock_lost = 255; // in the seconds byte

} // namespace

void Clicker::ReadScannerClock()
{
    Csp2& scanner = platform_.scanner;
    ClockBytes clock{};
    scanner.csp2WakeUp();
    scanner.csp2GetTime(clock);
    scanner.csp2PowerDown();
    scanner.csp2Restore();

    clock_flag = u"H";
    for (int k = 1; k <= 6; ++k) {
        const std::uint8_t b = clock[static_cast<std::size_t>(k - 1)];
        if (k == 1 && b == clock_lost) {
            clock_flag = u"L";
            clock_digits.replace(1, 2, u"00");
            continue;
        }
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02u", static_cast<unsigned>(b));
        const char16_t pair[2] = {static_cast<char16_t>(digits[0]), static_cast<char16_t>(digits[1])};
        clock_digits.replace(2 * k - 1, 2, std::u16string_view(pair, 2)); // 100 and above keep two digits
    }
}

void Clicker::getdate()
{
    platform_.scanner.csp2Init(StartPortIndex());
    ReadScannerClock();
}

} // namespace qmx
