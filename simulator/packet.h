// Stored entries as the packets csp2GetPacket delivers: L (the bytes that follow), the
// code type, the barcode bytes, the four time-stamp bytes; L + 1 bytes in all.
#pragma once

#include "simulator/scenario.h"

#include <cstdint>
#include <vector>

namespace qmx::sim {

std::vector<std::uint8_t> packet_bytes(const StoredEntry& entry);

// The packets a count override delivers beyond the stored ones: Code 128 "EXTRA" and
// the packet number in five digits, scanned at 1 January 2026 00:00:00.
Barcode extra_barcode(std::int32_t number);

} // namespace qmx::sim
