// A client thread in the multithreaded apartment: COM creates the apartment-threaded
// Clicker in a host apartment, and every call goes through the type-library marshaller,
// which finds the type library by its language-neutral registration.
#include "com_host.h"

#include <gtest/gtest.h>
#include <oleauto.h>
#include <thread>

namespace qmx::test {
namespace {

std::wstring taken_text(VARIANT& value)
{
    VariantChangeType(&value, &value, 0, VT_BSTR);
    std::wstring out = text_of(value);
    VariantClear(&value);
    return out;
}

void every_member_through_the_proxy()
{
    ComPtr<_Clicker> c;
    ASSERT_EQ(CoCreateInstance(CLSID_Clicker, nullptr, CLSCTX_INPROC_SERVER, IID__Clicker, c.out_void()), S_OK);
    ComPtr<IClientSecurity> proxy;
    EXPECT_EQ(c->QueryInterface(IID_IClientSecurity, proxy.out_void()), S_OK) << "a proxy, not the object";

    BSTR text = nullptr;
    OwnedVariant value;
    short number = 0;
    VARIANT_BOOL flag = VARIANT_FALSE;

    EXPECT_EQ(c->get_hello(&text), S_OK);
    EXPECT_EQ(taken(text), L"Clicker control successfully installed");
    VARIANT port = v_i2(3);
    EXPECT_EQ(c->put_startport(&port), S_OK);
    EXPECT_EQ(c->putref_startport(&port), S_OK);
    EXPECT_EQ(c->put_lastport(&port), S_OK);
    EXPECT_EQ(c->get_startport(&value), S_OK);
    EXPECT_EQ(taken_text(value), L"3");

    EXPECT_EQ(c->get_alldata(&value), S_OK);
    EXPECT_EQ(taken_text(value).size(), 36u + 32u * 6u);
    EXPECT_EQ(c->get_open_ok(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_TRUE);
    EXPECT_EQ(c->get_comport(&number), S_OK);
    EXPECT_EQ(number, 3);
    EXPECT_EQ(c->get_num_barcodes(&number), S_OK);
    EXPECT_EQ(number, 6);
    EXPECT_EQ(c->get_serial(&value), S_OK);
    EXPECT_EQ(taken_text(value), L"00126B3FA21904C7");
    EXPECT_EQ(c->get_num_files(&number), S_OK);

    EXPECT_EQ(c->put_get_barcode(2), S_OK);
    EXPECT_EQ(c->get_get_barcode(&number), S_OK);
    EXPECT_EQ(number, 2);
    EXPECT_EQ(c->get_sbarcode(&value), S_OK);
    EXPECT_EQ(taken_text(value), L"QMX-2026-0042");
    EXPECT_EQ(c->get_stype(&value), S_OK);
    EXPECT_EQ(taken_text(value), L"20");
    EXPECT_EQ(c->get_stime(&value), S_OK);
    EXPECT_EQ(V_VT(&value), VT_DATE);
    value.clear();
    EXPECT_EQ(c->put_get_barcode(0), S_OK);
    EXPECT_EQ(c->get_sbarcode(&value), subscript_out_of_range) << "the error number arrives as the HRESULT";

    EXPECT_EQ(c->close_clicker(), S_OK);
    EXPECT_EQ(c->open_clicker(), S_OK);
    EXPECT_EQ(c->getdate(), S_OK);
    EXPECT_EQ(c->setdate(), S_OK);
    VARIANT params = v_i2(5);
    EXPECT_EQ(c->put_newparams(&params), S_OK);
    EXPECT_EQ(c->reset_params(), S_OK);
    text = SysAllocString(L"301514071226");
    EXPECT_EQ(c->put_pnewdatetime(&text), S_OK);
    SysFreeString(text);
    EXPECT_EQ(c->EmptyScanner(), S_OK);
    EXPECT_EQ(c->get_alldata(&value), S_OK);
    EXPECT_EQ(taken_text(value).size(), 36u) << "the scanner was cleared";
}

TEST(MultithreadedClient, CallsEveryMemberThroughTheProxy)
{
    ServerDll dll(server_path());
    ASSERT_EQ(dll.register_server(), S_OK);
    use_scenario("");
    std::thread client([] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        every_member_through_the_proxy();
        CoUninitialize();
    });
    client.join();
}

} // namespace
} // namespace qmx::test
