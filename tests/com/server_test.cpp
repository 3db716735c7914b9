// The DLL's entry points, the class factory and the object's interfaces, called as any
// C++ host would call them.
#include "com_host.h"

#include <gtest/gtest.h>
#include <oleauto.h>

namespace qmx::test {
namespace {

using Server = ServerSuite;

TEST_F(Server, HandsOutItsFactoryForClickerOnly)
{
    ComPtr<IClassFactory> factory;
    EXPECT_EQ(dll->get_class_object(CLSID_Clicker, IID_IClassFactory, factory.out_void()), S_OK);
    ASSERT_TRUE(factory);

    ComPtr<IUnknown> other;
    EXPECT_EQ(dll->get_class_object(IID__Clicker, IID_IClassFactory, other.out_void()), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_FALSE(other);
    const CLSID stranger = {0x6d5140c1, 0x7436, 0x11ce, {0x80, 0x34, 0x00, 0xaa, 0x00, 0x60, 0x09, 0xfa}};
    EXPECT_EQ(dll->get_class_object(stranger, IID_IClassFactory, other.out_void()), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(dll->get_class_object(CLSID_Clicker, IID_IClassFactory, nullptr), E_POINTER);

    ComPtr<IUnknown> unknown;
    EXPECT_EQ(factory->QueryInterface(IID_IUnknown, unknown.out_void()), S_OK);
    EXPECT_EQ(factory->QueryInterface(IID_IDispatch, unknown.out_void()), E_NOINTERFACE);
}

TEST_F(Server, RefusesAggregation)
{
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(dll->get_class_object(CLSID_Clicker, IID_IClassFactory, factory.out_void()), S_OK);
    ComPtr<_Clicker> outer = dll->create();
    ComPtr<IUnknown> inner;
    EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, inner.out_void()), CLASS_E_NOAGGREGATION);
    EXPECT_FALSE(inner);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersist, inner.out_void()), E_NOINTERFACE);
    EXPECT_FALSE(inner);
}

