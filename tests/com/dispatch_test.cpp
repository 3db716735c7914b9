// Late binding: every member by name through IDispatch, the invoke kinds each member
// accepts, and automation errors as a late-bound host sees them (EXCEPINFO).
#include "com_host.h"
#include "heap_in_use.h"

#include <gtest/gtest.h>
#include <oleauto.h>

namespace qmx::test {
namespace {

class Dispatch : public ServerSuite {
protected:
    void SetUp() override
    {
        use_scenario("");
        clicker = dll->create();
        ASSERT_TRUE(clicker);
        object = clicker.get();
    }
    ComPtr<_Clicker> clicker;
    IDispatch* object = nullptr;
};

VARTYPE type_of(const Answer& answer)
{
    return V_VT(&answer.result);
}

short short_of(const Answer& answer)
{
    EXPECT_EQ(V_VT(&answer.result), VT_I2);
    return V_VT(&answer.result) == VT_I2 ? V_I2(&answer.result) : -12345;
}

VARIANT_BOOL bool_of(const Answer& answer)
{
    EXPECT_EQ(V_VT(&answer.result), VT_BOOL);
    return V_VT(&answer.result) == VT_BOOL ? V_BOOL(&answer.result) : 12345;
}

void expect_automation_error(const Answer& answer, long number, const wchar_t* description)
{
    EXPECT_EQ(answer.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(answer.exception.scode, automation_error(number));
    EXPECT_EQ(answer.source(), L"QMXClicker.Clicker");
    EXPECT_EQ(answer.description(), description);
    EXPECT_EQ(V_VT(&answer.result), VT_EMPTY);
}

TEST_F(Dispatch, TypeInformationComesFromTheLibrary)
{
    UINT count = 0;
    EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.out()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID__Clicker));
    info->ReleaseTypeAttr(attributes);
    EXPECT_EQ(object->GetTypeInfo(1, LOCALE_USER_DEFAULT, info.out()), DISP_E_BADINDEX);
}

TEST_F(Dispatch, NamesMapToTheFixedIdentifiers)
{
    const std::pair<const wchar_t*, DISPID> names[] = {
        {L"startport", 0x40030004}, {L"get_barcode", 0x40030006}, {L"open_clicker", 0x6003000E},
        {L"close_clicker", 0x6003000F}, {L"serial", 0x6803000C}, {L"lastport", 0x6803000B},
        {L"newparams", 0x6803000A}, {L"pnewdatetime", 0x68030009}, {L"alldata", 0x68030008},
        {L"comport", 0x68030007}, {L"num_barcodes", 0x68030006}, {L"hello", 0x68030005},
        {L"num_files", 0x68030004}, {L"open_ok", 0x68030003}, {L"EmptyScanner", 0x60030010},
        {L"reset_params", 0x60030011}, {L"getdate", 0x60030012}, {L"setdate", 0x60030013},
        {L"sbarcode", 0x68030002}, {L"stime", 0x68030001}, {L"stype", 0x68030000},
        {L"EMPTYSCANNER", 0x60030010}, {L"Hello", 0x68030005},
    };
    for (const auto& [name, id] : names)
        EXPECT_EQ(dispid_of(object, name), id) << std::wstring(name).c_str();

    DISPID id = 0;
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"no_such_member")};
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    LPOLESTR hello[] = {const_cast<LPOLESTR>(L"hello")};
    EXPECT_EQ(object->GetIDsOfNames(IID__Clicker, hello, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNINTERFACE);
}

TEST_F(Dispatch, SimpleMembersByName)
{
    Answer hello = get(object, L"hello");
    ASSERT_EQ(hello.hr, S_OK);
    EXPECT_EQ(text_of(hello.result), L"Clicker control successfully installed");

    Answer comport = get(object, L"comport");
    EXPECT_EQ(V_VT(&comport.result), VT_I2);
    Answer open_ok = get(object, L"open_ok");
    EXPECT_EQ(V_VT(&open_ok.result), VT_BOOL);
    EXPECT_EQ(V_BOOL(&open_ok.result), VARIANT_FALSE);
    Answer files = get(object, L"num_files");
    EXPECT_EQ(files.hr, S_OK);
    EXPECT_EQ(V_VT(&files.result), VT_I2);
    Answer serial = get(object, L"serial");
    EXPECT_EQ(V_VT(&serial.result), VT_BSTR);

    EXPECT_EQ(put(object, L"get_barcode", v_i4(500)).hr, S_OK) << "coerced to the declared short";
    Answer entry = get(object, L"get_barcode");
    EXPECT_EQ(V_VT(&entry.result), VT_I2);
    EXPECT_EQ(V_I2(&entry.result), 500);
    EXPECT_EQ(type_of(get(object, L"sbarcode")), VT_BSTR);
    Answer stime = get(object, L"stime");
    EXPECT_EQ(V_VT(&stime.result), VT_DATE);
    EXPECT_EQ(V_DATE(&stime.result), 0.0);
    EXPECT_EQ(type_of(get(object, L"stype")), VT_EMPTY);

    EXPECT_EQ(put(object, L"lastport", v_text(L"5")).hr, S_OK);
    EXPECT_EQ(text_of(get(object, L"startport").result), L"5");
    EXPECT_EQ(put(object, L"startport", v_r8(2.5)).hr, S_OK);
    EXPECT_EQ(type_of(get(object, L"startport")), VT_R8);

    EXPECT_EQ(put(object, L"newparams", v_i2(5)).hr, S_OK);
    EXPECT_EQ(put(object, L"pnewdatetime", v_text(L"301514071226")).hr, S_OK);
}

