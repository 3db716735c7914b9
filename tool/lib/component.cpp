#include "lib/component.h"

#include "lib/system.h"

#include <windows.h>

#include <oleauto.h>

#include <algorithm>

namespace qmx::tool {

namespace {

// Resource 2 of type RT_MANIFEST in each tool: the dependency on the QMXClicker assembly.
// Resource 1 would make the loader refuse to start the program wherever that assembly
// is missing, and the tools must also run against a registered component.
constexpr WORD component_manifest_id = 2;

HANDLE make_context()
{
    const std::wstring program = module_path(nullptr);
    const std::wstring folder = folder_of(program);
    ACTCTXW context{};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID | ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_ASSEMBLY_DIRECTORY_VALID;
    context.lpSource = program.c_str();
    context.hModule = GetModuleHandleW(nullptr);
    context.lpResourceName = MAKEINTRESOURCEW(component_manifest_id);
    context.lpAssemblyDirectory = folder.c_str();
    return CreateActCtxW(&context);
}

HANDLE the_context()
{
    static const HANDLE context = make_context();
    return context;
}

// VARIANT that clears itself.
struct Value {
    VARIANT v;
    Value() { VariantInit(&v); }
    ~Value() { VariantClear(&v); }
    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;
    std::wstring text() const
    {
        if (V_VT(&v) == VT_BSTR)
            return std::wstring(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
        VARIANT converted;
        VariantInit(&converted);
        std::wstring result;
        if (SUCCEEDED(VariantChangeType(&converted, const_cast<VARIANT*>(&v), 0, VT_BSTR)))
            result.assign(V_BSTR(&converted), SysStringLen(V_BSTR(&converted)));
        VariantClear(&converted);
        return result;
    }
};

std::wstring error_description()
{
    IErrorInfo* info = nullptr;
    std::wstring text;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description)) && description)
            text.assign(description, SysStringLen(description));
        SysFreeString(description);
        info->Release();
    }
    return text;
}

} // namespace

ManifestScope::ManifestScope()
{
    const HANDLE context = the_context();
    ULONG_PTR cookie = 0;
    active_ = context != INVALID_HANDLE_VALUE && ActivateActCtx(context, &cookie);
    cookie_ = static_cast<unsigned long>(cookie);
}

ManifestScope::~ManifestScope()
{
    if (active_)
        DeactivateActCtx(0, cookie_);
}

bool ManifestScope::available()
{
    return the_context() != INVALID_HANDLE_VALUE;
}

Component::Component()
{
    ManifestScope manifest;
    const HRESULT hr = CoCreateInstance(CLSID_Clicker, nullptr, CLSCTX_SERVER, IID__Clicker, clicker_.out_void());
    if (hr == REGDB_E_CLASSNOTREG)
        throw ToolError{Outcome::component,
                        L"QMXClicker.Clicker is not registered, and no QMXClicker.dll stands beside this program (" +
                            hex(hr) + L")"};
    if (FAILED(hr))
        throw ToolError{Outcome::component, L"QMXClicker.Clicker cannot be created: " + system_message(hr) + L" (" + hex(hr) + L")"};
}

void Component::check(HRESULT hr, const wchar_t* member)
{
    if (SUCCEEDED(hr))
        return;
    std::wstring description = error_description();
    clicker_->close_clicker();
    if (HRESULT_FACILITY(hr) == FACILITY_CONTROL) {
        const long number = HRESULT_CODE(hr);
        throw ToolError{Outcome::component, L"error " + std::to_wstring(number) + L": " + description, number};
    }
    if (description.empty())
        description = system_message(hr);
    throw ToolError{Outcome::component, std::wstring(member) + L" failed: " + description + L" (" + hex(hr) + L")"};
}

void Component::put_port(std::optional<int> port)
{
    Value value;
    if (port) {
        V_VT(&value.v) = VT_I4;
        V_I4(&value.v) = *port;
    }
    check(clicker_->put_startport(&value.v), L"startport");
}

Download Component::download(std::optional<int> start_port)
{
    Download d;
    put_port(start_port);
    Value all;
    check(clicker_->get_alldata(&all.v), L"alldata");
    d.upload = all.text();
    d.downloaded_at = local_now();
    VARIANT_BOOL ok = VARIANT_FALSE;
    short port = 0, count = 0;
    check(clicker_->get_open_ok(&ok), L"open_ok");
    check(clicker_->get_comport(&port), L"comport");
    d.found = ok != VARIANT_FALSE;
    d.port = port;
    if (!d.found)
        return d;
    check(clicker_->get_num_barcodes(&count), L"num_barcodes");
    d.reported = count;
    Value serial;
    check(clicker_->get_serial(&serial.v), L"serial");
    d.identity = serial.text();
    // The header of the upload string holds the clock: flag at 19, twelve digits at 20.
    if (d.upload.size() >= 32) {
        d.clock_valid = d.upload[19] == L'H';
        d.clock_digits = d.upload.substr(20, 12);
    }
    for (short k = 1; k <= std::min<short>(count, 500); ++k) {
        Entry e;
        e.number = k;
        check(clicker_->put_get_barcode(k), L"get_barcode");
        Value barcode, scanned, type;
        check(clicker_->get_sbarcode(&barcode.v), L"sbarcode");
        check(clicker_->get_stime(&scanned.v), L"stime");
        check(clicker_->get_stype(&type.v), L"stype");
        e.barcode = barcode.text();
        if (V_VT(&scanned.v) == VT_DATE)
            e.scanned = V_DATE(&scanned.v);
        if (V_VT(&type.v) == VT_I2)
            e.code_type = V_I2(&type.v);
        d.entries.push_back(std::move(e));
    }
    return d;
}

void Component::empty_scanner(int port, const std::wstring& clock_text)
{
    put_port(port);
    BSTR text = SysAllocStringLen(clock_text.data(), static_cast<UINT>(clock_text.size()));
    const HRESULT hr = clicker_->put_pnewdatetime(&text);
    SysFreeString(text);
    check(hr, L"pnewdatetime");
    check(clicker_->EmptyScanner(), L"EmptyScanner");
    // EmptyScanner refuses quietly when the port does not open: open_ok turns False.
    VARIANT_BOOL ok = VARIANT_FALSE;
    check(clicker_->get_open_ok(&ok), L"open_ok");
    if (ok == VARIANT_FALSE)
        throw ToolError{Outcome::not_cleared, L"port " + std::to_wstring(port) + L" did not open for the clear"};
}

void Component::set_clock(int port)
{
    put_port(port);
    check(clicker_->setdate(), L"setdate");
}

void Component::program(int port, const std::wstring& parameter_list)
{
    put_port(port);
    Value list;
    V_VT(&list.v) = VT_BSTR;
    V_BSTR(&list.v) = SysAllocStringLen(parameter_list.data(), static_cast<UINT>(parameter_list.size()));
    check(clicker_->put_newparams(&list.v), L"newparams");
    check(clicker_->reset_params(), L"reset_params");
}

std::wstring Component::hello()
{
    BSTR text = nullptr;
    check(clicker_->get_hello(&text), L"hello");
    std::wstring result(text ? text : L"", SysStringLen(text));
    SysFreeString(text);
    return result;
}

std::wstring loaded_module_path(const wchar_t* name)
{
    const HMODULE module = GetModuleHandleW(name);
    return module ? module_path(module) : std::wstring();
}

} // namespace qmx::tool
