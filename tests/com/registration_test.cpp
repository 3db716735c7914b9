// Self-registration: what DllRegisterServer writes, that hosts find the class by its
// ProgID, and that DllUnregisterServer takes all of it away again; the other registry
// view for the surrogate, and the per-user registration of regsvr32 /n /i:user.
#include "com_host.h"
#include "com/registration.h"
#include "temp_folder.h"

#include <gtest/gtest.h>
#include <oleauto.h>
#include <vector>

namespace qmx::test {
namespace {

std::wstring guid_text(REFGUID guid)
{
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

#ifdef _WIN64
#define SYSKIND_NAME L"win64"
#else
#define SYSKIND_NAME L"win32"
#endif

// The value of a key under HKEY_CLASSES_ROOT (or root), or "(missing)".
std::wstring value_of(const std::wstring& key, const wchar_t* name = nullptr, HKEY root = HKEY_CLASSES_ROOT)
{
    wchar_t data[1024];
    DWORD size = sizeof data;
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return L"(missing)";
    return data;
}

bool key_exists(const std::wstring& key, HKEY root = HKEY_CLASSES_ROOT)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

// A key of the test's own under HKEY_CURRENT_USER, removed with everything in it. Below
// a volatile one, keys that are kept cannot be created.
class ScratchKey {
public:
    explicit ScratchKey(const std::wstring& name, DWORD options = 0) : path_(L"Software\\QMXClicker-tests\\" + name)
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
        RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    }
    ~ScratchKey()
    {
        RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QMXClicker-tests");
        RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\QMXClicker-tests");
    }
    HKEY key() const { return key_; }

private:
    std::wstring path_;
    HKEY key_ = nullptr;
};

// regsvr32 with the arguments and the built server; its exit code.
DWORD regsvr32(const std::wstring& arguments)
{
    std::wstring line = L"regsvr32.exe /s " + arguments + L" \"" + server_path() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return ~0u;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = ~0u;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
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
    const std::wstring clsid = guid_text(CLSID_Clicker);
    const std::wstring clsid_key = L"CLSID\\" + clsid;
    const std::wstring app_id_key = L"AppID\\" + clsid; // the AppID is the CLSID
    const std::wstring interface_key = L"Interface\\" + guid_text(IID__Clicker);
    const std::wstring library_key = L"TypeLib\\" + guid_text(LIBID_QMXClicker);
    const std::wstring library = library_key + L"\\1.0";
    const std::vector<std::wstring> class_keys = {clsid_key, L"QMXClicker.Clicker", app_id_key, interface_key,
                                                  library_key};
};

TEST_F(Registration, WritesTheClassTheProgIdTheTypeLibraryAndTheInterface)
{
    ASSERT_EQ(dll->register_server(), S_OK);

    EXPECT_EQ(lower(value_of(clsid_key + L"\\InprocServer32")), lower(server_path()));
    EXPECT_EQ(value_of(clsid_key + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(value_of(clsid_key + L"\\ProgID"), L"QMXClicker.Clicker");
    EXPECT_EQ(value_of(clsid_key + L"\\TypeLib"), guid_text(LIBID_QMXClicker));
    EXPECT_EQ(value_of(L"QMXClicker.Clicker\\CLSID"), guid_text(CLSID_Clicker));

    EXPECT_EQ(value_of(library), L"QMXClicker pocket barcode scanner library") << "the name reference lists show";
    EXPECT_EQ(lower(value_of(library + L"\\409\\" SYSKIND_NAME)), lower(server_path()));
    EXPECT_EQ(lower(value_of(library + L"\\0\\" SYSKIND_NAME)), lower(server_path())) << "the marshaller's entry";
    EXPECT_EQ(lower(value_of(library + L"\\HELPDIR")), lower(server_folder()));

    // The system surrogate may host the class.
    EXPECT_EQ(value_of(clsid_key, L"AppID"), clsid);
    EXPECT_EQ(value_of(app_id_key, L"DllSurrogate"), L"");

    // The dual interface travels through the type-library marshaller.
    EXPECT_EQ(value_of(interface_key), L"_Clicker");
    EXPECT_EQ(value_of(interface_key + L"\\ProxyStubClsid32"), L"{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(value_of(interface_key + L"\\TypeLib"), guid_text(LIBID_QMXClicker));

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

    for (const std::wstring& key : class_keys)
        EXPECT_FALSE(key_exists(key)) << key.c_str();
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

TEST_F(Registration, UnregisteringAfterTheTypeLibraryKeyWentRemovesTheInterface)
{
    ASSERT_EQ(dll->register_server(), S_OK);
    ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, library_key.c_str()), ERROR_SUCCESS);
    ASSERT_FALSE(key_exists(library_key));

    EXPECT_EQ(dll->unregister_server(), S_OK);
    EXPECT_FALSE(key_exists(interface_key)) << "it would name a type library that is gone";
    EXPECT_FALSE(key_exists(clsid_key));
}

TEST_F(Registration, RegisteringFromAnotherFolderPointsEverythingThere)
{
    TempFolder a(L"register-a"), b(L"register-b");
    for (const TempFolder* folder : {&a, &b})
        ASSERT_TRUE(CopyFileW(server_path().c_str(), folder->file(L"QMXClicker.dll").c_str(), FALSE));
    {
        ServerDll from_a(a.file(L"QMXClicker.dll")), from_b(b.file(L"QMXClicker.dll"));
        ASSERT_EQ(from_a.register_server(), S_OK);
        ASSERT_EQ(from_b.register_server(), S_OK);
    }
    EXPECT_EQ(lower(value_of(library + L"\\HELPDIR")), lower(b.path()));
    EXPECT_EQ(lower(value_of(library + L"\\0\\" SYSKIND_NAME)), lower(b.file(L"QMXClicker.dll")));
    EXPECT_EQ(lower(value_of(clsid_key + L"\\InprocServer32")), lower(b.file(L"QMXClicker.dll")));
}

// What a 32-bit regsvr32 on 64-bit Windows does, with two keys of the test's own for the
// two views: the other view gets all its clients need except the in-process server.
TEST_F(Registration, TheOtherViewLeadsToTheSurrogate)
{
    ScratchKey own(L"own"), other(L"other");
    const registration::Target target{{own.key()}, {other.key()}, false};
    ASSERT_EQ(registration::install(target, server_path()), S_OK);

    EXPECT_EQ(lower(value_of(clsid_key + L"\\InprocServer32", nullptr, own.key())), lower(server_path()));
    EXPECT_EQ(value_of(interface_key + L"\\ProxyStubClsid32", nullptr, own.key()),
              L"{00020424-0000-0000-C000-000000000046}")
        << "the system's type-library registration wrote into the target too";

    HKEY view = other.key();
    EXPECT_FALSE(key_exists(clsid_key + L"\\InprocServer32", view));
    EXPECT_EQ(value_of(clsid_key, L"AppID", view), clsid);
    EXPECT_EQ(value_of(clsid_key + L"\\ProgID", nullptr, view), L"QMXClicker.Clicker");
    EXPECT_EQ(value_of(L"QMXClicker.Clicker\\CLSID", nullptr, view), clsid);
    EXPECT_EQ(value_of(app_id_key, L"DllSurrogate", view), L"");
    EXPECT_EQ(value_of(interface_key + L"\\ProxyStubClsid32", nullptr, view),
              L"{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(value_of(interface_key + L"\\TypeLib", nullptr, view), guid_text(LIBID_QMXClicker));
    EXPECT_EQ(value_of(interface_key + L"\\TypeLib", L"Version", view), L"1.0");
    for (const wchar_t* lcid : {L"\\409\\", L"\\0\\"})
        EXPECT_EQ(lower(value_of(library + lcid + SYSKIND_NAME, nullptr, view)), lower(server_path()));
    EXPECT_EQ(lower(value_of(library + L"\\HELPDIR", nullptr, view)), lower(server_folder()));

    ASSERT_EQ(registration::uninstall(target), S_OK);
    for (HKEY root : {own.key(), other.key()})
        for (const std::wstring& key : class_keys)
            EXPECT_FALSE(key_exists(key, root)) << key.c_str();
}

TEST_F(Registration, AViewItCannotWriteLeavesNothingBehind)
{
    ScratchKey own(L"own"), other(L"other", REG_OPTION_VOLATILE);
    const registration::Target target{{own.key()}, {other.key()}, false};

    EXPECT_EQ(registration::install(target, server_path()), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    for (const std::wstring& key : class_keys)
        EXPECT_FALSE(key_exists(key, own.key())) << key.c_str();
}

TEST_F(Registration, DllInstallKnowsOnlyTheUser)
{
    for (const wchar_t* line : {L"", L"machine", L"user all"})
        EXPECT_EQ(dll->install(TRUE, line), E_INVALIDARG) << line;
    EXPECT_EQ(dll->install(TRUE, nullptr), E_INVALIDARG);
    EXPECT_EQ(dll->install(FALSE, L"everyone"), E_INVALIDARG);
}

// regsvr32 /n /i:user writes the user's classes only, and /u /n /i:user takes them away.
TEST_F(Registration, PerUserRegistrationStaysInTheUsersClasses)
{
    ASSERT_EQ(dll->unregister_server(), S_OK);
    ASSERT_EQ(regsvr32(L"/n /i:user"), 0u);

    HKEY user = nullptr, machine = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, KEY_READ, &user), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_READ, &machine), ERROR_SUCCESS);
    for (const std::wstring& key : class_keys) {
        EXPECT_TRUE(key_exists(key, user)) << key.c_str();
        EXPECT_FALSE(key_exists(key, machine)) << key.c_str();
    }
    EXPECT_EQ(lower(value_of(library + L"\\0\\" SYSKIND_NAME, nullptr, user)), lower(server_path()));
    EXPECT_EQ(value_of(app_id_key, L"DllSurrogate", user), L"");

    // A host finds the class as Windows' HKEY_CLASSES_ROOT shows it, merged with the
    // user's classes. Wine reads classes from HKEY_LOCAL_MACHINE only, so the host
    // follows the user's keys itself: ProgID, CLSID, InprocServer32, class factory.
    {
        CLSID found{};
        ASSERT_EQ(CLSIDFromString(value_of(L"QMXClicker.Clicker\\CLSID", nullptr, user).c_str(), &found), S_OK);
        ServerDll server(value_of(L"CLSID\\" + guid_text(found) + L"\\InprocServer32", nullptr, user));
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(server.get_class_object(found, IID_IClassFactory, factory.out_void()), S_OK);
        ComPtr<IDispatch> object;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.out_void()), S_OK);
        use_scenario("");
        ASSERT_EQ(put(object.get(), L"startport", v_i2(3)).hr, S_OK);
        EXPECT_EQ(text_of(get(object.get(), L"alldata").result).size(), 36u + 32u * 6u);
    }

    ASSERT_EQ(regsvr32(L"/u /n /i:user"), 0u);
    for (const std::wstring& key : class_keys) {
        EXPECT_FALSE(key_exists(key, user)) << key.c_str();
        EXPECT_FALSE(key_exists(key, machine)) << key.c_str();
    }
    RegCloseKey(user);
    RegCloseKey(machine);
}

} // namespace
} // namespace qmx::test
