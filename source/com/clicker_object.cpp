#include "com/clicker_object.h"

#include "com/com_ptr.h"
#include "com/error_info.h"
#include "com/module.h"
#include "windows/csp2_dll.h"
#include "windows/native_variant.h"

#include <cwchar>
#include <iterator>
#include <new>
#include <oleauto.h>

namespace qmx {

namespace {

BSTR to_bstr(std::u16string_view text)
{
    BSTR out = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size()));
    if (!out)
        throw std::bad_alloc();
    return out;
}

std::u16string from_bstr(BSTR text)
{
    return text ? std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text)) : std::u16string();
}

// Keeps the object alive for the length of a member.
class Hold {
public:
    explicit Hold(IUnknown* object) : object_(object) { object_->AddRef(); }
    ~Hold() { object_->Release(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    IUnknown* object_;
};

constexpr DISPID startport_id = 0x40030004;

INIT_ONCE type_info_once = INIT_ONCE_STATIC_INIT;
ITypeInfo* shared_type_info = nullptr; // for the process: the DLL is pinned

// Each function of the interface: its identifier, invoke kind (the same bits as the
// DISPATCH_ flags) and argument count; read from the type information with it.
struct Member {
    DISPID id;
    WORD kind;
    UINT arguments;
};
Member members[48];
UINT member_count = 0;

void read_members(ITypeInfo* info)
{
    TYPEATTR* attributes = nullptr;
    if (FAILED(info->GetTypeAttr(&attributes)))
        return;
    const UINT functions = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < functions && member_count < std::size(members); ++i) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(i, &function)))
            continue;
        members[member_count++] = {function->memid, static_cast<WORD>(function->invkind),
                                   static_cast<UINT>(function->cParams)};
        info->ReleaseFuncDesc(function);
    }
}

// Whether a call that can only be a put hands more arguments than that put takes. The
// runtime's dispatch loses its copy of a text passed for a by-reference parameter when it
// then fails on the extra argument; such a call can only fail, so it fails here first.
bool put_with_extra_arguments(DISPID id, WORD flags, const DISPPARAMS* params)
{
    constexpr WORD puts = DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF;
    if (!params || !(flags & puts))
        return false;
    bool too_many = false; // not a put of this interface: the runtime's own answer
    for (UINT i = 0; i < member_count; ++i) {
        const Member& member = members[i];
        if (member.id != id || !(member.kind & flags))
            continue;
        if (!(member.kind & puts) || params->cArgs <= member.arguments)
            return false; // a get or method it may be, or a put it fits
        too_many = true;
    }
    return too_many;
}

// Loads the type information; a failure leaves the next call to try again.
BOOL CALLBACK load_type_info(INIT_ONCE*, void* result, void**)
{
    ComPtr<ITypeLib> library;
    HRESULT hr = ClickerObject::load_type_library(module::path().c_str(), library.out());
    if (SUCCEEDED(hr))
        hr = library->GetTypeInfoOfGuid(IID__Clicker, &shared_type_info);
    if (SUCCEEDED(hr))
        read_members(shared_type_info);
    *static_cast<HRESULT*>(result) = hr;
    return SUCCEEDED(hr);
}

HRESULT load_from_file(const wchar_t* path, ITypeLib** library)
{
    return LoadTypeLibEx(path, REGKIND_NONE, library);
}

} // namespace

HRESULT (*ClickerObject::load_type_library)(const wchar_t*, ITypeLib**) = load_from_file;

