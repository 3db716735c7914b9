// A C++ automation host for the tests: the server DLL loaded by path, references that
// release themselves, and late-bound calls through IDispatch.
#pragma once

#include "component/QMXClicker_h.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>
#include <windows.h>

namespace qmx::test {

template <typename T>
class Ref {
public:
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept
    {
        if (this != &other) {
            reset();
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~Ref() { reset(); }
    void reset()
    {
        if (p_)
            std::exchange(p_, nullptr)->Release();
    }
    T** out()
    {
        reset();
        return &p_;
    }
    void** out_void() { return reinterpret_cast<void**>(out()); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T* release() { return std::exchange(p_, nullptr); }

private:
    T* p_ = nullptr;
};

// QMXClicker.dll loaded from a path, with its four exports.
class ServerDll {
public:
    explicit ServerDll(const std::wstring& path);
    ~ServerDll();
    ServerDll(const ServerDll&) = delete;
    ServerDll& operator=(const ServerDll&) = delete;

    HRESULT get_class_object(REFCLSID clsid, REFIID riid, void** out) const;
    HRESULT can_unload_now() const;
    HRESULT register_server() const;
    HRESULT unregister_server() const;
    // A new Clicker through the DLL's own class factory (no registration needed).
    Ref<_Clicker> create() const;

    HMODULE module() const { return module_; }

private:
    HMODULE module_;
};

// The built server beside the test programs' folder, and the folder that holds it.
std::wstring server_path();
std::wstring server_folder();

// A suite of tests that share one load of the server.
class ServerSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() { dll = new ServerDll(server_path()); }
    static void TearDownTestSuite()
    {
        delete dll;
        dll = nullptr;
    }
    static inline ServerDll* dll = nullptr;
};

struct Answer {
    HRESULT hr = E_FAIL;
    VARIANT result;
    EXCEPINFO exception;
    Answer();
    ~Answer();
    Answer(const Answer&) = delete;
    Answer& operator=(const Answer&) = delete;
    Answer(Answer&& other) noexcept;
    std::wstring source() const;
    std::wstring description() const;
};

DISPID dispid_of(IDispatch* object, const wchar_t* name);

// Invoke by name with the arguments in natural order (they are reversed for DISPPARAMS).
// A property put passes its value last.
Answer invoke(IDispatch* object, const wchar_t* name, WORD flags, std::vector<VARIANT> arguments = {});
Answer invoke_id(IDispatch* object, DISPID id, WORD flags, std::vector<VARIANT> arguments = {});
Answer get(IDispatch* object, const wchar_t* name);
Answer call(IDispatch* object, const wchar_t* name);
Answer put(IDispatch* object, const wchar_t* name, VARIANT value);

VARIANT v_i2(short value);
VARIANT v_i4(long value);
VARIANT v_r8(double value);
VARIANT v_text(const wchar_t* text); // the caller's VARIANT owns the BSTR
VARIANT v_null();
VARIANT v_empty();

std::wstring text_of(const VARIANT& value);

// The description in the thread's error information, cleared by reading it.
std::wstring error_info_description();

// A new simulated scanner, made from the environment at its next call. The server keeps
// csp2.dll loaded for the life of the process, so the scanner and its settings last
// until this is called.
void restart_simulator();

// Points a new simulated scanner at a scenario file written from the text; an empty text
// means the built-in scenario.
void use_scenario(const std::string& text);

} // namespace qmx::test
