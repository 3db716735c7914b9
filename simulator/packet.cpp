#include "simulator/packet.h"

#include "simulator/default_scenario.h"
#include "simulator/time_stamp.h"

namespace qmx::sim {

namespace {

std::vector<std::uint8_t> barcode_packet(const Barcode& b)
{
    std::vector<std::uint8_t> out;
    out.reserve(b.text.size() + 6);
    out.push_back(static_cast<std::uint8_t>(b.text.size() + 5));
    out.push_back(b.code_type);
    out.insert(out.end(), b.text.begin(), b.text.end());
    const StampBytes stamp = pack_time_stamp(b.scanned, b.seconds_recorded);
    out.insert(out.end(), stamp.begin(), stamp.end());
    return out;
}

} // namespace

std::vector<std::uint8_t> packet_bytes(const StoredEntry& entry)
{
    if (const auto* raw = std::get_if<RawPacket>(&entry))
        return raw->bytes;
    return barcode_packet(std::get<Barcode>(entry));
}

Barcode extra_barcode(std::int32_t number)
{
    std::string digits = std::to_string(number);
    if (digits.size() < 5)
        digits.insert(0, 5 - digits.size(), '0');
    return Barcode{code_type::code_128, {2026, 1, 1, 0, 0, 0}, true, "EXTRA" + digits};
}

} // namespace qmx::sim
