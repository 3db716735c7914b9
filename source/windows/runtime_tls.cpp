// The statically linked C++ runtime keeps per-thread data (exceptions in flight, the
// locale's one-time setup) in the threads library, which takes a thread-local storage
// index at its first use and never gives it back. Each load of a DLL that is then freed
// would cost the process one of its 1,088 indices, and the load after the last one
// aborts the host. So the DLL has the threads library take its index first thing, when
// its number is known, and gives it back when FreeLibrary unloads the DLL, with the
// runtime's emergency exception memory, which nothing else frees either. The threads
// library's own blocks (a record for every thread that ever called in, kept for reuse, its
// lists, its locks) are allocated from a heap of this DLL's, so they go as a whole with it:
// the DLLs link a copy of the library whose allocations are renamed to the functions below
// (cmake/runtime_tls.cmake, which also fails the build on a toolchain this was not
// verified with). Walking the library's private lists instead would depend on their layout.
#include "windows/runtime_tls.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
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
HANDLE threads_heap = nullptr;

// Made at the library's first allocation, which may come before any constructor.
HANDLE heap()
{
    if (HANDLE made = __atomic_load_n(&threads_heap, __ATOMIC_ACQUIRE))
        return made;
    HANDLE made = HeapCreate(0, 0, 0);
    if (!made)
        made = GetProcessHeap(); // then the blocks stay, as they would without this
    HANDLE expected = nullptr;
    if (!__atomic_compare_exchange_n(&threads_heap, &expected, made, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
        if (made != GetProcessHeap())
            HeapDestroy(made);
        return expected;
    }
    return made;
}

void give_back()
{
    if (!freed)
        return;
    __gnu_cxx::__freeres();
    if (claimed == TLS_OUT_OF_INDEXES)
        return;
    __xl_f(own_module, DLL_THREAD_DETACH, nullptr); // the calling thread's data
    TlsFree(claimed);
    // Last: the records of the threads that called in, those that ended and those still
    // running, which can no longer reach them now that the index is gone.
    if (HANDLE made = __atomic_exchange_n(&threads_heap, nullptr, __ATOMIC_ACQ_REL); made && made != GetProcessHeap())
        HeapDestroy(made);
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

// The threads library's allocations (renamed to these in the copy the DLLs link).
extern "C" {

void* qmx_threads_malloc(std::size_t size)
{
    return HeapAlloc(qmx::runtime_tls::heap(), 0, size ? size : 1);
}

void* qmx_threads_calloc(std::size_t count, std::size_t size)
{
    if (size && count > SIZE_MAX / size)
        return nullptr;
    const std::size_t bytes = count * size;
    return HeapAlloc(qmx::runtime_tls::heap(), HEAP_ZERO_MEMORY, bytes ? bytes : 1);
}

void qmx_threads_free(void* block)
{
    if (block)
        HeapFree(qmx::runtime_tls::heap(), 0, block);
}

void* qmx_threads_realloc(void* block, std::size_t size)
{
    if (!block)
        return qmx_threads_malloc(size);
    if (!size) {
        qmx_threads_free(block);
        return nullptr;
    }
    return HeapReAlloc(qmx::runtime_tls::heap(), 0, block, size);
}

char* qmx_threads_strdup(const char* text)
{
    std::size_t size = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(qmx_threads_malloc(size));
    return copy ? static_cast<char*>(std::memcpy(copy, text, size)) : nullptr;
}

} // extern "C"
