// Windows only: moving values between Variant and the VARIANTs of the automation runtime.
#pragma once

#include "core/automation/variant.h"

#include <oaidl.h>

namespace qmx {

// A copy of the value; a by-reference VARIANT gives the value it refers to.
Variant variant_from_native(const VARIANT& value);

// Writes a copy of the value into an initialised or cleared VARIANT.
void variant_to_native(const Variant& value, VARIANT* out);

} // namespace qmx
