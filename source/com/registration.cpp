// Self-registration: the type library (and with it _Clicker for the type-library
// marshaller), the class with this DLL as its apartment-threaded server, and the ProgID.
#include "com/QMXClicker_h.h"
#include "com/module.h"

#include <oleauto.h>
#include <string>
#include <windows.h>

namespace qmx {

namespace {

constexpr wchar_t prog_id[] = L"QMXClicker.Clicker";
constexpr wchar_t class_name[] = L"Clicker";
constexpr WORD library_major = 1;
constexpr WORD library_minor = 0;
constexpr LCID library_lcid = 0x0409;
#ifdef _WIN64
constexpr SYSKIND library_syskind = SYS_WIN64;
#else
constexpr SYSKIND library_syskind = SYS_WIN32;
#endif

std::wstring guid_text(REFGUID guid)
{
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

HRESULT set_value(const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    HKEY handle = nullptr;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &handle, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
    }
    return HRESULT_FROM_WIN32(status);
}

HRESULT delete_tree(const std::wstring& key)
{
    LONG status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    if (status == ERROR_SUCCESS)
        status = RegDeleteKeyW(HKEY_CLASSES_ROOT, key.c_str());
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND)
        return S_OK;
    return HRESULT_FROM_WIN32(status);
}

HRESULT register_type_library()
{
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(module::path().c_str(), REGKIND_REGISTER, &library);
    if (SUCCEEDED(hr))
        library->Release();
    return hr;
}

HRESULT register_class()
{
    const std::wstring clsid = guid_text(CLSID_Clicker);
    const std::wstring key = L"CLSID\\" + clsid;
    HRESULT hr;
    if (FAILED(hr = set_value(key, nullptr, class_name)) ||
        FAILED(hr = set_value(key + L"\\InprocServer32", nullptr, module::path())) ||
        FAILED(hr = set_value(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment")) ||
        FAILED(hr = set_value(key + L"\\ProgID", nullptr, prog_id)) ||
        FAILED(hr = set_value(key + L"\\TypeLib", nullptr, guid_text(LIBID_QMXClicker))) ||
        FAILED(hr = set_value(key + L"\\Version", nullptr, L"1.0")) ||
        FAILED(hr = set_value(prog_id, nullptr, class_name)) ||
        FAILED(hr = set_value(std::wstring(prog_id) + L"\\CLSID", nullptr, clsid)))
        return hr;
    return S_OK;
}

HRESULT unregister_all()
{
    HRESULT first = S_OK;
    auto keep = [&](HRESULT hr) {
        if (FAILED(hr) && SUCCEEDED(first))
            first = hr;
    };
    keep(delete_tree(prog_id));
    keep(delete_tree(L"CLSID\\" + guid_text(CLSID_Clicker)));
    // A type library that is not registered is not a failure of unregistering.
    BSTR registered = nullptr;
    if (SUCCEEDED(QueryPathOfRegTypeLib(LIBID_QMXClicker, library_major, library_minor, library_lcid, &registered))) {
        SysFreeString(registered);
        keep(UnRegisterTypeLib(LIBID_QMXClicker, library_major, library_minor, library_lcid, library_syskind));
    }
    return first;
}

} // namespace

} // namespace qmx

extern "C" {

HRESULT WINAPI DllRegisterServer(void)
{
    HRESULT hr = qmx::register_type_library();
    if (SUCCEEDED(hr))
        hr = qmx::register_class();
    if (FAILED(hr))
        qmx::unregister_all(); // nothing half-registered
    return hr;
}

HRESULT WINAPI DllUnregisterServer(void)
{
    return qmx::unregister_all();
}

} // extern "C"