TEST_F(Dispatch, MembersWithoutThatInvokeKindAreNotFound)
{
    for (const wchar_t* write_only : {L"lastport", L"newparams", L"pnewdatetime"})
        EXPECT_EQ(get(object, write_only).hr, DISP_E_MEMBERNOTFOUND) << std::wstring(write_only).c_str();
    for (const wchar_t* read_only : {L"serial", L"alldata", L"comport", L"num_barcodes", L"hello", L"num_files",
                                     L"open_ok", L"sbarcode", L"stime", L"stype"})
        EXPECT_EQ(put(object, read_only, v_i2(1)).hr, DISP_E_MEMBERNOTFOUND) << std::wstring(read_only).c_str();
    EXPECT_EQ(invoke(object, L"get_barcode", DISPATCH_PROPERTYPUTREF, {v_i2(1)}).hr, DISP_E_MEMBERNOTFOUND);
}

TEST_F(Dispatch, AnArgumentTheDispatchCannotConvertIsATypeMismatch)
{
    // A date that has no text form cannot become the text pnewdatetime takes.
    VARIANT date;
    VariantInit(&date);
    V_VT(&date) = VT_DATE;
    V_DATE(&date) = 1e10;
    EXPECT_EQ(put(object, L"pnewdatetime", date).hr, DISP_E_TYPEMISMATCH);
    // Too many arguments for a put whose value is an object without IDispatch: their count
    // is what fails, before any is converted.
    struct Plain final : IUnknown {
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
        {
            *out = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
            return *out ? S_OK : E_NOINTERFACE;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
        ULONG STDMETHODCALLTYPE Release() override { return 1; }
    } plain;
    VARIANT unknown;
    VariantInit(&unknown);
    V_VT(&unknown) = VT_UNKNOWN;
    V_UNKNOWN(&unknown) = &plain;
    VARIANT nothing;
    VariantInit(&nothing);
    V_VT(&nothing) = VT_DISPATCH;
    double number = 2.5;
    VARIANT reference;
    VariantInit(&reference);
    V_VT(&reference) = VT_BYREF | VT_R8;
    V_R8REF(&reference) = &number;
    EXPECT_EQ(invoke(object, L"lastport", DISPATCH_METHOD | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF,
                     {nothing, reference, unknown})
                  .hr,
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(get(object, L"hello").hr, S_OK);
}

TEST_F(Dispatch, APutGivenMoreArgumentsThanItTakesFailsAndKeepsNothing)
{
    // The value named as the put's, and one more argument. The runtime's dispatch would
    // convert the value for the by-reference parameter, fail on the other, and lose the copy.
    const std::wstring long_text(40000, L'7');
    const SIZE_T before = heap_bytes_in_use();
    for (int k = 0; k < 20; ++k) {
        VARIANT arguments[2];
        arguments[0] = v_text(long_text.c_str());
        arguments[1] = v_i4(1);
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{arguments, &named, 2, 1};
        VARIANT result;
        VariantInit(&result);
        EXPECT_EQ(object->Invoke(dispid_of(object, L"pnewdatetime"), IID_NULL, 0, DISPATCH_PROPERTYPUT, &params,
                                 &result, nullptr, nullptr),
                  DISP_E_BADPARAMCOUNT);
        VariantClear(&arguments[0]);
    }
    EXPECT_LT(heap_bytes_in_use(), before + 200000); // each lost copy would be 80,000 bytes
    EXPECT_EQ(put(object, L"pnewdatetime", v_empty()).hr, S_OK);
}

TEST_F(Dispatch, StartportIsIndexedOnlyWhenItHoldsAnObject)
{
    VARIANT nothing;
    VariantInit(&nothing);
    V_VT(&nothing) = VT_DISPATCH;
    V_DISPATCH(&nothing) = nullptr;
    ASSERT_EQ(invoke(object, L"startport", DISPATCH_PROPERTYPUTREF, {nothing}).hr, S_OK);
    EXPECT_EQ(invoke(object, L"startport", DISPATCH_PROPERTYGET, {v_i2(1)}).hr, DISP_E_NOTACOLLECTION);
    EXPECT_EQ(invoke(object, L"startport", DISPATCH_PROPERTYGET | DISPATCH_METHOD, {v_i2(1), v_i2(2)}).hr,
              DISP_E_NOTACOLLECTION);
    EXPECT_EQ(invoke(object, L"startport", DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUTREF, {v_i2(1)}).hr,
              DISP_E_NOTACOLLECTION);
    EXPECT_EQ(put(object, L"startport", v_i2(3)).hr, S_OK);
    EXPECT_EQ(invoke(object, L"startport", DISPATCH_PROPERTYGET, {v_i2(1)}).hr, DISP_E_NOTACOLLECTION);
    EXPECT_EQ(get(object, L"startport").hr, S_OK);
}

TEST_F(Dispatch, PutrefStoresAnObjectReference)
{
    ComPtr<_Clicker> other = dll->create();
    VARIANT reference;
    VariantInit(&reference);
    V_VT(&reference) = VT_DISPATCH;
    V_DISPATCH(&reference) = other.get();
    other->AddRef(); // owned by the argument, released after the call
    ASSERT_EQ(invoke_id(object, 0x40030004, DISPATCH_PROPERTYPUTREF, {reference}).hr, S_OK);

    Answer stored = get(object, L"startport");
    ASSERT_EQ(V_VT(&stored.result), VT_DISPATCH);
    EXPECT_EQ(static_cast<void*>(V_DISPATCH(&stored.result)), static_cast<void*>(other.get()));

    // An object is no port: the members that need one say so.
    expect_automation_error(call(object, L"getdate"), 13, L"Type mismatch");
}

TEST_F(Dispatch, ErrorsReachTheHostWithNumberSourceAndDescription)
{
    expect_automation_error(get(object, L"sbarcode"), 9, L"Subscript out of range");
    expect_automation_error(get(object, L"stime"), 9, L"Subscript out of range");
    EXPECT_EQ(put(object, L"get_barcode", v_i2(-1)).hr, S_OK);
    expect_automation_error(get(object, L"stype"), 9, L"Subscript out of range");

    expect_automation_error(put(object, L"newparams", v_null()), 94, L"Invalid use of Null");
    EXPECT_EQ(put(object, L"startport", v_text(L"abc")).hr, S_OK);
    expect_automation_error(call(object, L"open_clicker"), 13, L"Type mismatch");
    EXPECT_EQ(short_of(get(object, L"comport")), 999) << "the failure comes after step one";
    EXPECT_EQ(put(object, L"startport", v_r8(3e9)).hr, S_OK);
    expect_automation_error(call(object, L"getdate"), 6, L"Overflow");
    expect_automation_error(call(object, L"setdate"), 6, L"Overflow");

    // A failed call leaves nothing behind for the next one.
    EXPECT_EQ(get(object, L"hello").hr, S_OK);
}

TEST_F(Dispatch, ArgumentsAreConvertedByTheRuntimeBeforeTheMemberRuns)
{
    EXPECT_EQ(put(object, L"get_barcode", v_text(L"abc")).hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(put(object, L"get_barcode", v_i4(70000)).hr, DISP_E_OVERFLOW);
    EXPECT_EQ(short_of(get(object, L"get_barcode")), 0);
}

TEST_F(Dispatch, MethodsAgainstTheSimulatedScanner)
{
    Answer open = invoke_id(object, 0x6003000E, DISPATCH_METHOD);
    ASSERT_EQ(open.hr, S_OK);
    EXPECT_EQ(short_of(get(object, L"comport")), 3);
    EXPECT_EQ(bool_of(get(object, L"open_ok")), VARIANT_TRUE);
    EXPECT_EQ(call(object, L"close_clicker").hr, S_OK);
    EXPECT_EQ(put(object, L"startport", v_i2(3)).hr, S_OK);
    EXPECT_EQ(call(object, L"getdate").hr, S_OK);
    EXPECT_EQ(call(object, L"setdate").hr, S_OK);
    Answer all = get(object, L"alldata");
    ASSERT_EQ(all.hr, S_OK);
    EXPECT_EQ(text_of(all.result).substr(0, 3), L"V01");
}

TEST_F(Dispatch, MaintenanceWithoutARememberedPortRefuses)
{
    EXPECT_EQ(call(object, L"EmptyScanner").hr, S_OK);
    EXPECT_EQ(call(object, L"reset_params").hr, S_OK);
    EXPECT_EQ(bool_of(get(object, L"open_ok")), VARIANT_FALSE);
}

} // namespace
} // namespace qmx::test
