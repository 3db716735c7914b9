// The upload string: a 36-character header and one 32-character record per entry.
#pragma once

#include "core/clicker.h"

#include <string>

namespace qmx {

inline constexpr std::size_t upload_header_length = 36;
inline constexpr std::size_t upload_record_length = 32;

// Header: "V01", identity (16), clock flag (1), clock digits (12), count (4). Then for k
// = 1 to the count: entry number (3), barcode (13), code type (2), scan time (14).
// Entries outside 1 to 500 fail with 9. Fields never written (the clock fields of a new
// object hold code 0) come out as spaces.
std::u16string BuildUploadString(const ClickerFields& fields);

} // namespace qmx
