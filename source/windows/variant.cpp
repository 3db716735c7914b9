// The Windows Variant: a real VARIANT, converted by the system's automation runtime.
#include "core/automation/variant.h"
#include "windows/native_variant.h"

#include "core/automation/error.h"

#include <new>
#include <oleauto.h>
#include <windows.h>

namespace qmx {

struct Variant::Rep {
    VARIANT value;
    Rep() { VariantInit(&value); }
    Rep(const Rep&) = delete;
    Rep& operator=(const Rep&) = delete;
    ~Rep() { VariantClear(&value); }
};

struct VariantAccess {
    static const VARIANT* native(const Variant& v) { return v.rep_ ? &v.rep_->value : nullptr; }
    static Variant adopt(std::unique_ptr<Variant::Rep> rep) { return Variant(std::move(rep)); }
};

namespace {

// A failed conversion of the automation runtime as the run-time error.
[[noreturn]] void raise_conversion_failure(HRESULT hr)
{
    switch (hr) {
    case DISP_E_OVERFLOW: raise(ErrorNumber::Overflow);
    case E_OUTOFMEMORY: throw std::bad_alloc();
    default: raise(ErrorNumber::TypeMismatch);
    }
}

// A VARIANT the automation rules allow: a type a VARIANT may hold, by value or by
// reference, with a reference that points somewhere, and a VARIANT reference to a value
// (which may itself be a reference, but not to another VARIANT). The runtime's copy trusts
// the type and follows the pointer, so anything else is refused before it is read.
bool allowed(const VARIANT& v)
{
    const VARTYPE type = V_VT(&v);
    const VARTYPE base = type & VT_TYPEMASK;
    if (type & ~(VT_TYPEMASK | VT_BYREF | VT_ARRAY))
        return false;
    switch (base) {
    case VT_EMPTY:
    case VT_NULL:
        return type == base;
    case VT_VARIANT:
        if (!(type & VT_BYREF))
            return false;
        break;
    case VT_I2: case VT_I4: case VT_R4: case VT_R8: case VT_CY: case VT_DATE: case VT_BSTR: case VT_DISPATCH:
    case VT_ERROR: case VT_BOOL: case VT_UNKNOWN: case VT_DECIMAL: case VT_I1: case VT_UI1: case VT_UI2:
    case VT_UI4: case VT_I8: case VT_UI8: case VT_INT: case VT_UINT:
        break;
    default:
        return false;
    }
    if ((type & VT_BYREF) && !V_BYREF(&v))
        return false;
    if (type == (VT_BYREF | VT_VARIANT)) {
        const VARIANT& target = *V_VARIANTREF(&v);
        return V_VT(&target) != (VT_BYREF | VT_VARIANT) && allowed(target);
    }
    return true;
}

std::unique_ptr<Variant::Rep> copy_of(const VARIANT& source)
{
    if (!allowed(source))
        raise(ErrorNumber::TypeMismatch);
    auto rep = std::make_unique<Variant::Rep>();
    HRESULT hr = VariantCopyInd(&rep->value, const_cast<VARIANT*>(&source));
    if (hr == E_OUTOFMEMORY)
        throw std::bad_alloc();
    if (FAILED(hr))
        raise(ErrorNumber::TypeMismatch);
    return rep;
}

// Converts with the user's locale, as the runtime does for a host's own coercions.
VARIANT converted(const VARIANT* source, VARTYPE target, USHORT flags)
{
    VARIANT out;
    VariantInit(&out);
    if (!source) { // Empty
        VARIANT empty;
        VariantInit(&empty);
        HRESULT hr = VariantChangeTypeEx(&out, &empty, LOCALE_USER_DEFAULT, flags, target);
        if (FAILED(hr))
            raise_conversion_failure(hr);
        return out;
    }
    if (V_VT(source) == VT_NULL)
        raise(ErrorNumber::InvalidUseOfNull);
    if ((V_VT(source) == VT_DISPATCH && !V_DISPATCH(source)) || (V_VT(source) == VT_UNKNOWN && !V_UNKNOWN(source)))
        raise(ErrorNumber::TypeMismatch); // an object reference that is Nothing
    HRESULT hr = VariantChangeTypeEx(&out, const_cast<VARIANT*>(source), LOCALE_USER_DEFAULT, flags, target);
    if (FAILED(hr))
        raise_conversion_failure(hr);
    return out;
}

std::u16string text_of_bstr(BSTR text)
{
    return text ? std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text)) : std::u16string();
}

