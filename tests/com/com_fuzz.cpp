// Hostile hosts: every member of _Clicker called through IDispatch::Invoke and through the
// vtable with arguments drawn from a seed (every VARTYPE, by reference, arrays, objects that
// fail or call back, missing and named arguments, null pointers, any flags and dispatch
// identifiers), against a simulated scanner whose contents and faults come from the same
// seed. After every call: a defined HRESULT, the declared result type, and the object still
// answering hello and num_barcodes as downloaded; over the run, no growth of handles,
// committed memory or the heaps' blocks in use.
//
//   com_fuzz [--seconds N] [--calls N] [--seed S] [--cases N]
//
// com_fuzz builds the server's own sources with a simulated scanner and a clock that moves
// only while the component waits; com_fuzz_dll drives the built QMXClicker.dll and csp2.dll,
// where a download waits for real, so its scanner never answers. A failure prints the seed
// of its case; --seed S --cases 1 replays it.
#include "com/QMXClicker_h.h"
#include "com/com_ptr.h"

#ifdef QMX_COM_FUZZ_DLL
#include "com_host.h"
#else
#include "com/clicker_object.h"
#include "com/module.h"
#include "simulator/scenario_parser.h"
#include "simulator/simulated_csp2.h"
#include "support/fake_platform.h"
#endif
#include "core/scanner/csp2_entries.h"
#include "heap_in_use.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <vector>
#include <oleauto.h>
#include <psapi.h>
#include <windows.h>

namespace qmx::fuzz {

namespace {

class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint32_t below(std::uint32_t n) { return n ? static_cast<std::uint32_t>(next() % n) : 0; }
    bool chance(std::uint32_t percent) { return below(100) < percent; }

private:
    std::uint64_t state_;
};

struct Failure {
    std::string what;
};

[[noreturn]] void fail(const std::string& what)
{
    throw Failure{what};
}

std::string hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

// The members of _Clicker in vtable order, with what each declares.
enum class Arg { none, variant_ref, short_value, bstr_ref };
enum class Result { none, any, i2, bstr, boolean, date, i2_or_empty };

struct Member {
    const char* name;
    DISPID id;
    WORD kind;
    Arg arg;
    Result result;
};

constexpr Member members[] = {
    {"startport", 0x40030004, DISPATCH_PROPERTYGET, Arg::none, Result::any},
    {"startport", 0x40030004, DISPATCH_PROPERTYPUT, Arg::variant_ref, Result::none},
    {"startport", 0x40030004, DISPATCH_PROPERTYPUTREF, Arg::variant_ref, Result::none},
    {"get_barcode", 0x40030006, DISPATCH_PROPERTYGET, Arg::none, Result::i2},
    {"get_barcode", 0x40030006, DISPATCH_PROPERTYPUT, Arg::short_value, Result::none},
    {"open_clicker", 0x6003000E, DISPATCH_METHOD, Arg::none, Result::none},
    {"close_clicker", 0x6003000F, DISPATCH_METHOD, Arg::none, Result::none},
    {"serial", 0x6803000C, DISPATCH_PROPERTYGET, Arg::none, Result::bstr},
    {"lastport", 0x6803000B, DISPATCH_PROPERTYPUT, Arg::variant_ref, Result::none},
    {"newparams", 0x6803000A, DISPATCH_PROPERTYPUT, Arg::variant_ref, Result::none},
    {"pnewdatetime", 0x68030009, DISPATCH_PROPERTYPUT, Arg::bstr_ref, Result::none},
    {"alldata", 0x68030008, DISPATCH_PROPERTYGET, Arg::none, Result::bstr},
    {"comport", 0x68030007, DISPATCH_PROPERTYGET, Arg::none, Result::i2},
    {"num_barcodes", 0x68030006, DISPATCH_PROPERTYGET, Arg::none, Result::i2},
    {"hello", 0x68030005, DISPATCH_PROPERTYGET, Arg::none, Result::bstr},
    {"num_files", 0x68030004, DISPATCH_PROPERTYGET, Arg::none, Result::i2},
    {"open_ok", 0x68030003, DISPATCH_PROPERTYGET, Arg::none, Result::boolean},
    {"EmptyScanner", 0x60030010, DISPATCH_METHOD, Arg::none, Result::none},
    {"reset_params", 0x60030011, DISPATCH_METHOD, Arg::none, Result::none},
    {"getdate", 0x60030012, DISPATCH_METHOD, Arg::none, Result::none},
    {"setdate", 0x60030013, DISPATCH_METHOD, Arg::none, Result::none},
    {"sbarcode", 0x68030002, DISPATCH_PROPERTYGET, Arg::none, Result::bstr},
    {"stime", 0x68030001, DISPATCH_PROPERTYGET, Arg::none, Result::date},
    {"stype", 0x68030000, DISPATCH_PROPERTYGET, Arg::none, Result::i2_or_empty},
};
constexpr int member_count = sizeof members / sizeof members[0];
constexpr int reset_params_index = 18;

constexpr wchar_t hello_text[] = L"Clicker control successfully installed";

bool is_automation_error(HRESULT hr)
{
    const auto code = static_cast<std::uint32_t>(hr);
    if ((code & 0xFFFF0000u) != 0x800A0000u)
        return false;
    switch (code & 0xFFFFu) {
    case 5: case 6: case 9: case 13: case 53: case 94: case 453: return true;
    default: return false;
    }
}

bool is_dispatch_error(HRESULT hr)
{
    const auto code = static_cast<std::uint32_t>(hr);
    return code >= 0x80020001u && code <= 0x80020013u;
}

bool result_has_type(Result declared, const VARIANT& v)
{
    switch (declared) {
    case Result::none: return V_VT(&v) == VT_EMPTY;
    case Result::any: return true;
    case Result::i2: return V_VT(&v) == VT_I2;
    case Result::bstr: return V_VT(&v) == VT_BSTR;
    case Result::boolean: return V_VT(&v) == VT_BOOL && (V_BOOL(&v) == VARIANT_TRUE || V_BOOL(&v) == VARIANT_FALSE);
    case Result::date: return V_VT(&v) == VT_DATE;
    case Result::i2_or_empty: return V_VT(&v) == VT_I2 || V_VT(&v) == VT_EMPTY;
    }
    return false;
}

// The error information a failed member leaves must describe it.
void expect_error_info(const char* where)
{
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, info.out()) != S_OK || !info)
        fail(std::string(where) + ": an automation error without error information");
    BSTR description = nullptr;
    info->GetDescription(&description);
    const bool empty = !description || SysStringLen(description) == 0;
    SysFreeString(description);
    if (empty)
        fail(std::string(where) + ": error information without a description");
}