TEST_F(Server, CanUnloadOnlyWithoutObjectsOrLocks)
{
    EXPECT_EQ(dll->can_unload_now(), S_OK);
    {
        ComPtr<_Clicker> first = dll->create();
        ComPtr<_Clicker> second = dll->create();
        ASSERT_TRUE(first && second);
        EXPECT_EQ(dll->can_unload_now(), S_FALSE);
        first.reset();
        EXPECT_EQ(dll->can_unload_now(), S_FALSE);
    }
    EXPECT_EQ(dll->can_unload_now(), S_OK);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(dll->get_class_object(CLSID_Clicker, IID_IClassFactory, factory.out_void()), S_OK);
    factory->LockServer(TRUE);
    EXPECT_EQ(dll->can_unload_now(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(dll->can_unload_now(), S_OK);
}

TEST_F(Server, OneVtableAnswersIUnknownIDispatchAndClicker)
{
    ComPtr<_Clicker> clicker = dll->create();
    ASSERT_TRUE(clicker);
    ComPtr<IUnknown> unknown;
    ComPtr<IDispatch> dispatch;
    ComPtr<ISupportErrorInfo> errors;
    ASSERT_EQ(clicker->QueryInterface(IID_IUnknown, unknown.out_void()), S_OK);
    ASSERT_EQ(clicker->QueryInterface(IID_IDispatch, dispatch.out_void()), S_OK);
    ASSERT_EQ(clicker->QueryInterface(IID_ISupportErrorInfo, errors.out_void()), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(clicker.get()));
    EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(clicker.get()));

    ComPtr<IUnknown> from_errors;
    ASSERT_EQ(errors->QueryInterface(IID_IUnknown, from_errors.out_void()), S_OK);
    EXPECT_EQ(from_errors.get(), unknown.get()) << "identity is the same from every interface";
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID__Clicker), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IPersist), S_FALSE);

    ComPtr<IUnknown> none;
    EXPECT_EQ(clicker->QueryInterface(IID_IPersist, none.out_void()), E_NOINTERFACE);
    EXPECT_FALSE(none);
    EXPECT_EQ(clicker->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(Server, ObjectsAreIndependent)
{
    ComPtr<_Clicker> first = dll->create();
    ComPtr<_Clicker> second = dll->create();
    EXPECT_EQ(first->put_get_barcode(17), S_OK);
    short value = -1;
    EXPECT_EQ(second->get_get_barcode(&value), S_OK);
    EXPECT_EQ(value, 0);
}

TEST_F(Server, NullOutParametersAreRefused)
{
    ComPtr<_Clicker> c = dll->create();
    EXPECT_EQ(c->get_startport(nullptr), E_POINTER);
    EXPECT_EQ(c->put_startport(nullptr), E_POINTER);
    EXPECT_EQ(c->putref_startport(nullptr), E_POINTER);
    EXPECT_EQ(c->get_get_barcode(nullptr), E_POINTER);
    EXPECT_EQ(c->get_serial(nullptr), E_POINTER);
    EXPECT_EQ(c->put_lastport(nullptr), E_POINTER);
    EXPECT_EQ(c->put_newparams(nullptr), E_POINTER);
    EXPECT_EQ(c->put_pnewdatetime(nullptr), E_POINTER);
    EXPECT_EQ(c->get_alldata(nullptr), E_POINTER);
    EXPECT_EQ(c->get_comport(nullptr), E_POINTER);
    EXPECT_EQ(c->get_num_barcodes(nullptr), E_POINTER);
    EXPECT_EQ(c->get_hello(nullptr), E_POINTER);
    EXPECT_EQ(c->get_num_files(nullptr), E_POINTER);
    EXPECT_EQ(c->get_open_ok(nullptr), E_POINTER);
    EXPECT_EQ(c->get_sbarcode(nullptr), E_POINTER);
    EXPECT_EQ(c->get_stime(nullptr), E_POINTER);
    EXPECT_EQ(c->get_stype(nullptr), E_POINTER);
    EXPECT_EQ(c->GetTypeInfoCount(nullptr), E_POINTER);
    EXPECT_EQ(c->GetTypeInfo(0, 0, nullptr), E_POINTER);
}

TEST_F(Server, ANewObjectReadsAsTheFieldsStart)
{
    ComPtr<_Clicker> c = dll->create();
    short value = -1;
    VARIANT_BOOL open = VARIANT_TRUE;
    EXPECT_EQ(c->get_comport(&value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(c->get_num_barcodes(&value), S_OK);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(c->get_open_ok(&open), S_OK);
    EXPECT_EQ(open, VARIANT_FALSE);

    OwnedVariant v;
    EXPECT_EQ(c->get_startport(&v), S_OK);
    EXPECT_EQ(V_VT(&v), VT_EMPTY);
    EXPECT_EQ(c->get_serial(&v), S_OK);
    EXPECT_EQ(V_VT(&v), VT_BSTR);
    EXPECT_EQ(text_of(v), L"");

    BSTR hello = nullptr;
    EXPECT_EQ(c->get_hello(&hello), S_OK);
    EXPECT_STREQ(hello, L"Clicker control successfully installed");
    SysFreeString(hello);
}

TEST_F(Server, ByReferenceArgumentsAreReadAndNeverWrittenBack)
{
    ComPtr<_Clicker> c = dll->create();
    OwnedVariant port{v_text(L"5")};
    EXPECT_EQ(c->put_lastport(&port), S_OK);
    EXPECT_EQ(V_VT(&port), VT_BSTR);
    EXPECT_STREQ(V_BSTR(&port), L"5");

    // A VARIANT that refers to another is stored as the value it refers to.
    VARIANT inner = v_i2(7);
    VARIANT ref;
    VariantInit(&ref);
    V_VT(&ref) = VT_VARIANT | VT_BYREF;
    V_VARIANTREF(&ref) = &inner;
    EXPECT_EQ(c->put_startport(&ref), S_OK);
    V_I2(&inner) = 8;
    VARIANT stored;
    VariantInit(&stored);
    EXPECT_EQ(c->get_startport(&stored), S_OK);
    EXPECT_EQ(V_VT(&stored), VT_I2);
    EXPECT_EQ(V_I2(&stored), 7);

    BSTR text = SysAllocString(L"301514071226");
    EXPECT_EQ(c->put_pnewdatetime(&text), S_OK);
    EXPECT_STREQ(text, L"301514071226");
    SysFreeString(text);
    BSTR none = nullptr; // the empty text, as hosts pass it
    EXPECT_EQ(c->put_pnewdatetime(&none), S_OK);
}

TEST_F(Server, FailuresAreAutomationErrorsWithErrorInfo)
{
    ComPtr<_Clicker> c = dll->create();
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(c->get_sbarcode(&v), subscript_out_of_range);
    EXPECT_EQ(V_VT(&v), VT_EMPTY) << "no result on failure";
    EXPECT_EQ(error_info_description(), L"Subscript out of range");

    VARIANT null = v_null();
    EXPECT_EQ(c->put_newparams(&null), invalid_use_of_null);
    EXPECT_EQ(error_info_description(), L"Invalid use of Null");

    OwnedVariant port{v_text(L"not a port")};
    EXPECT_EQ(c->put_startport(&port), S_OK);
    EXPECT_EQ(c->getdate(), type_mismatch);
    EXPECT_EQ(error_info_description(), L"Type mismatch");
}

TEST_F(Server, TheScannerLibraryAndItsOpenPortOutliveEveryObject)
{
    // A count too large for the member ends it with an error and port 3 still open.
    use_scenario("read-data 3 40000\n");
    {
        ComPtr<_Clicker> first = dll->create();
        VARIANT port = v_i2(3);
        ASSERT_EQ(first->put_startport(&port), S_OK);
        EXPECT_EQ(first->open_clicker(), automation_error(6));
    }
    HMODULE library = GetModuleHandleW((server_folder() + L"\\csp2.dll").c_str());
    ASSERT_NE(library, nullptr) << "unloaded with the last object";
    auto wake_up = reinterpret_cast<long(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(library, "csp2WakeUp")));
    EXPECT_EQ(wake_up(), 0) << "the port is still open";

    ComPtr<_Clicker> next = dll->create();
    EXPECT_EQ(next->close_clicker(), S_OK);
    EXPECT_EQ(wake_up(), -2) << "another object closed it";
    use_scenario("");
}

TEST_F(Server, TheTypeInformationIsLoadedOnceAndShared)
{
    // A copy of the server whose file is moved away once the first object has used it.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"qmx-type-info-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring copy = folder + L"\\QMXClicker.dll", moved = folder + L"\\moved.dll";
    ASSERT_TRUE(CopyFileW(server_path().c_str(), copy.c_str(), FALSE));
    {
        ServerDll server(copy);
        ITypeInfo* seen = nullptr;
        {
            ComPtr<_Clicker> first = server.create();
            ComPtr<ITypeInfo> info;
            ASSERT_EQ(first->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.out()), S_OK);
            seen = info.get();
        }
        ASSERT_TRUE(MoveFileW(copy.c_str(), moved.c_str())) << GetLastError();
        ComPtr<_Clicker> second = server.create();
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(second->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.out()), S_OK);
        EXPECT_EQ(info.get(), seen);
        EXPECT_NE(dispid_of(second.get(), L"alldata"), DISPID_UNKNOWN);
    }
    DeleteFileW(moved.c_str());
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(folder.c_str());
}

} // namespace
} // namespace qmx::test
