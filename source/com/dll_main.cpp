// The DLL's entry points and the class factory of Clicker.
#include "com/QMXClicker_h.h"
#include "com/clicker_object.h"
#include "com/module.h"
#include "com/registration.h"
#include "windows/pin_module.h"

#include <algorithm>
#include <string_view>
#include <windows.h>

namespace qmx {

namespace {

class ClassFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // One factory for the process; its lifetime is the DLL's, held by LockServer.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return ClickerObject::Create(riid, out);
    }

    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        module::lock(lock != FALSE);
        return S_OK;
    }
};

ClassFactory factory;

// Registers or unregisters in the hive's Software\Classes.
HRESULT register_in(HKEY hive, bool install) noexcept
{
    try {
        registration::SystemTarget system(hive);
        if (FAILED(system.status()))
            return system.status();
        return install ? registration::install(system.target(), module::path())
                       : registration::uninstall(system.target());
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

} // namespace

} // namespace qmx

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    // Thread notifications stay on: the threads library's per-thread clean-up runs on them.
    // Pinned, the DLL is detached only at process exit, so its type information and the
    // csp2.DLL binding stay for the process.
    if (reason == DLL_PROCESS_ATTACH) {
        qmx::module::set_instance(instance);
        return qmx::pin_module(instance);
    }
    return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_Clicker))
        return CLASS_E_CLASSNOTAVAILABLE;
    return qmx::factory.QueryInterface(riid, out);
}

HRESULT WINAPI DllCanUnloadNow(void)
{
    return qmx::module::can_unload() ? S_OK : S_FALSE;
}

HRESULT WINAPI DllRegisterServer(void)
{
    return qmx::register_in(HKEY_LOCAL_MACHINE, true);
}

HRESULT WINAPI DllUnregisterServer(void)
{
    return qmx::register_in(HKEY_LOCAL_MACHINE, false);
}

// regsvr32 /n /i:user (and /u /n /i:user): the current user's classes only, which needs
// no administrator rights. regsvr32 /i without a command line: the machine's, as
// DllRegisterServer.
HRESULT WINAPI DllInstall(BOOL install, LPCWSTR command_line)
{
    std::wstring_view line = command_line ? command_line : L"";
    const auto blank = line.find_first_not_of(L" \t");
    line.remove_prefix(std::min(blank, line.size()));
    line.remove_suffix(line.size() - (line.find_last_not_of(L" \t") + 1));
    if (line.empty())
        return qmx::register_in(HKEY_LOCAL_MACHINE, install != FALSE);
    if (line.size() == 4 && _wcsnicmp(line.data(), L"user", 4) == 0)
        return qmx::register_in(HKEY_CURRENT_USER, install != FALSE);
    return E_INVALIDARG;
}

} // extern "C"
