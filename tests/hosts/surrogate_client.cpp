// A 64-bit C++ client of the class hosted by the system surrogate: it creates the object
// out of process, checks that the DLL is not loaded in its own process, and calls it
// early-bound through _Clicker against the simulated scanner. Prints a line per check and
// closes with "surrogate client: all checks passed"; the exit code counts the failures.
#include "com/QMXClicker_h.h"

#include <cstdio>
#include <string>
#include <windows.h>

namespace {

int failures = 0;

void check(bool ok, const char* what)
{
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    failures += ok ? 0 : 1;
}

std::wstring text_of(VARIANT& value)
{
    std::wstring text = V_VT(&value) == VT_BSTR && V_BSTR(&value) ? V_BSTR(&value) : L"";
    VariantClear(&value);
    return text;
}

void visit(_Clicker* c)
{
    BSTR hello = nullptr;
    check(c->get_hello(&hello) == S_OK && hello && std::wstring(hello) == L"Clicker control successfully installed",
          "hello");
    SysFreeString(hello);

    VARIANT port;
    VariantInit(&port);
    V_VT(&port) = VT_I2;
    V_I2(&port) = 3;
    check(c->put_startport(&port) == S_OK, "startport = 3");
    VARIANT data;
    VariantInit(&data);
    check(c->get_alldata(&data) == S_OK && text_of(data).size() == 36 + 32 * 6, "alldata: six barcodes");
    VARIANT_BOOL open_ok = VARIANT_FALSE;
    short count = 0;
    check(c->get_open_ok(&open_ok) == S_OK && open_ok == VARIANT_TRUE, "open_ok");
    check(c->get_num_barcodes(&count) == S_OK && count == 6, "num_barcodes");

    VARIANT barcode;
    VariantInit(&barcode);
    check(c->put_get_barcode(0) == S_OK && c->get_sbarcode(&barcode) == static_cast<HRESULT>(0x800A0009),
          "sbarcode with get_barcode 0 gives 0x800A0009");
    VariantClear(&barcode);
}

} // namespace

int main()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    CLSID clsid{};
    check(CLSIDFromProgID(L"QMXClicker.Clicker", &clsid) == S_OK && IsEqualCLSID(clsid, CLSID_Clicker),
          "the ProgID names the class");

    _Clicker* c = nullptr;
    HRESULT hr =
        CoCreateInstance(CLSID_Clicker, nullptr, CLSCTX_INPROC_SERVER, IID__Clicker, reinterpret_cast<void**>(&c));
    check(FAILED(hr), "no in-process server for this client");
    if (c)
        c->Release();
    c = nullptr;

    hr = CoCreateInstance(CLSID_Clicker, nullptr, CLSCTX_LOCAL_SERVER, IID__Clicker, reinterpret_cast<void**>(&c));
    std::printf("     CLSCTX_LOCAL_SERVER: 0x%08lx\n", static_cast<unsigned long>(hr));
    check(hr == S_OK && c, "created in the surrogate");
    if (c) {
        check(GetModuleHandleW(L"QMXClicker.dll") == nullptr, "QMXClicker.dll is not loaded in the client");
        visit(c);
        c->Release();
    }
    CoUninitialize();
    if (failures == 0)
        std::printf("surrogate client: all checks passed\n");
    return failures;
}
