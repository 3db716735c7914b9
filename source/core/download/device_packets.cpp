// The middle of a download: the device identity and one packet per stored barcode.
#include "core/clicker.h"

#include "core/automation/error.h"
#include "core/download/scan_time.h"

#include <algorithm>

namespace qmx {

namespace {

constexpr char16_t hex_digits[] = u"0123456789ABCDEF";

} // namespace

void Clicker::ReadDeviceSerial()
{
    DeviceIdBuffer id{};
    platform_.scanner.csp2GetDeviceId(id, static_cast<std::int32_t>(id.size()));
    std::u16string hex;
    hex.reserve(16);
    for (std::size_t k = 0; k < 8; ++k) {
        hex.push_back(hex_digits[id[k] >> 4]);
        hex.push_back(hex_digits[id[k] & 0x0F]);
    }
    serial_hex = std::move(hex);
}

// Packet layout, positions from 1: L, code type, L - 5 barcode bytes, 4 time-stamp bytes
// at L - 2 to L + 1.
void Clicker::DownloadBarcodes()
{
    const std::int32_t count = barcode_count;
    PacketBuffer packet{};
    TimeStampText stamp_text{}; // carried from packet to packet, as the library left it
    for (std::int32_t i = 1; i <= count; ++i) {
        if (platform_.scanner.csp2GetPacket(packet, i - 1, static_cast<std::int32_t>(packet.size())) < 0) {
            // The rest of this download never arrived: its entries must not show what an
            // earlier download (maybe of another scanner) left there.
            for (std::int32_t k = i; k <= std::min(count, table_entries); ++k) {
                barcodes.at(k).clear();
                code_types.at(k) = Variant();
                scan_times.at(k) = 0;
            }
            return;
        }
        const int length = packet[0];
        code_types.at(i) = Variant::from_short(packet[1]);
        if (length < 3) // the time stamp would start before the packet
            raise(ErrorNumber::InvalidArgument);
        TimeStampBytes stamp;
        std::copy_n(packet.begin() + (length - 3), stamp.size(), stamp.begin());
        if (length < 5) // no room for a barcode of zero or more bytes
            raise(ErrorNumber::InvalidArgument);
        barcodes.at(i).assign(packet.begin() + 2, packet.begin() + (length - 3));
        platform_.scanner.csp2TimeStamp2Str(stamp, stamp_text, static_cast<std::int32_t>(stamp_text.size()));
        scan_times.at(i) = ParseScanTime(stamp_text);
    }
}

} // namespace qmx
