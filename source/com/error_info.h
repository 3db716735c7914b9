// The one place where a member's failure becomes what the host sees: an HRESULT, and the
// thread's error information for late-bound hosts.
#pragma once

#include <oaidl.h>
#include <windows.h>

namespace qmx {

class AutomationError;

// A member called through the object's own interface failed; its error information is
// already set, and the calling member ends with the same HRESULT.
struct InterfaceCallFailed {
    HRESULT hr;
};

// 0x800A0000 + the run-time error number.
HRESULT hresult_of(const AutomationError& error);

// Translates the exception in flight (called from a catch block) and sets the error
// information. Every member's failure goes through here; nothing escapes it.
HRESULT report_current_exception() noexcept;

} // namespace qmx
