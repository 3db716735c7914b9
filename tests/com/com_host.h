// A C++ automation host for the tests: the server DLL loaded by path, the error
// HRESULTs, and late-bound calls through IDispatch.
#pragma once

#include "com/QMXClicker_h.h"
#include "com/com_ptr.h"
#include "../windows/owned_variant.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>
#include <windows.h>

namespace qmx::test {

// The automation errors as hosts receive them: 0x800A0000 + the error number.
constexpr HRESULT automation_error(int number)
{
    return static_cast<HRESULT>(0x800A0000u | static_cast<unsigned>(number));
}
inline constexpr HRESULT subscript_out_of_range = automation_error(9);
inline constexpr HRESULT type_mismatch = automation_error(13);
inline constexpr HRESULT file_not_found = automation_error(53);
inline constexpr HRESULT invalid_use_of_null = automation_error(94);

// QMXClicker.dll loaded from a path, with its five exports.
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
    HRESULT install(BOOL install, const wchar_t* command_line) const;
    // A new Clicker through the DLL's own class factory (no registration needed).
    ComPtr<_Clicker> create() const;

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
// The text of a BSTR the caller received, which is freed.
std::wstring taken(BSTR text);

// The object's upload string; the empty text when alldata does not answer `expected`.
std::wstring alldata(_Clicker* clicker, HRESULT expected = S_OK);

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
