#include "com/error_info.h"

#include "com/QMXClicker_h.h"
#include "com/com_ptr.h"
#include "core/automation/error.h"

#include <new>
#include <oleauto.h>

namespace qmx {

namespace {

constexpr wchar_t error_source[] = L"QMXClicker.Clicker";

void set_error_info(const wchar_t* description) noexcept
{
    ComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(create.out())))
        return;
    create->SetGUID(IID__Clicker);
    create->SetSource(const_cast<LPOLESTR>(error_source));
    create->SetDescription(const_cast<LPOLESTR>(description));
    ComPtr<IErrorInfo> info;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, info.out_void())))
        SetErrorInfo(0, info.get());
}

} // namespace

HRESULT hresult_of(const AutomationError& error)
{
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, error.code());
}

HRESULT report_current_exception() noexcept
{
    try {
        throw;
    } catch (const AutomationError& error) {
        const std::u16string& text = error.description();
        set_error_info(reinterpret_cast<const wchar_t*>(text.c_str()));
        return hresult_of(error);
    } catch (const InterfaceCallFailed& failed) {
        return failed.hr;
    } catch (const std::bad_alloc&) {
        set_error_info(L"Out of memory");
        return E_OUTOFMEMORY;
    } catch (...) {
        set_error_info(L"Unexpected failure");
        return E_UNEXPECTED;
    }
}

} // namespace qmx
