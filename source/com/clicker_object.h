// The COM face of a Clicker: _Clicker (dual, so IDispatch and IUnknown on one vtable)
// and ISupportErrorInfo, over the portable object.
#pragma once

#include "com/QMXClicker_h.h"
#include "core/clicker.h"
#include "core/platform/platform.h"
#include "windows/csp2_dll.h"
#include "windows/platform.h"
#include "windows/traced_csp2.h"

#include <windows.h>

namespace qmx {

class ClickerObject final : public _Clicker, public ISupportErrorInfo {
public:
    // A new, independent object answering riid. Without a platform it talks to the
    // process's csp2.DLL and to the system's clock, message queue and file system.
    static HRESULT Create(REFIID riid, void** out, const Platform* platform = nullptr);
    // Loads the type library from the module's file: LoadTypeLibEx, unless a program that
    // builds these sources puts its own in place to make the load fail.
    static HRESULT (*load_type_library)(const wchar_t* path, ITypeLib** library);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch, driven by the type information of _Clicker
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* bad_argument) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // _Clicker, in vtable order
    HRESULT STDMETHODCALLTYPE get_startport(VARIANT* startport) override;
    HRESULT STDMETHODCALLTYPE put_startport(VARIANT* startport) override;
    HRESULT STDMETHODCALLTYPE putref_startport(VARIANT* startport) override;
    HRESULT STDMETHODCALLTYPE get_get_barcode(short* get_barcode) override;
    HRESULT STDMETHODCALLTYPE put_get_barcode(short get_barcode) override;
    HRESULT STDMETHODCALLTYPE open_clicker() override;
    HRESULT STDMETHODCALLTYPE close_clicker() override;
    HRESULT STDMETHODCALLTYPE get_serial(VARIANT* serial) override;
    HRESULT STDMETHODCALLTYPE put_lastport(VARIANT* pt) override;
    HRESULT STDMETHODCALLTYPE put_newparams(VARIANT* nparams) override;
    HRESULT STDMETHODCALLTYPE put_pnewdatetime(BSTR* newdt) override;
    HRESULT STDMETHODCALLTYPE get_alldata(VARIANT* alldata) override;
    HRESULT STDMETHODCALLTYPE get_comport(short* comport) override;
    HRESULT STDMETHODCALLTYPE get_num_barcodes(short* num_barcodes) override;
    HRESULT STDMETHODCALLTYPE get_hello(BSTR* hello) override;
    HRESULT STDMETHODCALLTYPE get_num_files(short* num_files) override;
    HRESULT STDMETHODCALLTYPE get_open_ok(VARIANT_BOOL* open_ok) override;
    HRESULT STDMETHODCALLTYPE EmptyScanner() override;
    HRESULT STDMETHODCALLTYPE reset_params() override;
    HRESULT STDMETHODCALLTYPE getdate() override;
    HRESULT STDMETHODCALLTYPE setdate() override;
    HRESULT STDMETHODCALLTYPE get_sbarcode(VARIANT* sbarcode) override;
    HRESULT STDMETHODCALLTYPE get_stime(VARIANT* stime) override;
    HRESULT STDMETHODCALLTYPE get_stype(VARIANT* stype) override;

private:
    explicit ClickerObject(const Platform* platform);
    ~ClickerObject();
    ClickerObject(const ClickerObject&) = delete;
    ClickerObject& operator=(const ClickerObject&) = delete;

    // Runs a member body: holds a reference on the object for the whole run, so a host
    // that lets go during a settle wait does not destroy it under the member, and turns
    // any failure into the automation HRESULT with error information. The member's entry
    // and result go to the debug output with its library calls.
    template <typename Body>
    HRESULT member(const wchar_t* name, Body&& body) noexcept;
    // The same for the accessors of the two public fields, which hold no reference.
    template <typename Body>
    HRESULT field_accessor(const wchar_t* name, Body&& body) noexcept;
    template <typename Body>
    HRESULT traced(const wchar_t* name, Body&& body) noexcept;

    bool startport_holds_dispatch() const noexcept;

    // The type information of _Clicker, loaded once for the process.
    static HRESULT type_info(ITypeInfo** info);

    // alldata and reset_params reach open_clicker and EmptyScanner through _Clicker.
    class OwnInterface final : public ClickerInterface {
    public:
        explicit OwnInterface(_Clicker& self) : self_(self) {}
        void open_clicker() override;
        void EmptyScanner() override;

    private:
        _Clicker& self_;
    };

    LONG references_ = 1;
    Win32Clock own_clock_;
    Win32MessagePump own_pump_;
    Win32Directory own_directory_;
    TracedCsp2 scanner_;
    Clicker clicker_;
    OwnInterface own_interface_;
};

} // namespace qmx