// --- Host objects handed to the component -------------------------------------------------

int callback_depth = 0; // a call back into the component never nests
bool tracing = false;    // QMX_COM_FUZZ_TRACE=1: each call on standard error before it is made

// The type of a value and of what it refers to, for the trace.
std::string shape(const VARIANT& v)
{
    std::string text = hex(V_VT(&v));
    if ((V_VT(&v) & VT_BYREF) && V_BYREF(&v) && (V_VT(&v) & VT_TYPEMASK) == VT_VARIANT)
        text += "->" + shape(*V_VARIANTREF(&v));
    else if (V_VT(&v) & VT_BYREF)
        text += V_BYREF(&v) ? "->" : "->null";
    return text;
}

// The reference count of the host's own test objects, which free themselves.
template <typename Interface>
class Counted : public Interface {
public:
    virtual ~Counted() = default;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

private:
    LONG refs_ = 1;
};

class HostObject final : public Counted<IDispatch> {
public:
    enum class Mode { value, fails, throws, missing, calls_back };

    HostObject(Mode mode, VARIANT value, _Clicker* clicker, std::uint32_t member)
        : mode_(mode), value_(value), clicker_(clicker), member_(member)
    {
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (count)
            *count = 0;
        return count ? S_OK : E_POINTER;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        if (info)
            *info = nullptr;
        return DISP_E_BADINDEX;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override
    {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO* exception,
                                     UINT*) override
    {
        if (id != DISPID_VALUE)
            return DISP_E_MEMBERNOTFOUND;
        switch (mode_) {
        case Mode::fails: return E_FAIL;
        case Mode::missing: return DISP_E_MEMBERNOTFOUND;
        case Mode::throws:
            if (exception) {
                ZeroMemory(exception, sizeof *exception);
                exception->scode = 0x800A0005;
                exception->bstrDescription = SysAllocString(L"host object failed");
            }
            return DISP_E_EXCEPTION;
        case Mode::calls_back:
            if (callback_depth == 0 && clicker_) {
                ++callback_depth;
                call_back();
                --callback_depth;
            }
            break;
        case Mode::value: break;
        }
        if (result) {
            VariantInit(result);
            VariantCopy(result, &value_);
        }
        return S_OK;
    }

private:
    ~HostObject() { VariantClear(&value_); }

    // A host's handler calling the object that is converting this one.
    void call_back()
    {
        BSTR text = nullptr;
        short number = 0;
        VARIANT out;
        VariantInit(&out);
        switch (member_ % 6) {
        case 0: clicker_->get_hello(&text); break;
        case 1: clicker_->get_num_barcodes(&number); break;
        case 2: clicker_->put_get_barcode(static_cast<short>(member_ % 600)); break;
        case 3: clicker_->get_startport(&out); break;
        case 4: clicker_->close_clicker(); break;
        case 5: clicker_->get_alldata(&out); break; // a download inside the conversion
        }
        SysFreeString(text);
        VariantClear(&out);
    }

    Mode mode_;
    VARIANT value_;
    _Clicker* clicker_; // not held: it may hold this object in startport
    std::uint32_t member_;
};

// An object that is no automation object: it answers IUnknown only.
class PlainObject final : public Counted<IUnknown> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = IsEqualIID(riid, IID_IUnknown) ? static_cast<IUnknown*>(this) : nullptr;
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
};

// --- Arguments ------------------------------------------------------------------------------

// Everything one call's arguments point at, freed after the call.
class Arena {
public:
    ~Arena()
    {
        for (VARIANT& v : owned_)
            VariantClear(&v);
        for (BSTR b : bstrs_)
            SysFreeString(b);
    }
    VARIANT& variant()
    {
        owned_.emplace_back();
        VariantInit(&owned_.back());
        return owned_.back();
    }
    BSTR& bstr(BSTR value)
    {
        bstrs_.push_back(value);
        return bstrs_.back();
    }
    template <typename T>
    T* scalar(T value)
    {
        auto& cell = scalars_.emplace_back();
        static_assert(sizeof(T) <= sizeof cell);
        std::memcpy(cell.bytes, &value, sizeof value);
        return reinterpret_cast<T*>(cell.bytes);
    }

private:
    struct Cell {
        alignas(16) unsigned char bytes[16];
    };
    std::deque<VARIANT> owned_;
    std::deque<BSTR> bstrs_;
    std::deque<Cell> scalars_;
};

