// The scan time of a packet, from the text the scanner library renders it as.
#pragma once

#include "core/automation/date.h"
#include "core/scanner/csp2.h"

namespace qmx {

// Reads "MM/DD/YY hh:mm:ss" style text. A seconds field of "63" (the first "63" from
// position 2 on) is repaired to "00" in the buffer itself. The date comes from the two
// characters before the first "/", the characters between the first two, and the two
// after the second, taken as month, day and two-digit year; a text whose fields make no
// valid date gives 1 January 2001. Fails with 5 when the slashes are missing or too
// early, and with 13 when a valid date comes with a time that cannot be read.
Date ParseScanTime(TimeStampText& text);

// The fallback scan time, 1 January 2001 00:00:00.
inline constexpr Date unreadable_scan_date = 36892.0;

} // namespace qmx
