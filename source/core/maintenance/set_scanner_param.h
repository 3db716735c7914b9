// Module1: the routine that programs one scanner parameter.
#pragma once

#include "core/automation/variant.h"
#include "core/platform/platform.h"

#include <cstdint>

namespace qmx::Module1 {

// One whole conversation: settle wait, open the port, wake, interrogate, send the value,
// power down, release. True when csp2SetParam accepted the value. A value outside 0 to
// 255 fails with 5 before it is sent, with the port left open.
bool SetScannerParam(const Platform& platform, const Variant& port, std::int16_t param_id, std::int32_t value);

} // namespace qmx::Module1