BSTR random_text(Rng& rng)
{
    static const wchar_t* const samples[] = {
        L"", L"3", L" 7 ", L"2.5", L"3.5", L"-1", L"32767", L"32768", L"2147483648", L"1e308", L"&H10", L"True",
        L"False", L"abc", L"0203", L"021005220112", L"300514071226", L"30-514071226", L"99", L"12:30", L"1/2/2003",
        L"\u00e9\u4e2d", L"5.", L".5", L"+4", L"--", L"\t\n 9",
    };
    std::wstring text;
    switch (rng.below(4)) {
    case 0: text = samples[rng.below(sizeof samples / sizeof samples[0])]; break;
    case 1: {
        const std::uint32_t length = rng.chance(5) ? 1000 + rng.below(100000) : rng.below(40);
        text.resize(length);
        for (auto& c : text)
            c = static_cast<wchar_t>(rng.chance(80) ? L'0' + rng.below(10) : rng.below(0x10000));
        break;
    }
    case 2: // digits with NULs inside
        text = std::wstring(L"02") + L'\0' + L"10" + L'\0' + L"05";
        break;
    default:
        if (rng.chance(30))
            return nullptr;
        text = std::to_wstring(static_cast<int>(rng.below(200)) - 100);
    }
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

VARTYPE random_element_type(Rng& rng)
{
    const VARTYPE types[] = {VT_I2, VT_I4, VT_R8, VT_BSTR, VT_VARIANT, VT_UI1};
    return types[rng.below(6)];
}

SAFEARRAY* random_array(Rng& rng, VARTYPE type)
{
    SAFEARRAYBOUND bounds[2] = {{rng.below(5), static_cast<LONG>(rng.below(3)) - 1}, {rng.below(3), 0}};
    SAFEARRAY* array = SafeArrayCreate(type, 1 + rng.below(2), bounds);
    if (array && type == VT_BSTR && bounds[0].cElements > 0 && array->cDims == 1) {
        LONG index = bounds[0].lLbound;
        BSTR text = SysAllocString(L"7");
        SafeArrayPutElement(array, &index, text);
        SysFreeString(text);
    }
    return array;
}

void random_variant(Rng& rng, VARIANT& v, Arena& arena, _Clicker* clicker, int depth);

// A value by reference: a pointer to storage that lives until the call returns.
void random_reference(Rng& rng, VARIANT& v, Arena& arena, _Clicker* clicker, int depth)
{
    switch (rng.below(10)) {
    case 0: V_VT(&v) = VT_BYREF | VT_I2; V_I2REF(&v) = arena.scalar<SHORT>(static_cast<SHORT>(rng.next())); break;
    case 1: V_VT(&v) = VT_BYREF | VT_I4; V_I4REF(&v) = arena.scalar<LONG>(static_cast<LONG>(rng.next())); break;
    case 2: V_VT(&v) = VT_BYREF | VT_R8; V_R8REF(&v) = arena.scalar<double>(static_cast<double>(rng.below(40)) / 4 - 2); break;
    case 3: V_VT(&v) = VT_BYREF | VT_BSTR; V_BSTRREF(&v) = &arena.bstr(random_text(rng)); break;
    case 4: {
        VARIANT& inner = arena.variant();
        random_variant(rng, inner, arena, clicker, depth + 1);
        V_VT(&v) = VT_BYREF | VT_VARIANT;
        V_VARIANTREF(&v) = &inner;
        break;
    }
    case 5: V_VT(&v) = VT_BYREF | VT_BOOL; V_BOOLREF(&v) = arena.scalar<VARIANT_BOOL>(rng.chance(50) ? VARIANT_TRUE : 5); break;
    case 6: V_VT(&v) = VT_BYREF | VT_DATE; V_DATEREF(&v) = arena.scalar<DATE>(static_cast<double>(rng.next() % 3000000) - 700000); break;
    case 7: {
        VARIANT& holder = arena.variant(); // owns the array
        const VARTYPE element = random_element_type(rng);
        V_ARRAY(&holder) = random_array(rng, element);
        V_VT(&holder) = V_ARRAY(&holder) ? static_cast<VARTYPE>(VT_ARRAY | element) : VARTYPE{VT_EMPTY};
        V_VT(&v) = static_cast<VARTYPE>(VT_BYREF | VT_ARRAY | element);
        V_ARRAYREF(&v) = &V_ARRAY(&holder);
        break;
    }
    case 8: {
        VARIANT& holder = arena.variant();
        random_variant(rng, holder, arena, clicker, depth + 1);
        if (V_VT(&holder) != VT_DISPATCH) {
            V_VT(&v) = VT_BYREF | VT_UI1;
            V_UI1REF(&v) = arena.scalar<BYTE>(static_cast<BYTE>(rng.next()));
        } else {
            V_VT(&v) = VT_BYREF | VT_DISPATCH;
            V_DISPATCHREF(&v) = &V_DISPATCH(&holder);
        }
        break;
    }
    default:
        V_VT(&v) = VT_BYREF | VT_ERROR;
        V_ERRORREF(&v) = arena.scalar<SCODE>(DISP_E_PARAMNOTFOUND);
    }
}

void random_variant(Rng& rng, VARIANT& v, Arena& arena, _Clicker* clicker, int depth)
{
    VariantInit(&v);
    static const double doubles[] = {0, 0.5, 1.5, 2.5, 3, 3.5, -0.5, 15, 16, 999, 32767.5, 32768, -32768.5,
                                     2147483647.5, 1e300, -1e300, 1e-300, 4.9e-324};
    switch (rng.below(24)) {
    case 0: break; // Empty
    case 1: V_VT(&v) = VT_NULL; break;
    case 2: V_VT(&v) = VT_I2; V_I2(&v) = static_cast<SHORT>(rng.chance(70) ? rng.below(20) : rng.next()); break;
    case 3: V_VT(&v) = VT_I4; V_I4(&v) = static_cast<LONG>(rng.chance(70) ? rng.below(20) : rng.next()); break;
    case 4: V_VT(&v) = VT_R8; V_R8(&v) = rng.chance(10) ? std::numeric_limits<double>::quiet_NaN()
                                         : rng.chance(10) ? std::numeric_limits<double>::infinity()
                                                          : doubles[rng.below(sizeof doubles / sizeof doubles[0])];
        break;
    case 5: V_VT(&v) = VT_R4; V_R4(&v) = static_cast<float>(doubles[rng.below(sizeof doubles / sizeof doubles[0])]); break;
    case 6: V_VT(&v) = VT_BSTR; V_BSTR(&v) = random_text(rng); break;
    case 7: V_VT(&v) = VT_BSTR; V_BSTR(&v) = random_text(rng); break;
    case 8: V_VT(&v) = VT_BOOL; V_BOOL(&v) = rng.chance(40) ? VARIANT_TRUE : rng.chance(50) ? VARIANT_FALSE : 7; break;
    case 9: V_VT(&v) = VT_DATE; V_DATE(&v) = rng.chance(50) ? 46000.25 : static_cast<double>(rng.next() % 6000000) - 3000000; break;
    case 10: V_VT(&v) = VT_CY; V_CY(&v).int64 = static_cast<LONGLONG>(rng.next() % 10000000) * (rng.chance(50) ? 1 : 100000); break;
    case 11: V_VT(&v) = VT_ERROR; V_ERROR(&v) = rng.chance(70) ? DISP_E_PARAMNOTFOUND : static_cast<SCODE>(rng.next()); break;
    case 12: {
        const VARTYPE small[] = {VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT};
        V_VT(&v) = small[rng.below(8)];
        V_UI8(&v) = rng.chance(50) ? rng.below(20) : rng.next();
        break;
    }
    case 13: {
        V_VT(&v) = VT_DECIMAL;
        DECIMAL d{};
        d.scale = static_cast<BYTE>(rng.below(30)); // above 28 is not a valid decimal
        d.sign = rng.chance(30) ? DECIMAL_NEG : 0;
        d.Lo64 = rng.chance(50) ? rng.below(1000) : rng.next();
        d.Hi32 = rng.chance(80) ? 0 : static_cast<ULONG>(rng.next());
        V_DECIMAL(&v) = d;
        V_VT(&v) = VT_DECIMAL;
        break;
    }
    case 14:
    case 15:
    case 16: {
        if (depth > 2) {
            V_VT(&v) = VT_DISPATCH;
            V_DISPATCH(&v) = nullptr;
            break;
        }
        VARIANT value;
        random_variant(rng, value, arena, clicker, depth + 1);
        if (V_VT(&value) & VT_BYREF)
            VariantInit(&value); // an object's value is its own, not a pointer into the arena
        auto mode = static_cast<HostObject::Mode>(rng.below(5));
        V_VT(&v) = rng.chance(80) ? VT_DISPATCH : VT_UNKNOWN;
        V_DISPATCH(&v) = rng.chance(10) ? nullptr : new HostObject(mode, value, clicker, rng.below(1000));
        if (!V_DISPATCH(&v))
            VariantClear(&value);
        if (V_VT(&v) == VT_UNKNOWN && V_UNKNOWN(&v) && rng.chance(50)) {
            V_UNKNOWN(&v)->Release();
            V_UNKNOWN(&v) = new PlainObject;
        }
        break;
    }
    case 17: {
        const VARTYPE element = random_element_type(rng);
        V_ARRAY(&v) = random_array(rng, element);
        V_VT(&v) = V_ARRAY(&v) ? static_cast<VARTYPE>(VT_ARRAY | element) : VARTYPE{VT_EMPTY};
        break;
    }
    case 18:
    case 19:
        if (depth > 3)
            break;
        random_reference(rng, v, arena, clicker, depth);
        break;
    case 20: {
        // Types no VARIANT may hold by value, with nothing behind them.
        const VARTYPE invalid[] = {VT_VARIANT, 15, VT_VOID, VT_HRESULT, VT_PTR, VT_SAFEARRAY, VT_CARRAY,
                                   VT_USERDEFINED, VT_LPSTR, VT_LPWSTR, VT_FILETIME, VT_BLOB, VT_CLSID, 0x0FFF,
                                   VT_VECTOR | VT_I2, VT_RESERVED | VT_I2, 0x7FFF};
        V_VT(&v) = invalid[rng.below(sizeof invalid / sizeof invalid[0])];
        V_UI8(&v) = 0;
        break;
    }
    default:
        V_VT(&v) = VT_I2;
        V_I2(&v) = static_cast<SHORT>(rng.below(16));
    }
}

// --- The object under test ------------------------------------------------------------------

struct Scenario {
    std::string text;
};

// A scanner drawn from the seed: the port, 0 to 500 barcodes, sometimes a count beyond
// them, a lost clock, odd time-stamp texts, and an entry that fails from some call on.
Scenario random_scenario(Rng& rng, bool scanner_may_answer)
{
    std::string s;
    const bool answers = scanner_may_answer && rng.chance(85);
    s += answers ? "port " + std::to_string(rng.chance(50) ? 3 : rng.below(17)) + "\n" : "port none\n";
    if (answers) {
        std::uint32_t n = rng.chance(20) ? 0 : rng.chance(70) ? 1 + rng.below(10) : rng.chance(70) ? rng.below(101) : rng.below(501);
        for (std::uint32_t i = 0; i < n; ++i) {
            char line[96];
            std::snprintf(line, sizeof line, "barcode %u 20%02u-%02u-%02u %02u:%02u:%s ", rng.below(256), rng.below(64),
                          1 + rng.below(12), 1 + rng.below(28), rng.below(24), rng.below(60),
                          rng.chance(10) ? "--" : std::to_string(10 + rng.below(50)).c_str());
            s += line;
            const std::uint32_t length = rng.chance(5) ? rng.below(251) : rng.below(16);
            for (std::uint32_t k = 0; k < length; ++k)
                s += static_cast<char>('!' + rng.below(94));
            s += "\n";
        }
        if (rng.chance(5))
            s += "count " + std::to_string(rng.chance(50) ? 600 : n + rng.below(5)) + (rng.chance(50) ? " deliver\n" : "\n");
        if (rng.chance(10))
            s += "clock-lost\n";
        if (rng.chance(5))
            s += rng.chance(50) ? "stamp-text-untouched\n" : "stamp-text 5/20/05 13:45:12\n";
        if (rng.chance(5))
            s += "identity-untouched\n";
    }
    if (rng.chance(40)) {
        // Without a scanner a faulty csp2Init could open one, and the shipped DLL would wait.
        std::uint32_t entry = rng.below(15);
        if (!scanner_may_answer && entry == 0)
            entry = 1 + rng.below(14);
        static const std::int32_t results[] = {-7, -1, -2, 0, 1, 255, 40000, -40000, 2147483647, -2147483647 - 1};
        s += "fail " + std::string(csp2_entry_names[entry]) + " " + std::to_string(results[rng.below(10)]) + " from " +
             std::to_string(1 + rng.below(40)) + "\n";
    }
    return {s};
}

#ifdef QMX_COM_FUZZ_DLL

constexpr bool scanner_may_answer = false;

// The built DLL on the built csp2.dll; without an answering scanner nothing waits.
class Subject {
public:
    Subject(test::ServerDll& dll, const Scenario& scenario)
    {
        test::use_scenario(scenario.text);
        clicker_ = dll.create();
        if (!clicker_)
            fail("the server made no object");
    }
    _Clicker* clicker() { return clicker_.get(); }
    // The library runs in this process but out of sight: no scanner answers, so no count is read.
    std::int16_t downloaded_count() const { return 0; }

private:
    ComPtr<_Clicker> clicker_;
};

#else

constexpr bool scanner_may_answer = true;

// Remembers the last count that fitted in 16 bits: what num_barcodes must read.
class CountingCsp2 final : public Csp2 {
public:
    explicit CountingCsp2(Csp2& inner) : inner_(inner) {}
    std::int16_t count = 0;

    std::int32_t csp2Init(std::int32_t port) override { return inner_.csp2Init(port); }
    std::int32_t csp2ReadData() override
    {
        const std::int32_t result = inner_.csp2ReadData();
        if (result >= -32768 && result <= 32767)
            count = static_cast<std::int16_t>(result);
        return result;
    }
    std::int32_t csp2GetSystemStatus() override { return inner_.csp2GetSystemStatus(); }
    std::int32_t csp2GetDeviceId(DeviceIdBuffer& id, std::int32_t size) override { return inner_.csp2GetDeviceId(id, size); }
    std::int32_t csp2GetPacket(PacketBuffer& packet, std::int32_t number, std::int32_t size) override
    {
        return inner_.csp2GetPacket(packet, number, size);
    }
    std::int32_t csp2TimeStamp2Str(const TimeStampBytes& stamp, TimeStampText& text, std::int32_t size) override
    {
        return inner_.csp2TimeStamp2Str(stamp, text, size);
    }
    std::int32_t csp2WakeUp() override { return inner_.csp2WakeUp(); }
    std::int32_t csp2GetTime(ClockBytes& clock) override { return inner_.csp2GetTime(clock); }
    std::int32_t csp2SetTime(ClockBytes& clock) override { return inner_.csp2SetTime(clock); }
    std::int32_t csp2PowerDown() override { return inner_.csp2PowerDown(); }
    std::int32_t csp2ClearData() override { return inner_.csp2ClearData(); }
    std::int32_t csp2SetDefaults() override { return inner_.csp2SetDefaults(); }
    std::int32_t csp2Interrogate() override { return inner_.csp2Interrogate(); }
    std::int32_t csp2SetParam(std::int32_t param, ParamBuffer& value, std::int32_t size) override
    {
        return inner_.csp2SetParam(param, value, size);
    }
    std::int32_t csp2Restore() override { return inner_.csp2Restore(); }

private:
    Csp2& inner_;
};

// The server's own object over the simulator's model, with a clock that moves only while
// the component waits.
class Subject {
public:
    explicit Subject(const Scenario& scenario)
    {
        sim::ParseOutcome parsed = sim::parse_scenario(scenario.text);
        if (!parsed.scenario)
            fail("scenario: " + parsed.error);
        scanner_ = std::make_unique<sim::Scanner>(std::move(*parsed.scenario), clock_);
        library_ = std::make_unique<sim::SimulatedCsp2>(*scanner_);
        counting_ = std::make_unique<CountingCsp2>(*library_);
        const Platform platform{*counting_, clock_, pump_, directory_};
        if (FAILED(ClickerObject::Create(IID__Clicker, clicker_.out_void(), &platform)))
            fail("the server made no object");
    }
    _Clicker* clicker() { return clicker_.get(); }
    std::int16_t downloaded_count() const { return counting_->count; }

private:
    test::FakeClock clock_;
    test::FakePump pump_{clock_};
    test::FakeDirectory directory_;
    std::unique_ptr<sim::Scanner> scanner_;
    std::unique_ptr<sim::SimulatedCsp2> library_;
    std::unique_ptr<CountingCsp2> counting_;
    ComPtr<_Clicker> clicker_; // released first: it refers to everything above
};

#endif

// --- Calls ------------------------------------------------------------------------------------

// One call through IDispatch::Invoke with everything a host might get wrong.
void call_through_invoke(Rng& rng, _Clicker* clicker, const Member& member)
{
    Arena arena;
    DISPID id = member.id;
    if (rng.chance(8)) {
        const DISPID odd[] = {0, DISPID_VALUE, DISPID_UNKNOWN, DISPID_NEWENUM, DISPID_PROPERTYPUT, 0x60030014,
                              0x68030010, 0x40030005, 0x7FFFFFFF, static_cast<DISPID>(rng.next())};
        id = odd[rng.below(10)];
    }
    WORD flags = member.kind;
    if (rng.chance(25))
        flags = static_cast<WORD>(rng.chance(90) ? rng.below(16) : rng.next());
    // A put passes its value as the one argument named DISPID_PROPERTYPUT.
    const bool put = member.arg != Arg::none;
    UINT count = put ? 1 : 0;
    if (rng.chance(15))
        count = rng.below(5);
    std::vector<VARIANT> args(count);
    for (VARIANT& a : args) {
        if (member.arg == Arg::short_value && rng.chance(50)) {
            VariantInit(&a);
            V_VT(&a) = VT_I2;
            V_I2(&a) = static_cast<SHORT>(rng.chance(80) ? rng.below(502) : rng.next());
        } else if (member.arg == Arg::bstr_ref && rng.chance(50)) {
            VariantInit(&a);
            V_VT(&a) = VT_BSTR;
            V_BSTR(&a) = random_text(rng);
        } else {
            random_variant(rng, a, arena, clicker, 0);
        }
    }
    DISPID named_put = DISPID_PROPERTYPUT;
    std::vector<DISPID> named;
    if (put && count >= 1 && !rng.chance(10))
        named.push_back(named_put);
    if (rng.chance(8)) {
        named.assign(rng.below(count + 1), 0);
        for (DISPID& n : named)
            n = rng.chance(50) ? DISPID_PROPERTYPUT : static_cast<DISPID>(rng.below(4));
    }
    DISPPARAMS params{count ? args.data() : nullptr, named.empty() ? nullptr : named.data(), count,
                      static_cast<UINT>(named.size())};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    UINT bad_argument = 0xFFFF;
    const IID& riid = rng.chance(3) ? IID__Clicker : IID_NULL;
    const bool want_result = !rng.chance(15), want_exception = !rng.chance(15);

    if (tracing) {
        std::fprintf(stderr, "Invoke %s id %lX flags %X args", member.name, static_cast<unsigned long>(id), flags);
        for (const VARIANT& a : args)
            std::fprintf(stderr, " %s", shape(a).c_str());
        std::fprintf(stderr, " named %u\n", static_cast<unsigned>(named.size()));
    }
    SetErrorInfo(0, nullptr);
    const HRESULT hr = clicker->Invoke(id, riid, LOCALE_USER_DEFAULT, flags, &params, want_result ? &result : nullptr,
                                       want_exception ? &exception : nullptr, rng.chance(15) ? nullptr : &bad_argument);
    const std::string where = std::string("Invoke ") + member.name + " id " + hex(static_cast<std::uint32_t>(id)) +
                              " flags " + hex(flags) + " args " + std::to_string(count) + " named " +
                              std::to_string(named.size());
    for (VARIANT& a : args)
        VariantClear(&a);
    if (hr == DISP_E_EXCEPTION && want_exception) {
        if (!is_automation_error(exception.scode))
            fail(where + ": exception " + hex(static_cast<std::uint32_t>(exception.scode)));
        if (!exception.bstrDescription || !*exception.bstrDescription)
            fail(where + ": exception without a description");
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    } else if (hr == E_FAIL && member.id == members[0].id && (flags & DISPATCH_PROPERTYGET) && count > 0) {
        // Arguments to a get index the value: startport may hold a host object that fails.
    } else if (FAILED(hr) && !is_dispatch_error(hr) && !is_automation_error(hr)) {
        fail(where + ": undefined " + hex(static_cast<std::uint32_t>(hr)));
    }
    if (SUCCEEDED(hr) && want_result && id == member.id && flags == member.kind && count == (put ? 1u : 0u) &&
        !result_has_type(member.result, result))
        fail(where + ": result of type " + std::to_string(V_VT(&result)));
    if (FAILED(hr) && want_result && V_VT(&result) != VT_EMPTY)
        fail(where + ": a failure with a result");
    VariantClear(&result);
}

// Fills an out-parameter as a careless host leaves it: uninitialised.
template <typename T>
void garbage(T& out)
{
    std::memset(&out, 0xCD, sizeof out);
}

// One call through the vtable, as an early-bound host makes it.
void call_through_vtable(Rng& rng, _Clicker* clicker, int index)
{
    Arena arena;
    const Member& member = members[index];
    const bool null_pointer = rng.chance(5);
    VARIANT v;
    garbage(v);
    VARIANT& argument = arena.variant();
    random_variant(rng, argument, arena, clicker, 0);
    BSTR text;
    garbage(text);
    short number;
    garbage(number);
    VARIANT_BOOL flag;
    garbage(flag);
    BSTR& given = arena.bstr(random_text(rng));
    HRESULT hr = E_FAIL;

    if (tracing)
        std::fprintf(stderr, "vtable %s #%d argument %s%s\n", member.name, index + 1, shape(argument).c_str(),
                     null_pointer ? " null pointer" : "");
    SetErrorInfo(0, nullptr);
    switch (index) {
    case 0: hr = clicker->get_startport(null_pointer ? nullptr : &v); break;
    case 1: hr = clicker->put_startport(null_pointer ? nullptr : &argument); break;
    case 2: hr = clicker->putref_startport(null_pointer ? nullptr : &argument); break;
    case 3: hr = clicker->get_get_barcode(null_pointer ? nullptr : &number); break;
    case 4: hr = clicker->put_get_barcode(static_cast<short>(rng.chance(80) ? rng.below(502) : rng.next())); break;
    case 5: hr = clicker->open_clicker(); break;
    case 6: hr = clicker->close_clicker(); break;
    case 7: hr = clicker->get_serial(null_pointer ? nullptr : &v); break;
    case 8: hr = clicker->put_lastport(null_pointer ? nullptr : &argument); break;
    case 9: hr = clicker->put_newparams(null_pointer ? nullptr : &argument); break;
    case 10: hr = clicker->put_pnewdatetime(null_pointer ? nullptr : &given); break;
    case 11: hr = clicker->get_alldata(null_pointer ? nullptr : &v); break;
    case 12: hr = clicker->get_comport(null_pointer ? nullptr : &number); break;
    case 13: hr = clicker->get_num_barcodes(null_pointer ? nullptr : &number); break;
    case 14: hr = clicker->get_hello(null_pointer ? nullptr : &text); break;
    case 15: hr = clicker->get_num_files(null_pointer ? nullptr : &number); break;
    case 16: hr = clicker->get_open_ok(null_pointer ? nullptr : &flag); break;
    case 17: hr = clicker->EmptyScanner(); break;
    case 18: hr = clicker->reset_params(); break;
    case 19: hr = clicker->getdate(); break;
    case 20: hr = clicker->setdate(); break;
    case 21: hr = clicker->get_sbarcode(null_pointer ? nullptr : &v); break;
    case 22: hr = clicker->get_stime(null_pointer ? nullptr : &v); break;
    case 23: hr = clicker->get_stype(null_pointer ? nullptr : &v); break;
    }
    const std::string where = std::string("vtable ") + member.name + " #" + std::to_string(index + 1);
    const bool has_pointer = member.result != Result::none || member.arg == Arg::variant_ref || member.arg == Arg::bstr_ref;
    if (null_pointer && has_pointer) {
        if (hr != E_POINTER)
            fail(where + ": a null pointer gave " + hex(static_cast<std::uint32_t>(hr)));
        return;
    }
    if (FAILED(hr)) {
        if (!is_automation_error(hr))
            fail(where + ": undefined " + hex(static_cast<std::uint32_t>(hr)));
        expect_error_info(where.c_str());
    }
    const bool variant_out = index == 0 || index == 7 || index == 11 || index >= 21;
    if (variant_out) {
        if (SUCCEEDED(hr) && !result_has_type(member.result, v))
            fail(where + ": result of type " + std::to_string(V_VT(&v)));
        if (FAILED(hr) && V_VT(&v) != VT_EMPTY)
            fail(where + ": a failure with a result");
        VariantClear(&v);
    }
    if (index == 14) {
        if (SUCCEEDED(hr) && (!text || std::wstring(text, SysStringLen(text)) != hello_text))
            fail(where + ": wrong text");
        if (SUCCEEDED(hr))
            SysFreeString(text);
    }
    if (index == 16 && SUCCEEDED(hr) && flag != VARIANT_TRUE && flag != VARIANT_FALSE)
        fail(where + ": not a boolean");
}

// The object still answers, and num_barcodes is what the scanner last reported.
void expect_usable(_Clicker* clicker, std::int16_t downloaded)
{
    BSTR text = nullptr;
    if (clicker->get_hello(&text) != S_OK || !text || std::wstring(text, SysStringLen(text)) != hello_text)
        fail("hello no longer answers");
    SysFreeString(text);
    short count = -1;
    if (clicker->get_num_barcodes(&count) != S_OK)
        fail("num_barcodes no longer answers");
    if (count != downloaded)
        fail("num_barcodes reads " + std::to_string(count) + ", the scanner reported " + std::to_string(downloaded));
}

struct Usage {
    DWORD handles = 0;
    SIZE_T committed = 0;
    SIZE_T live = 0; // bytes of the blocks in use in the process's heaps
};


// Wine answers neither the handle count nor the private bytes: there the lowest free handle
// slot stands for the handles (it climbs while handles leak) and the commit charge for the memory.
Usage usage()
{
    Usage u;
    if (!GetProcessHandleCount(GetCurrentProcess(), &u.handles) || u.handles == 0) {
        HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        u.handles = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(probe) / 4);
        CloseHandle(probe);
    }
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters))
        u.committed = counters.PrivateUsage ? counters.PrivateUsage
                      : counters.PagefileUsage ? counters.PagefileUsage : counters.WorkingSetSize;
    u.live = test::heap_bytes_in_use();
    return u;
}

