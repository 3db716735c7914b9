// A C++ host that uses the class without any registration: run beside QMXClicker.dll
// with an application manifest that depends on the assembly QMXClicker, it creates the
// class by CLSID and by ProgID and downloads; run without the manifest ("unlisted") it
// must find no class. Prints a line per check; the exit code counts the failures.
#include "com/QMXClicker_h.h"

#include <cstdio>
#include <cwchar>
#include <windows.h>

namespace {

int failures = 0;

void check(bool ok, const char* what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    failures += ok ? 0 : 1;
}

_Clicker* create(REFCLSID clsid, HRESULT* hr)
{
    _Clicker* c = nullptr;
    *hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__Clicker, reinterpret_cast<void**>(&c));
    return SUCCEEDED(*hr) ? c : nullptr;
}

void download(_Clicker* c, const char* how)
{
    VARIANT port, data;
    VariantInit(&port);
    VariantInit(&data);
    V_VT(&port) = VT_I2;
    V_I2(&port) = 3;
    short count = 0;
    const bool ok = c->put_startport(&port) == S_OK && c->get_alldata(&data) == S_OK && V_VT(&data) == VT_BSTR &&
                    SysStringLen(V_BSTR(&data)) == 36 + 32 * 6 && c->get_num_barcodes(&count) == S_OK && count == 6;
    VariantClear(&data);
    std::printf("%s ", ok ? "ok  " : "FAIL");
    std::printf("created by %s, downloaded six barcodes\n", how);
    failures += ok ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const bool listed = !(argc > 1 && std::wcscmp(argv[1], L"unlisted") == 0);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HRESULT hr = S_OK;
    _Clicker* c = create(CLSID_Clicker, &hr);
    std::printf("     by CLSID: 0x%08lx\n", static_cast<unsigned long>(hr));
    if (!listed) {
        check(hr == REGDB_E_CLASSNOTREG, "without the manifest the class is not registered");
    } else {
        check(c != nullptr, "created by CLSID");
        if (c)
            download(c, "CLSID");
        // Wine may answer the ProgID with an alias CLSID: what counts is that it creates.
        CLSID by_name{};
        check(CLSIDFromProgID(L"QMXClicker.Clicker", &by_name) == S_OK, "the ProgID is known");
        _Clicker* named = create(by_name, &hr);
        check(named != nullptr, "created by ProgID");
        if (named) {
            download(named, "ProgID");
            named->Release();
        }
    }
    if (c)
        c->Release();
    CoUninitialize();
    if (failures == 0)
        std::printf("registration-free: all checks passed\n");
    return failures;
}
