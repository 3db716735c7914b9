// Self-registration: what DllRegisterServer writes, that hosts find the class by its
// ProgID, and that DllUnregisterServer takes all of it away again.
#include "com_host.h"

#include <gtest/gtest.h>
#include <oleauto.h>

namespace qmx::test {
namespace {

std::wstring guid_text(REFGUID guid)
{
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

// The value of a key under HKEY_CLASSES_ROOT, or "(missing)".
std::wstring value_of(const std::wstring& key, const wchar_t* name = nullptr)
{
    wchar_t data[1024];
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"(missing)";
    return data;
}

bool key_exists(const std::wstring& key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

// Lower case, without the long-path prefix that some registrations write.
std::wstring lower(std::wstring text)
{
    if (text.rfind(L"\\\\?\\", 0) == 0)
        text.erase(0, 4);
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

class Registration : public ::testing::Test {
protected:
    void SetUp() override { dll = std::make_unique<ServerDll>(server_path()); }
    void TearDown() override
    {
        // Leave the server registered for the script hosts that run after.
        EXPECT_EQ(dll->register_server(), S_OK);
    }
    std::unique_ptr<ServerDll> dll;
    const std::wstring clsid_key = L"CLSID\\" + guid_text(CLSID_Clicker);
};

TEST_F(Registration, WritesTheClassTheProgIdTheTypeLibraryAndTheInterface)
{
    ASSERT_EQ(dll->register_server(), S_OK);

    EXPECT_EQ(lower(value_of(clsid_key + L"\\InprocServer32")), lower(server_path()));
    EXPECT_EQ(value_of(clsid_key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(value_of(clsid_key + L"\\ProgID"), L"QMXClicker.Clicker");
    EXPECT_EQ(value_of(clsid_key + L"\\TypeLib"), guid_text(LIBID_QMXClicker));
    EXPECT_EQ(value_of(L"QMXClicker.Clicker\\CLSID"), guid_text(CLSID_Clicker));

    const std::wstring library = L"TypeLib\\" + guid_text(LIBID_QMXClicker) + L"\\1.0";
    EXPECT_EQ(value_of(library), L"QMXClicker");
#ifdef _WIN64
    EXPECT_EQ(lower(value_of(library + L"\\409\\win64")), lower(server_path()));
#else
    EXPECT_EQ(lower(value_of(library + L"\\409\\win32")), lower(server_path()));
#endif

    // The dual interface travels through the type-library marshaller.
    const std::wstring iface = L"Interface\\" + guid_text(IID__Clicker);
    EXPECT_EQ(value_of(iface), L"_Clicker");
    EXPECT_EQ(value_of(iface + L"\\ProxyStubClsid32"), L"{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(value_of(iface + L"\\TypeLib"), guid_text(LIBID_QMXClicker));

    CLSID found{};
    ASSERT_EQ(CLSIDFromProgID(L"QMXClicker.Clicker", &found), S_OK);
    EXPECT_TRUE(IsEqualCLSID(found, CLSID_Clicker));
    ComPtr<IDispatch> object;
    ASSERT_EQ(CoCreateInstance(found, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.out_void()), S_OK);
    Answer hello = get(object.get(), L"hello");
    EXPECT_EQ(text_of(hello.result), L"Clicker control successfully installed");
}

TEST_F(Registration, UnregisteringRemovesEverythingAndMayBeRepeated)
{
    ASSERT_EQ(dll->register_server(), S_OK);
    ASSERT_EQ(dll->unregister_server(), S_OK);

    EXPECT_FALSE(key_exists(clsid_key));
    EXPECT_FALSE(key_exists(L"QMXClicker.Clicker"));
    EXPECT_FALSE(key_exists(L"Interface\\" + guid_text(IID__Clicker)));
    EXPECT_FALSE(key_exists(L"TypeLib\\" + guid_text(LIBID_QMXClicker) + L"\\1.0"));
    CLSID found{};
    EXPECT_NE(CLSIDFromProgID(L"QMXClicker.Clicker", &found), S_OK);
    ComPtr<IDispatch> object;
    EXPECT_EQ(CoCreateInstance(CLSID_Clicker, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.out_void()),
              REGDB_E_CLASSNOTREG);

    EXPECT_EQ(dll->unregister_server(), S_OK) << "nothing left to remove is not a failure";
}

TEST_F(Registration, RegisteringTwiceIsHarmless)
{
    ASSERT_EQ(dll->register_server(), S_OK);
    ASSERT_EQ(dll->register_server(), S_OK);
    EXPECT_EQ(value_of(L"QMXClicker.Clicker\\CLSID"), guid_text(CLSID_Clicker));
}

} // namespace
} // namespace qmx::test
