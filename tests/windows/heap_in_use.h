// Bytes of the blocks in use in all of the process's heaps: unlike the committed memory,
// which a heap keeps after its blocks are freed, this goes back down when nothing leaks.
#pragma once

#include <windows.h>

namespace qmx::test {

inline SIZE_T heap_bytes_in_use()
{
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    SIZE_T total = 0;
    for (DWORD i = 0; i < count && i < 256; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                total += entry.cbData;
        }
        HeapUnlock(heaps[i]);
    }
    return total;
}

} // namespace qmx::test
