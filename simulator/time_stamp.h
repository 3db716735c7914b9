// The four time-stamp bytes of a packet, and the text csp2TimeStamp2Str makes of them.
//
// The bytes hold one 32-bit value, least significant byte first:
//   bits 31-26 year - 2000, 25-22 month, 21-17 day, 16-12 hour, 11-6 minute, 5-0 second.
// A second of 63 means the scanner did not record the seconds.
#pragma once

#include "simulator/calendar.h"

#include <array>
#include <cstdint>
#include <string>

namespace qmx::sim {

using StampBytes = std::array<std::uint8_t, 4>;

inline constexpr int seconds_not_recorded = 63;

// Fields outside their bit widths are cut to them; the scenario parser keeps them inside.
StampBytes pack_time_stamp(const CivilTime& scanned, bool seconds_recorded);

// "MM/DD/YY hh:mm:ss", every field two digits as the bits hold it (a second of 63 shows
// as 63), 17 characters.
std::string time_stamp_text(const StampBytes& stamp);

} // namespace qmx::sim
