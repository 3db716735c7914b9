// open_clicker: the port search, then the download with the port still open.
#include "core/clicker.h"

#include "core/automation/numbers.h"
#include "core/scanner/settle_delay.h"

namespace qmx {

namespace {

constexpr std::int16_t no_scanner = 999;
constexpr std::int32_t last_searched_port = 15;

} // namespace

void Clicker::open_clicker()
{
    is_open = variant_false;
    port_no = no_scanner;

    if (!startport.is_empty() && ProbePort(StartPortIndex())) {
        port_no = startport.to_short();
        is_open = variant_true;
    }
    if (!is_open)
        SearchPorts();
    // A remembered port of 999 may answer too, so the search result is is_open.
    if (!is_open)
        return;

    ReadDeviceSerial();
    DownloadBarcodes();
    SettleDelay(platform_.clock, platform_.pump);
    ReadScannerClock();
}

void Clicker::SearchPorts()
{
    for (std::int32_t port = 0; port <= last_searched_port; ++port) {
        if (ProbePort(port)) {
            port_no = static_cast<std::int16_t>(port);
            is_open = variant_true;
            return;
        }
    }
}

// Opens the port and asks for the count, then the status. A port whose status check
// fails is released again; one whose csp2Init failed has nothing to release.
bool Clicker::ProbePort(std::int32_t port)
{
    Csp2& scanner = platform_.scanner;
    if (scanner.csp2Init(port) != 0)
        return false;
    barcode_count = to_int16(scanner.csp2ReadData());
    if (scanner.csp2GetSystemStatus() == 0)
        return true;
    scanner.csp2Restore();
    return false;
}

} // namespace qmx