// --- The run ----------------------------------------------------------------------------------

volatile LONG64 progress_tick = 0;
volatile LONG64 current_seed = 0;

// A call that does not come back within the limit is a hang: report its seed and stop.
DWORD WINAPI watchdog(void* limit_ms)
{
    const auto limit = static_cast<LONG64>(reinterpret_cast<std::uintptr_t>(limit_ms));
    for (;;) {
        Sleep(1000);
        if (static_cast<LONG64>(GetTickCount64()) - progress_tick > limit) {
            std::fprintf(stderr, "com_fuzz: seed %lld hangs (no call returned for %lld ms)\n",
                         static_cast<long long>(current_seed), static_cast<long long>(limit));
            std::fflush(stderr);
            ExitProcess(3);
        }
    }
}

// A crash names its seed before the process goes.
LONG WINAPI report_crash(EXCEPTION_POINTERS* exception)
{
    std::fprintf(stderr, "com_fuzz: seed %lld crashes (exception %08lX)\n  replay: --seed %lld --cases 1\n",
                 static_cast<long long>(current_seed),
                 static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode), static_cast<long long>(current_seed));
    std::fflush(stderr);
    return EXCEPTION_CONTINUE_SEARCH;
}

struct Options {
    double seconds = 0;
    std::uint64_t calls = 3000;
    std::uint64_t seed = 1;
    std::uint64_t cases = 0; // 0: as many as the time or the calls allow
    int paths = 3;           // --only invoke (1) or vtable (2): one way in
};

