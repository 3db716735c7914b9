// Windows binding of the scanner library: csp2.DLL is loaded at the first call of any
// entry, and each entry is bound by its exported name at its own first call. Both are
// safe from any thread, since the component's objects share one binding.
#pragma once

#include "core/scanner/csp2.h"
#include "core/scanner/csp2_entries.h"

#include <array>
#include <atomic>
#include <string>
#include <windows.h>

namespace qmx {

class Csp2Dll final : public Csp2 {
public:
    using Writer = void(WINAPI*)(const wchar_t* line);

    // A binding of its own, freeing the library with it (tests). A csp2.DLL the process
    // has loaded already is used as it is. Otherwise own_folder, the folder of the module
    // that uses the library, is the only place looked at while it holds a csp2.DLL.
    // Without one come the safe default directories (program_folder, the host program's
    // by default; folders added by the host; the system folder), never the current
    // directory or PATH. The library's own dependencies come from its folder and the
    // system folder only. `write` gets the line naming the file in use.
    explicit Csp2Dll(std::wstring own_folder);
    Csp2Dll(std::wstring own_folder, std::wstring program_folder, Writer write = OutputDebugStringW);
    ~Csp2Dll() override;

    // The process's binding, looking first in the folder of the module holding this code
    // (QMXClicker.dll). The library is never freed, not even when that module goes: what
    // it keeps (an open serial port) outlives every object, as with a module-level
    // declaration of a DLL.
    static Csp2Dll& process();

    Csp2Dll(const Csp2Dll&) = delete;
    Csp2Dll& operator=(const Csp2Dll&) = delete;

    QMX_CSP2_OVERRIDES;

private:
    struct ProcessWide {};
    explicit Csp2Dll(ProcessWide);
    static Csp2Dll process_;

    HMODULE library();
    FARPROC bind(Csp2Entry entry);
    template <typename Function>
    Function entry(Csp2Entry which);

    HMODULE load();

    std::wstring own_folder_;
    std::wstring program_folder_;
    Writer write_ = OutputDebugStringW;
    bool keep_loaded_ = false;
    SRWLOCK lock_ = SRWLOCK_INIT; // the load and each binding happen once
    std::atomic<HMODULE> module_{nullptr};
    std::array<std::atomic<FARPROC>, csp2_entry_names.size()> entries_{};
};

} // namespace qmx
