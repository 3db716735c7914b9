#include "com_host.h"

#include "temp_folder.h"

#include <oleauto.h>
#include <stdexcept>

namespace qmx::test {

namespace {

template <typename F>
F export_of(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

std::wstring full_path(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH];
    DWORD length = GetFullPathNameW(path.c_str(), MAX_PATH, buffer, nullptr);
    return std::wstring(buffer, length);
}

} // namespace

ServerDll::ServerDll(const std::wstring& path) : module_(LoadLibraryW(path.c_str()))
{
    if (!module_)
        throw std::runtime_error("cannot load the server DLL");
}

ServerDll::~ServerDll()
{
    FreeLibrary(module_);
}

HRESULT ServerDll::get_class_object(REFCLSID clsid, REFIID riid, void** out) const
{
    return export_of<HRESULT(WINAPI*)(REFCLSID, REFIID, void**)>(module_, "DllGetClassObject")(clsid, riid, out);
}

HRESULT ServerDll::can_unload_now() const
{
    return export_of<HRESULT(WINAPI*)()>(module_, "DllCanUnloadNow")();
}

HRESULT ServerDll::register_server() const
{
    return export_of<HRESULT(WINAPI*)()>(module_, "DllRegisterServer")();
}

HRESULT ServerDll::unregister_server() const
{
    return export_of<HRESULT(WINAPI*)()>(module_, "DllUnregisterServer")();
}

HRESULT ServerDll::install(BOOL install, const wchar_t* command_line) const
{
    return export_of<HRESULT(WINAPI*)(BOOL, LPCWSTR)>(module_, "DllInstall")(install, command_line);
}

ComPtr<_Clicker> ServerDll::create() const
{
    ComPtr<IClassFactory> factory;
    ComPtr<_Clicker> clicker;
    if (SUCCEEDED(get_class_object(CLSID_Clicker, IID_IClassFactory, factory.out_void())))
        factory->CreateInstance(nullptr, IID__Clicker, clicker.out_void());
    return clicker;
}

std::wstring server_folder()
{
    return full_path(program_folder() + L"\\..");
}

std::wstring server_path()
{
    return server_folder() + L"\\QMXClicker.dll";
}

Answer::Answer()
{
    VariantInit(&result);
    ZeroMemory(&exception, sizeof exception);
}

Answer::~Answer()
{
    VariantClear(&result);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
}

Answer::Answer(Answer&& other) noexcept : hr(other.hr), result(other.result), exception(other.exception)
{
    VariantInit(&other.result);
    ZeroMemory(&other.exception, sizeof other.exception);
}

std::wstring Answer::source() const
{
    return exception.bstrSource ? exception.bstrSource : L"";
}

std::wstring Answer::description() const
{
    return exception.bstrDescription ? exception.bstrDescription : L"";
}

DISPID dispid_of(IDispatch* object, const wchar_t* name)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
}

Answer invoke_id(IDispatch* object, DISPID id, WORD flags, std::vector<VARIANT> arguments)
{
    Answer answer;
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        params.rgdispidNamedArgs = &named;
        params.cNamedArgs = 1;
    }
    UINT bad = 0;
    answer.hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, &answer.result, &answer.exception, &bad);
    for (VARIANT& v : arguments)
        VariantClear(&v);
    return answer;
}

Answer invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> arguments)
{
    return invoke_id(object, dispid_of(object, name), flags, std::move(arguments));
}

Answer get(IDispatch* object, const wchar_t* name)
{
    return invoke(object, name, DISPATCH_PROPERTYGET);
}

Answer call(IDispatch* object, const wchar_t* name)
{
    return invoke(object, name, DISPATCH_METHOD);
}

Answer put(IDispatch* object, const wchar_t* name, VARIANT value)
{
    return invoke(object, name, DISPATCH_PROPERTYPUT, {value});
}

VARIANT v_i2(short value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I2;
    V_I2(&v) = value;
    return v;
}

VARIANT v_i4(long value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    return v;
}

VARIANT v_r8(double value)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_R8;
    V_R8(&v) = value;
    return v;
}

VARIANT v_text(const wchar_t* text)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(text);
    return v;
}

VARIANT v_null()
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_NULL;
    return v;
}

VARIANT v_empty()
{
    VARIANT v;
    VariantInit(&v);
    return v;
}

std::wstring text_of(const VARIANT& value)
{
    if (V_VT(&value) != VT_BSTR || !V_BSTR(&value))
        return L"";
    return std::wstring(V_BSTR(&value), SysStringLen(V_BSTR(&value)));
}

std::wstring taken(BSTR text)
{
    std::wstring out = text ? std::wstring(text, SysStringLen(text)) : std::wstring();
    SysFreeString(text);
    return out;
}

std::wstring alldata(_Clicker* clicker, HRESULT expected)
{
    OwnedVariant data;
    EXPECT_EQ(clicker->get_alldata(&data), expected);
    return expected == S_OK ? text_of(data) : std::wstring();
}

std::wstring error_info_description()
{
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return L"";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring out = text ? text : L"";
    SysFreeString(text);
    info->Release();
    return out;
}

void restart_simulator()
{
    HMODULE library = GetModuleHandleW((server_folder() + L"\\csp2.dll").c_str());
    if (library)
        export_of<void(WINAPI*)()>(library, "qmxSimRestart")();
}

void use_scenario(const std::string& text)
{
    restart_simulator();
    if (text.empty()) {
        SetEnvironmentVariableW(L"QMX_SIM_SCENARIO", nullptr);
        return;
    }
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    std::wstring path = std::wstring(folder) + L"qmx-com-scenario-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    SetEnvironmentVariableW(L"QMX_SIM_SCENARIO", path.c_str());
}

} // namespace qmx::test
