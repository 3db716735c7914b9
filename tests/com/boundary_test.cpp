// Awkward input at the COM boundary: each gets the automation error that fits, or is
// stored as given, and nothing earlier is lost.
#include "com_host.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <algorithm>
#include <fstream>

namespace qmx::test {
namespace {

// An object whose default member fails.
class FailingDefault final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        ++invoked;
        return E_FAIL;
    }
    ULONG references = 1;
    int invoked = 0;
};

class Boundary : public ServerSuite {
protected:
    void SetUp() override
    {
        use_scenario("");
        clicker = dll->create();
        ASSERT_TRUE(clicker);
    }
    VARIANT startport()
    {
        VARIANT v;
        VariantInit(&v);
        EXPECT_EQ(clicker->get_startport(&v), S_OK);
        return v;
    }
    // reset_params against a port where no scanner answers: it reaches the count
    // without a settle wait, so it tells which list is stored.
    HRESULT reset_on_empty_port()
    {
        VARIANT port = v_i2(9);
        EXPECT_EQ(clicker->put_startport(&port), S_OK);
        return clicker->reset_params();
    }
    ComPtr<_Clicker> clicker;
};

VARIANT reference_to(VARIANT* target)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&v) = target;
    return v;
}

TEST_F(Boundary, ReferencesAreResolvedToACopyOrRefused)
{
    OwnedVariant first{v_text(L"7")};
    ASSERT_EQ(clicker->put_startport(&first), S_OK);

    // A VARIANT referring to a reference to a short: stored as the short's value.
    short number = 3;
    VARIANT inner;
    VariantInit(&inner);
    V_VT(&inner) = VT_I2 | VT_BYREF;
    V_I2REF(&inner) = &number;
    VARIANT outer = reference_to(&inner);
    ASSERT_EQ(clicker->put_startport(&outer), S_OK);
    number = 4;
    VARIANT stored = startport();
    EXPECT_EQ(V_VT(&stored), VT_I2) << "never a reference into the host's memory";
    EXPECT_EQ(V_I2(&stored), 3);

    // A chain of VARIANT references is refused, and the field keeps its value.
    VARIANT value = v_i2(5);
    VARIANT middle = reference_to(&value);
    VARIANT chain = reference_to(&middle);
    EXPECT_EQ(clicker->put_startport(&chain), type_mismatch);
    EXPECT_EQ(clicker->putref_startport(&chain), type_mismatch);
    stored = startport();
    EXPECT_EQ(V_VT(&stored), VT_I2);
    EXPECT_EQ(V_I2(&stored), 3);
}

TEST_F(Boundary, ValuesWithoutATextFormLeaveTheParameterListAsItWas)
{
    OwnedVariant list{v_text(L"00")};
    ASSERT_EQ(clicker->put_newparams(&list), S_OK);

    OwnedVariant array;
    V_VT(&array) = VT_ARRAY | VT_VARIANT;
    V_ARRAY(&array) = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    EXPECT_EQ(clicker->put_newparams(&array), type_mismatch);

    FailingDefault failing;
    VARIANT object;
    VariantInit(&object);
    V_VT(&object) = VT_DISPATCH;
    V_DISPATCH(&object) = &failing;
    EXPECT_EQ(clicker->put_newparams(&object), type_mismatch);
    EXPECT_GE(failing.invoked, 1) << "the default member was asked";

    VARIANT nothing;
    VariantInit(&nothing);
    V_VT(&nothing) = VT_DISPATCH;
    V_DISPATCH(&nothing) = nullptr;
    EXPECT_EQ(clicker->put_newparams(&nothing), type_mismatch);

    VARIANT null = v_null();
    EXPECT_EQ(clicker->put_newparams(&null), invalid_use_of_null);

    EXPECT_EQ(reset_on_empty_port(), S_OK) << "the list 00 is still stored";
    EXPECT_EQ(failing.references, 1u) << "no reference of the host's object is kept";
}

TEST_F(Boundary, AMissingArgumentOrNullIsStoredAndRefusedWhereUsed)
{
    VARIANT missing;
    VariantInit(&missing);
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    ASSERT_EQ(clicker->put_lastport(&missing), S_OK);
    VARIANT stored = startport();
    EXPECT_EQ(V_VT(&stored), VT_ERROR);
    EXPECT_EQ(clicker->open_clicker(), type_mismatch);

    VARIANT null = v_null();
    ASSERT_EQ(clicker->put_startport(&null), S_OK);
    EXPECT_EQ(clicker->getdate(), invalid_use_of_null);
    EXPECT_EQ(clicker->setdate(), invalid_use_of_null);
    EXPECT_EQ(clicker->EmptyScanner(), invalid_use_of_null);
    short comport = 0;
    EXPECT_EQ(clicker->get_comport(&comport), S_OK);
    EXPECT_EQ(comport, 999);
}

TEST_F(Boundary, HugeTextsAreStoredWhole)
{
    std::wstring huge(4 * 1024 * 1024, L'7');
    huge.replace(0, 2, L"00"); // a parameter list with the count 00
    BSTR text = SysAllocStringLen(huge.data(), static_cast<UINT>(huge.size()));
    ASSERT_EQ(clicker->put_pnewdatetime(&text), S_OK);
    VARIANT list;
    VariantInit(&list);
    V_VT(&list) = VT_BSTR;
    V_BSTR(&list) = text;
    ASSERT_EQ(clicker->put_newparams(&list), S_OK);
    EXPECT_EQ(SysStringLen(text), huge.size()) << "the host's text is not touched";
    SysFreeString(text);
    EXPECT_EQ(reset_on_empty_port(), S_OK);
}

TEST_F(Boundary, AClockTextWithAZeroCharacterIsKeptWhole)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring log = std::wstring(temp) + L"qmx-boundary-" + std::to_wstring(GetCurrentProcessId()) + L".log";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"QMX_SIM_LOG", log.c_str());
    restart_simulator(); // a new scanner reads the log setting

    VARIANT port = v_i2(3);
    ASSERT_EQ(clicker->put_startport(&port), S_OK);
    const wchar_t clock[] = L"30\0" L"1514071226";
    BSTR text = SysAllocStringLen(clock, 13);
    ASSERT_EQ(clicker->put_pnewdatetime(&text), S_OK);
    SysFreeString(text);
    ASSERT_EQ(clicker->EmptyScanner(), S_OK);
    clicker.reset();
    SetEnvironmentVariableW(L"QMX_SIM_LOG", nullptr);
    restart_simulator();

    std::ifstream in(log.c_str());
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    DeleteFileW(log.c_str());
    // Pairs "30", "\0" "1", "51", "40", "71", "22": the zero ends its pair's number.
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.rfind("csp2SetTime 30 0 51 40 71 22 ->", 0) == 0; }),
              lines.end());
}

} // namespace
} // namespace qmx::test
