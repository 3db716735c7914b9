// The statically linked C++ runtime keeps per-thread data (exceptions in flight, the
// locale's one-time setup) in the threads library, which takes a thread-local storage
// index at its first use and never gives it back. Each load of a DLL that is then freed
// would cost the process one of its 1,088 indices, and the load after the last one
// aborts the host. So the DLL has the threads library take its index first thing, when
// its number is known, and gives it back when FreeLibrary unloads the DLL, with the
// runtime's emergency exception memory, which nothing else frees either. The threads
// library's own heap blocks (its pool of per-thread records, its lists) stay: freeing them
// by their place in the library corrupted the heap of 32-bit hosts. The build fails on a
// toolchain this was not verified with (cmake/runtime_tls.cmake).
#include "windows/runtime_tls.h"

#include <cstdlib>
#include <pthread.h>

// The threads library's thread-exit cleanup (its TLS callback).
extern "C" const PIMAGE_TLS_CALLBACK __xl_f;

namespace __gnu_cxx {
void __freeres() noexcept; // frees the C++ runtime's emergency exception memory
}

namespace qmx::runtime_tls {

namespace {

HMODULE own_module = nullptr;
DWORD claimed = TLS_OUT_OF_INDEXES;
bool freed = false;

void give_back()
{
    if (!freed)
        return;
    __gnu_cxx::__freeres();
    if (claimed == TLS_OUT_OF_INDEXES)
        return;
    __xl_f(own_module, DLL_THREAD_DETACH, nullptr); // the calling thread's data
    TlsFree(claimed);
}

void claim()
{
    DWORD lowest = TlsAlloc();
    TlsFree(lowest);
    pthread_self(); // the threads library takes the lowest free index now
    if (lowest != TLS_OUT_OF_INDEXES && TlsGetValue(lowest))
        claimed = lowest;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&claimed), &own_module);
    std::atexit(give_back); // registered first, so it runs after every other destructor
}

// Run by the C runtime's start-up (after its own .CRT$XIAA entry sets up atexit), before
// any constructor. A constructor would be too late on i686: the first one there, the
// DWARF-2 unwinder's frame registration, already has the threads library take its index
// (through pthread_once), so the index would not be known and would stay behind per load;
// its atexit would also come before ours.
[[gnu::used, gnu::section(".CRT$XIB")]] void (*claim_first)() = claim;

} // namespace

void process_detach(LPVOID reserved)
{
    freed = reserved == nullptr;
}

} // namespace qmx::runtime_tls