Options parse(int argc, char** argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        if (name == "--seconds") {
            o.seconds = std::atof(value);
            o.calls = 0;
        } else if (name == "--calls") {
            o.calls = std::strtoull(value, nullptr, 10);
        } else if (name == "--seed") {
            o.seed = std::strtoull(value, nullptr, 10);
        } else if (name == "--cases") {
            o.cases = std::strtoull(value, nullptr, 10);
        } else if (name == "--only") {
            o.paths = std::string(value) == "invoke" ? 1 : 2;
        }
    }
    return o;
}

} // namespace

int run(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    tracing = std::getenv("QMX_COM_FUZZ_TRACE") != nullptr;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
#ifdef QMX_COM_FUZZ_DLL
    test::ServerDll dll(test::server_path());
#endif
    progress_tick = static_cast<LONG64>(GetTickCount64());
    SetUnhandledExceptionFilter(report_crash);
    CloseHandle(CreateThread(nullptr, 0, watchdog, reinterpret_cast<void*>(std::uintptr_t{120000}), 0, nullptr));

    const ULONGLONG start = GetTickCount64();
    std::uint64_t calls = 0, cases = 0;
    Usage settled{}, halfway{};
    bool halfway_taken = false;
    for (std::uint64_t seed = options.seed;; ++seed, ++cases) {
        if (options.cases && cases >= options.cases)
            break;
        if (!options.cases && options.calls && calls >= options.calls)
            break;
        if (!options.cases && options.seconds > 0 && (GetTickCount64() - start) / 1000.0 >= options.seconds)
            break;
        current_seed = static_cast<LONG64>(seed);
        Rng rng(seed);
        std::uint64_t call = 0;
        try {
#ifdef QMX_COM_FUZZ_DLL
            Subject subject(dll, random_scenario(rng, scanner_may_answer));
#else
            Subject subject(random_scenario(rng, scanner_may_answer));
#endif
            _Clicker* clicker = subject.clicker();
            const std::uint32_t length = 5 + rng.below(40);
            for (; call < length; ++call) {
                int index = static_cast<int>(rng.below(member_count));
                if (!scanner_may_answer && index == reset_params_index)
                    index = 14; // its parameter conversations wait for real
                const bool through_invoke = rng.chance(50);
                if (options.paths == 1 || (options.paths == 3 && through_invoke))
                    call_through_invoke(rng, clicker, members[index]);
                else
                    call_through_vtable(rng, clicker, index);
                expect_usable(clicker, subject.downloaded_count());
                progress_tick = static_cast<LONG64>(GetTickCount64());
            }
            calls += call;
        } catch (const Failure& failure) {
            std::fprintf(stderr, "com_fuzz: seed %llu, call %llu: %s\n  replay: --seed %llu --cases 1\n",
                         static_cast<unsigned long long>(seed), static_cast<unsigned long long>(call + 1),
                         failure.what.c_str(), static_cast<unsigned long long>(seed));
            return 1;
        }
#ifndef QMX_COM_FUZZ_DLL
        if (!module::can_unload()) {
            std::fprintf(stderr, "com_fuzz: seed %llu: the object outlived its last reference\n",
                         static_cast<unsigned long long>(seed));
            return 1;
        }
#endif
        // Handles and memory are measured once the runtime's caches have filled, and again
        // half-way through the run.
        if (cases == 50)
            settled = usage();
        const std::uint64_t planned = options.cases ? options.cases : 0;
        if (!halfway_taken && cases > 50 &&
            ((planned && cases * 2 >= planned) || (options.calls && calls * 2 >= options.calls) ||
             (options.seconds > 0 && (GetTickCount64() - start) / 500.0 >= options.seconds))) {
            halfway = usage();
            halfway_taken = true;
        }
    }
    const double elapsed = static_cast<double>(GetTickCount64() - start) / 1000.0;
    const Usage end = usage();
    std::printf("com_fuzz: %llu calls in %llu cases from seed %llu, %.1f s, %.0f calls/s; handles %lu -> %lu, "
                "committed %.1f -> %.1f -> %.1f MB, in use in the heaps %.1f -> %.1f -> %.1f MB\n",
                static_cast<unsigned long long>(calls), static_cast<unsigned long long>(cases),
                static_cast<unsigned long long>(options.seed), elapsed, elapsed > 0 ? calls / elapsed : 0.0,
                static_cast<unsigned long>(settled.handles), static_cast<unsigned long>(end.handles),
                settled.committed / 1048576.0, halfway.committed / 1048576.0, end.committed / 1048576.0,
                settled.live / 1048576.0, halfway.live / 1048576.0, end.live / 1048576.0);
    // Handles, committed memory and the blocks in use stay put whatever the run's length: a
    // leak of a few bytes a call shows after a million calls. (Short runs measure nothing.)
    if (halfway_taken && (end.handles > settled.handles + 16 || end.committed > settled.committed + 4 * 1048576 ||
        end.live > settled.live + 1048576)) {
        std::fprintf(stderr, "com_fuzz: handles or memory grew over the run\n");
        return 1;
    }
    CoUninitialize();
    return 0;
}

} // namespace qmx::fuzz

// The automation runtime keeps freed strings for reuse (up to 64 KB, several of each size),
// which a run of random lengths sees as growth that only slows down. It reads OANOCACHE,
// which turns that off, when it loads: without it set, the run starts again with it.
int main(int argc, char** argv)
{
    if (GetEnvironmentVariableW(L"OANOCACHE", nullptr, 0))
        return qmx::fuzz::run(argc, argv);
    SetEnvironmentVariableW(L"OANOCACHE", L"1");
    std::wstring command = GetCommandLineW();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        std::fprintf(stderr, "com_fuzz: cannot start again with OANOCACHE set (error %lu)\n", GetLastError());
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
