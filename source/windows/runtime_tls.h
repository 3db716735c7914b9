// Gives the C++ runtime's thread-local storage index back when a DLL is freed; linked
// into each of the project's DLLs.
#pragma once

#include <windows.h>

namespace qmx::runtime_tls {

// From DllMain's DLL_PROCESS_DETACH: a FreeLibrary (reserved NULL) gives the index back
// once the module's destructors have run; at process exit it stays.
void process_detach(LPVOID reserved);

} // namespace qmx::runtime_tls
