// Variant::from_object on the automation runtime: only tests and fuzzers make objects of
// their own, so the shipped DLL, which only receives objects from hosts, leaves it out.
#include "core/automation/variant.h"
#include "windows/native_variant.h"

#include <oleauto.h>
#include <windows.h>

namespace qmx {

namespace {

// An AutomationObject presented as IDispatch: its default value is DISPID_VALUE.
class ObjectDispatch final : public IDispatch {
public:
    explicit ObjectDispatch(std::shared_ptr<const AutomationObject> object) : object_(std::move(object)) {}

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
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG left = InterlockedDecrement(&refs_);
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 0;
        return S_OK;
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
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                                     EXCEPINFO*, UINT*) override
    {
        if (id != DISPID_VALUE || !(flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)))
            return DISP_E_MEMBERNOTFOUND;
        std::optional<Variant> value = object_->default_value();
        if (!value)
            return DISP_E_MEMBERNOTFOUND;
        if (result) {
            VariantInit(result);
            try {
                variant_to_native(*value, result);
            } catch (...) {
                return E_OUTOFMEMORY;
            }
        }
        return S_OK;
    }

private:
    LONG refs_ = 1;
    std::shared_ptr<const AutomationObject> object_;
};

} // namespace

Variant Variant::from_object(std::shared_ptr<const AutomationObject> object)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_DISPATCH;
    V_DISPATCH(&value) = object ? new ObjectDispatch(std::move(object)) : nullptr;
    try {
        Variant held = variant_from_native(value); // a reference of its own
        VariantClear(&value);
        return held;
    } catch (...) {
        VariantClear(&value);
        throw;
    }
}

} // namespace qmx