HRESULT ClickerObject::Create(REFIID riid, void** out, const Platform* platform)
{
    ComPtr<ClickerObject> object;
    try {
        object = ComPtr<ClickerObject>(new ClickerObject(platform));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    return object->QueryInterface(riid, out);
}

ClickerObject::ClickerObject(const Platform* platform)
    : scanner_(platform ? platform->scanner : Csp2Dll::process()),
      clicker_(Platform{scanner_, platform ? platform->clock : own_clock_, platform ? platform->pump : own_pump_,
                        platform ? platform->directory : own_directory_}),
      own_interface_(*this)
{
    clicker_.route_own_calls(&own_interface_);
    module::object_created();
}

ClickerObject::~ClickerObject()
{
    module::object_destroyed();
}

template <typename Body>
HRESULT ClickerObject::member(const wchar_t* name, Body&& body) noexcept
{
    Hold hold(static_cast<_Clicker*>(this));
    return traced(name, body);
}

template <typename Body>
HRESULT ClickerObject::field_accessor(const wchar_t* name, Body&& body) noexcept
{
    return traced(name, body);
}

template <typename Body>
HRESULT ClickerObject::traced(const wchar_t* name, Body&& body) noexcept
{
    wchar_t line[80];
    HRESULT hr = S_OK;
    try {
        std::swprintf(line, 80, L"%ls enter", name);
        scanner_.note(line);
        body();
    } catch (...) {
        hr = report_current_exception();
    }
    std::swprintf(line, 80, L"%ls -> 0x%08lX", name, static_cast<unsigned long>(hr));
    try {
        scanner_.note(line);
    } catch (...) { // out of memory for a diagnostic line: the member's result stands
    }
    return hr;
}

void ClickerObject::OwnInterface::open_clicker()
{
    HRESULT hr = self_.open_clicker();
    if (FAILED(hr))
        throw InterfaceCallFailed{hr};
}

void ClickerObject::OwnInterface::EmptyScanner()
{
    HRESULT hr = self_.EmptyScanner();
    if (FAILED(hr))
        throw InterfaceCallFailed{hr};
}

// IUnknown

HRESULT ClickerObject::QueryInterface(REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID__Clicker)) {
        *out = static_cast<_Clicker*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
        *out = static_cast<ISupportErrorInfo*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG ClickerObject::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG ClickerObject::Release()
{
    LONG left = InterlockedDecrement(&references_);
    if (left == 0)
        delete this;
    return static_cast<ULONG>(left);
}

// IDispatch

HRESULT ClickerObject::type_info(ITypeInfo** info)
{
    HRESULT hr = S_OK;
    if (!InitOnceExecuteOnce(&type_info_once, load_type_info, &hr, nullptr))
        return FAILED(hr) ? hr : E_UNEXPECTED;
    *info = shared_type_info;
    return S_OK;
}

HRESULT ClickerObject::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT ClickerObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info)
{
    if (!info)
        return E_POINTER;
    *info = nullptr;
    if (index != 0)
        return DISP_E_BADINDEX;
    ITypeInfo* found = nullptr;
    HRESULT hr = type_info(&found);
    if (FAILED(hr))
        return hr;
    found->AddRef();
    *info = found;
    return S_OK;
}

HRESULT ClickerObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids)
        return E_POINTER;
    ITypeInfo* info = nullptr;
    HRESULT hr = type_info(&info);
    return FAILED(hr) ? hr : info->GetIDsOfNames(names, count, ids);
}

HRESULT ClickerObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                              EXCEPINFO* exception, UINT* bad_argument)
{
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    ITypeInfo* info = nullptr;
    HRESULT hr = type_info(&info);
    if (FAILED(hr))
        return hr;
    Hold hold(static_cast<_Clicker*>(this)); // the type information stays ours for the call
    // A get given arguments indexes the value: the runtime's dispatch (which takes the get
    // whenever its flag is among the flags) calls the default member of the object
    // startport holds, trusting it to be one (not Nothing, not an object without IDispatch).
    if (id == startport_id && params && params->cArgs > 0 && (flags & DISPATCH_PROPERTYGET) &&
        !startport_holds_dispatch())
        return DISP_E_NOTACOLLECTION;
    if (put_with_extra_arguments(id, flags, params))
        return DISP_E_BADPARAMCOUNT;
    SetErrorInfo(0, nullptr);
    hr = info->Invoke(static_cast<_Clicker*>(this), id, flags, params, result, exception, bad_argument);
    // The runtime's dispatch answers an argument its conversion rejects with a general code:
    // a date out of range made into text, an object without IDispatch whose value a put
    // would take. Hosts expect the dispatch code.
    if (hr == E_INVALIDARG || hr == E_NOINTERFACE)
        hr = DISP_E_TYPEMISMATCH;
    return hr;
}

bool ClickerObject::startport_holds_dispatch() const noexcept
{
    VARIANT value;
    VariantInit(&value);
    try {
        variant_to_native(clicker_.get_startport(), &value);
    } catch (...) {
        return false;
    }
    const bool holds = V_VT(&value) == VT_DISPATCH && V_DISPATCH(&value);
    VariantClear(&value);
    return holds;
}

// ISupportErrorInfo

HRESULT ClickerObject::InterfaceSupportsErrorInfo(REFIID riid)
{
    return IsEqualIID(riid, IID__Clicker) ? S_OK : S_FALSE;
}

// _Clicker

HRESULT ClickerObject::get_startport(VARIANT* startport)
{
    if (!startport)
        return E_POINTER;
    VariantInit(startport);
    return field_accessor(L"startport", [&] { variant_to_native(clicker_.get_startport(), startport); });
}

HRESULT ClickerObject::put_startport(VARIANT* startport)
{
    if (!startport)
        return E_POINTER;
    return field_accessor(L"let startport", [&] { clicker_.put_startport(variant_from_native(*startport)); });
}