std::unique_ptr<Variant::Rep> make(VARTYPE type)
{
    auto rep = std::make_unique<Variant::Rep>();
    V_VT(&rep->value) = type;
    return rep;
}

} // namespace

Variant variant_from_native(const VARIANT& value)
{
    if (V_VT(&value) == VT_EMPTY)
        return Variant();
    return VariantAccess::adopt(copy_of(value));
}

void variant_to_native(const Variant& value, VARIANT* out)
{
    VariantClear(out);
    const VARIANT* source = VariantAccess::native(value);
    if (!source)
        return;
    HRESULT hr = VariantCopy(out, const_cast<VARIANT*>(source));
    if (FAILED(hr))
        throw std::bad_alloc();
}

Variant::Variant() noexcept = default;
Variant::Variant(std::unique_ptr<Rep> rep) noexcept : rep_(std::move(rep)) {}
Variant::Variant(const Variant& other) : rep_(other.rep_ ? copy_of(other.rep_->value) : nullptr) {}
Variant::Variant(Variant&& other) noexcept = default;
Variant& Variant::operator=(const Variant& other)
{
    if (this != &other)
        rep_ = other.rep_ ? copy_of(other.rep_->value) : nullptr;
    return *this;
}
Variant& Variant::operator=(Variant&& other) noexcept = default;
Variant::~Variant() = default;

Variant Variant::null()
{
    return Variant(make(VT_NULL));
}

Variant Variant::from_short(std::int16_t value)
{
    auto rep = make(VT_I2);
    V_I2(&rep->value) = value;
    return Variant(std::move(rep));
}

Variant Variant::from_long(std::int32_t value)
{
    auto rep = make(VT_I4);
    V_I4(&rep->value) = value;
    return Variant(std::move(rep));
}

Variant Variant::from_double(double value)
{
    auto rep = make(VT_R8);
    V_R8(&rep->value) = value;
    return Variant(std::move(rep));
}

Variant Variant::from_bool(bool value)
{
    auto rep = make(VT_BOOL);
    V_BOOL(&rep->value) = value ? VARIANT_TRUE : VARIANT_FALSE;
    return Variant(std::move(rep));
}

Variant Variant::from_date(Date value)
{
    auto rep = make(VT_DATE);
    V_DATE(&rep->value) = value;
    return Variant(std::move(rep));
}

Variant Variant::from_text(std::u16string_view value)
{
    BSTR text = SysAllocStringLen(reinterpret_cast<const OLECHAR*>(value.data()), static_cast<UINT>(value.size()));
    if (!text)
        throw std::bad_alloc();
    auto rep = make(VT_BSTR);
    V_BSTR(&rep->value) = text;
    return Variant(std::move(rep));
}

Variant::Type Variant::type() const noexcept
{
    if (!rep_)
        return Type::Empty;
    switch (V_VT(&rep_->value)) {
    case VT_EMPTY: return Type::Empty;
    case VT_NULL: return Type::Null;
    case VT_I2: return Type::Short;
    case VT_I4: return Type::Long;
    case VT_R8: return Type::Double;
    case VT_BOOL: return Type::Boolean;
    case VT_DATE: return Type::DateTime;
    case VT_BSTR: return Type::Text;
    case VT_DISPATCH:
    case VT_UNKNOWN: return Type::Object;
    default: return Type::Other;
    }
}

std::int16_t Variant::to_short() const
{
    VARIANT out = converted(VariantAccess::native(*this), VT_I2, 0);
    return V_I2(&out);
}

std::int32_t Variant::to_long() const
{
    VARIANT out = converted(VariantAccess::native(*this), VT_I4, 0);
    return V_I4(&out);
}

std::u16string Variant::to_text() const
{
    VARIANT out = converted(VariantAccess::native(*this), VT_BSTR, VARIANT_ALPHABOOL);
    std::u16string text = text_of_bstr(V_BSTR(&out));
    VariantClear(&out);
    return text;
}

std::int16_t Variant::short_value() const
{
    if (type() != Type::Short)
        raise(ErrorNumber::TypeMismatch);
    return V_I2(&rep_->value);
}

Date Variant::date_value() const
{
    if (type() != Type::DateTime)
        raise(ErrorNumber::TypeMismatch);
    return V_DATE(&rep_->value);
}

std::u16string Variant::text_value() const
{
    if (type() != Type::Text)
        raise(ErrorNumber::TypeMismatch);
    return text_of_bstr(V_BSTR(&rep_->value));
}

} // namespace qmx
