// Keeps a DLL of the project mapped until the process ends, once it is loaded.
#pragma once

#include <windows.h>

namespace qmx {

// The statically linked C++ runtime takes a thread-local storage index in each DLL and
// never gives it back, so a DLL that a host loads and frees over and over would use up
// the process's indices. Pinned on its first load, later loads and frees only count.
// From DLL_PROCESS_ATTACH; false makes the load fail rather than the host later.
inline bool pin_module(HINSTANCE instance)
{
    HMODULE pinned = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                              reinterpret_cast<LPCWSTR>(instance), &pinned) != FALSE;
}

} // namespace qmx