HRESULT ClickerObject::putref_startport(VARIANT* startport)
{
    if (!startport)
        return E_POINTER;
    return field_accessor(L"set startport", [&] { clicker_.putref_startport(variant_from_native(*startport)); });
}

HRESULT ClickerObject::get_get_barcode(short* get_barcode)
{
    if (!get_barcode)
        return E_POINTER;
    return field_accessor(L"get_barcode", [&] { *get_barcode = clicker_.get_get_barcode(); });
}

HRESULT ClickerObject::put_get_barcode(short get_barcode)
{
    return field_accessor(L"let get_barcode", [&] { clicker_.put_get_barcode(get_barcode); });
}

HRESULT ClickerObject::open_clicker()
{
    return member(L"open_clicker", [&] { clicker_.open_clicker(); });
}

HRESULT ClickerObject::close_clicker()
{
    return member(L"close_clicker", [&] { clicker_.close_clicker(); });
}

HRESULT ClickerObject::get_serial(VARIANT* serial)
{
    if (!serial)
        return E_POINTER;
    VariantInit(serial);
    return member(L"serial", [&] { variant_to_native(clicker_.get_serial(), serial); });
}

HRESULT ClickerObject::put_lastport(VARIANT* pt)
{
    if (!pt)
        return E_POINTER;
    return member(L"let lastport", [&] { clicker_.put_lastport(variant_from_native(*pt)); });
}

HRESULT ClickerObject::put_newparams(VARIANT* nparams)
{
    if (!nparams)
        return E_POINTER;
    return member(L"let newparams", [&] { clicker_.put_newparams(variant_from_native(*nparams)); });
}

HRESULT ClickerObject::put_pnewdatetime(BSTR* newdt)
{
    if (!newdt)
        return E_POINTER;
    return member(L"let pnewdatetime", [&] { clicker_.put_pnewdatetime(from_bstr(*newdt)); });
}

HRESULT ClickerObject::get_alldata(VARIANT* alldata)
{
    if (!alldata)
        return E_POINTER;
    VariantInit(alldata);
    return member(L"alldata", [&] { variant_to_native(clicker_.get_alldata(), alldata); });
}

HRESULT ClickerObject::get_comport(short* comport)
{
    if (!comport)
        return E_POINTER;
    return member(L"comport", [&] { *comport = clicker_.get_comport(); });
}

HRESULT ClickerObject::get_num_barcodes(short* num_barcodes)
{
    if (!num_barcodes)
        return E_POINTER;
    return member(L"num_barcodes", [&] { *num_barcodes = clicker_.get_num_barcodes(); });
}

HRESULT ClickerObject::get_hello(BSTR* hello)
{
    if (!hello)
        return E_POINTER;
    *hello = nullptr;
    return member(L"hello", [&] { *hello = to_bstr(clicker_.get_hello()); });
}

HRESULT ClickerObject::get_num_files(short* num_files)
{
    if (!num_files)
        return E_POINTER;
    return member(L"num_files", [&] { *num_files = clicker_.get_num_files(); });
}

HRESULT ClickerObject::get_open_ok(VARIANT_BOOL* open_ok)
{
    if (!open_ok)
        return E_POINTER;
    return member(L"open_ok", [&] { *open_ok = clicker_.get_open_ok(); });
}

HRESULT ClickerObject::EmptyScanner()
{
    return member(L"EmptyScanner", [&] { clicker_.EmptyScanner(); });
}

HRESULT ClickerObject::reset_params()
{
    return member(L"reset_params", [&] { clicker_.reset_params(); });
}

HRESULT ClickerObject::getdate()
{
    return member(L"getdate", [&] { clicker_.getdate(); });
}

HRESULT ClickerObject::setdate()
{
    return member(L"setdate", [&] { clicker_.setdate(); });
}

HRESULT ClickerObject::get_sbarcode(VARIANT* sbarcode)
{
    if (!sbarcode)
        return E_POINTER;
    VariantInit(sbarcode);
    return member(L"sbarcode", [&] { variant_to_native(clicker_.get_sbarcode(), sbarcode); });
}

HRESULT ClickerObject::get_stime(VARIANT* stime)
{
    if (!stime)
        return E_POINTER;
    VariantInit(stime);
    return member(L"stime", [&] { variant_to_native(clicker_.get_stime(), stime); });
}

HRESULT ClickerObject::get_stype(VARIANT* stype)
{
    if (!stype)
        return E_POINTER;
    VariantInit(stype);
    return member(L"stype", [&] { variant_to_native(clicker_.get_stype(), stype); });
}

} // namespace qmx
