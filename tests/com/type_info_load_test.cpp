// The type information's load failing: the server's own sources, with the load replaced so
// that it fails exactly when wanted, which no file trick can do (the loader hands out the
// module already in memory, whatever became of its file).
#include "com/clicker_object.h"
#include "com/com_ptr.h"
#include "windows/owned_variant.h"

#include <gtest/gtest.h>
#include <oleauto.h>

namespace qmx::test {
namespace {

int loads = 0;

HRESULT fails_the_first_time(const wchar_t* path, ITypeLib** library)
{
    if (++loads == 1)
        return TYPE_E_CANTLOADLIBRARY;
    return LoadTypeLibEx(path, REGKIND_NONE, library);
}

HRESULT get_hello(IDispatch* object, VARIANT* result)
{
    DISPPARAMS none{};
    return object->Invoke(0x68030005, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, result, nullptr, nullptr);
}

TEST(TypeInformation, ALoadThatFailedIsTriedAgainByTheNextCall)
{
    ClickerObject::load_type_library = fails_the_first_time;
    ComPtr<_Clicker> clicker;
    ASSERT_EQ(ClickerObject::Create(IID__Clicker, clicker.out_void()), S_OK);

    ComPtr<ITypeInfo> info;
    EXPECT_EQ(clicker->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.out()), TYPE_E_CANTLOADLIBRARY);
    EXPECT_FALSE(info);
    BSTR hello = nullptr;
    EXPECT_EQ(clicker->get_hello(&hello), S_OK); // the vtable needs no type information
    SysFreeString(hello);

    OwnedVariant result;
    ASSERT_EQ(get_hello(clicker.get(), &result), S_OK);
    EXPECT_EQ(V_VT(&result), VT_BSTR);
    ASSERT_EQ(clicker->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.out()), S_OK);

    ComPtr<_Clicker> second;
    ASSERT_EQ(ClickerObject::Create(IID__Clicker, second.out_void()), S_OK);
    ComPtr<ITypeInfo> shared;
    EXPECT_EQ(second->GetTypeInfo(0, LOCALE_USER_DEFAULT, shared.out()), S_OK);
    EXPECT_EQ(shared.get(), info.get());
    EXPECT_EQ(loads, 2);
}

} // namespace
} // namespace qmx::test
