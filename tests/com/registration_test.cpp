// Self-registration: what DllRegisterServer writes, that hosts find the class by its
// ProgID, and that DllUnregisterServer takes all of it away again; the other registry
// view for the surrogate, and the per-user registration of regsvr32 /n /i:user.
#include "com_host.h"
#include "com/registration.h"
#include "temp_folder.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <oleauto.h>
#include <tuple>
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
#define OTHER_SYSKIND_NAME L"win32"
#else
#define SYSKIND_NAME L"win32"
#define OTHER_SYSKIND_NAME L"win64"
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

// Every key and value below root, one line each, to compare whole registrations.
std::wstring tree(HKEY root, const std::wstring& path = L"")
{
    std::wstring out;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"(cannot open " + path + L")";
    wchar_t name[256];
    BYTE data[2048];
    for (DWORD index = 0, length = 256, size = sizeof data, type = 0;
         RegEnumValueW(key, index, name, &length, nullptr, &type, data, &size) == ERROR_SUCCESS;
         ++index, length = 256, size = sizeof data)
        out += path + L" [" + name + L"] " + std::to_wstring(type) + L" " +
               std::wstring(reinterpret_cast<const wchar_t*>(data), size / sizeof(wchar_t)) + L"\n";
    std::vector<std::wstring> subkeys;
    for (DWORD index = 0, length = 256; RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) ==
                                         ERROR_SUCCESS;
         ++index, length = 256)
        subkeys.emplace_back(name, length);
    RegCloseKey(key);
    std::sort(subkeys.begin(), subkeys.end());
    for (const std::wstring& subkey : subkeys)
        out += path + L"\\" + subkey + L"\n" + tree(root, path.empty() ? subkey : path + L"\\" + subkey);
    return out;
}

void set_text(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& data)
{
    ASSERT_EQ(RegSetKeyValueW(root, key.c_str(), name, REG_SZ, data.c_str(),
                              static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

// What the build of the other bitness, in C:\Other, writes into a view: with its in-process
// server where it is loaded, only its surrogate's entries elsewhere.
void register_other_build(HKEY root, bool in_process)
{
    const std::wstring clsid = guid_text(CLSID_Clicker), libid = guid_text(LIBID_QMXClicker);
    const std::wstring class_key = L"CLSID\\" + clsid, interface_key = L"Interface\\" + guid_text(IID__Clicker);
    const std::wstring library = L"TypeLib\\" + libid + L"\\1.0", file = L"C:\\Other\\QMXClicker.dll";
    const std::wstring marshaller = L"{00020424-0000-0000-C000-000000000046}";
    const std::vector<std::tuple<std::wstring, const wchar_t*, std::wstring>> values = {
        {class_key, nullptr, L"Clicker"},
        {class_key, L"AppID", clsid},
        {class_key + L"\\ProgID", nullptr, L"QMXClicker.Clicker"},
        {class_key + L"\\TypeLib", nullptr, libid},
        {class_key + L"\\Version", nullptr, L"1.0"},
        {L"QMXClicker.Clicker", nullptr, L"Clicker"},
        {L"QMXClicker.Clicker\\CLSID", nullptr, clsid},
        {L"AppID\\" + clsid, nullptr, L"Clicker"},
        {L"AppID\\" + clsid, L"DllSurrogate", L""},
        {interface_key, nullptr, L"_Clicker"},
        {interface_key + L"\\ProxyStubClsid", nullptr, marshaller},
        {interface_key + L"\\ProxyStubClsid32", nullptr, marshaller},
        {interface_key + L"\\TypeLib", nullptr, libid},
        {interface_key + L"\\TypeLib", L"Version", L"1.0"},
        {library, nullptr, L"QMXClicker"},
        {library + L"\\FLAGS", nullptr, L"0"},
        {library + L"\\HELPDIR", nullptr, L"C:\\Other"},
        {library + L"\\409\\" OTHER_SYSKIND_NAME, nullptr, file},
        {library + L"\\0\\" OTHER_SYSKIND_NAME, nullptr, file},
    };
    for (const auto& [key, name, data] : values)
        set_text(root, key, name, data);
    if (in_process) {
        set_text(root, class_key + L"\\InprocServer32", nullptr, file);
        set_text(root, class_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    }
}

// Registry calls that fail at the call numbered fail_at (from 0), as a full or locked
// registry would.
int fail_at = -1;
int calls = 0;

template <auto call, typename... Arguments>
LONG WINAPI failing(Arguments... arguments)
{
    if (calls++ == fail_at)
        return ERROR_ACCESS_DENIED;
    return call(arguments...);
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

    ComPtr<ITypeLib> type_library;
    ASSERT_EQ(LoadTypeLibEx(server_path().c_str(), REGKIND_NONE, type_library.out()), S_OK);
    BSTR name = nullptr;
    ASSERT_EQ(type_library->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(value_of(library), std::wstring(name ? name : L"")) << "the name reference lists show: the library's";
    SysFreeString(name);
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
    const registration::Target target{{own.key()}, {other.key()}, {}};
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
    const registration::Target target{{own.key()}, {other.key()}, {}};

    EXPECT_EQ(registration::install(target, server_path()), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    for (const std::wstring& key : class_keys)
        EXPECT_FALSE(key_exists(key, own.key())) << key.c_str();

    // An earlier registration in the own view stays as it was.
    TempFolder earlier(L"register-earlier");
    ASSERT_TRUE(CopyFileW(server_path().c_str(), earlier.file(L"QMXClicker.dll").c_str(), FALSE));
    ASSERT_EQ(registration::install({{own.key()}, {}, {}}, earlier.file(L"QMXClicker.dll")), S_OK);
    const std::wstring before = tree(own.key());
    EXPECT_EQ(registration::install(target, server_path()), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
    EXPECT_EQ(tree(own.key()), before);
}

TEST_F(Registration, ACallersOwnClassesRootRedirectSurvivesRegistration)
{
    ScratchKey redirect(L"redirect");
    HKEY marker = nullptr;
    ASSERT_EQ(RegCreateKeyExW(redirect.key(), L"marker", 0, nullptr, 0, KEY_READ, nullptr, &marker, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(marker);
    const std::wstring before = tree(redirect.key());
    ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, redirect.key()), ERROR_SUCCESS);
    const HRESULT registered = dll->register_server();
    const bool kept = key_exists(L"marker");
    const std::wstring after = tree(redirect.key());
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);

    EXPECT_EQ(registered, S_OK);
    EXPECT_TRUE(kept) << "the host's redirect was removed";
    EXPECT_EQ(after, before) << "registration wrote into the host's redirect";
    HKEY machine = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_READ, &machine), ERROR_SUCCESS);
    EXPECT_EQ(lower(value_of(library + L"\\409\\" SYSKIND_NAME, nullptr, machine)), lower(server_path()));
    EXPECT_EQ(value_of(interface_key + L"\\TypeLib", nullptr, machine), guid_text(LIBID_QMXClicker));
    RegCloseKey(machine);
}

// For every registry call that can fail, a registration failing there leaves the views
// as they were: the own view with an earlier registration from another folder (values to
// put back), the other view empty (keys to take away).
TEST_F(Registration, ARegistrationThatFailsHalfWayPutsBackWhatWasThere)
{
    TempFolder earlier(L"register-earlier");
    ASSERT_TRUE(CopyFileW(server_path().c_str(), earlier.file(L"QMXClicker.dll").c_str(), FALSE));
    ScratchKey own(L"own"), other(L"other");
    ASSERT_EQ(registration::install({{own.key()}, {}, {}}, earlier.file(L"QMXClicker.dll")), S_OK);
    const std::wstring own_before = tree(own.key());
    registration::Target target{{own.key()}, {other.key()}, {}};
    target.writes.create_key = failing<RegCreateKeyExW>;
    target.writes.set_value = failing<RegSetValueExW>;
    // Each failure must leave the views as they were, ready for the next.
    for (int call = 0;; ++call) {
        calls = 0;
        fail_at = call;
        const HRESULT hr = registration::install(target, server_path());
        fail_at = -1;
        if (hr == S_OK) {
            EXPECT_GT(call, 40) << "registration made fewer calls than it has values";
            break;
        }
        ASSERT_EQ(hr, HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
        ASSERT_EQ(tree(own.key()), own_before) << "failed at call " << call;
        ASSERT_EQ(tree(other.key()), L"") << "failed at call " << call;
    }
}

// The build of the other bitness has its server in the other view, and the 32-bit build
// its surrogate's entries in the 64-bit build's view: this build comes and goes without
// touching either.
TEST_F(Registration, UnregisteringLeavesAnotherBuildsRegistrationAlone)
{
    ScratchKey own(L"own"), other(L"other");
    for (HKEY view : {own.key(), other.key()})
        for (const wchar_t* folder : {L"AppID", L"CLSID", L"Interface", L"TypeLib"}) // as in any system's classes
            set_text(view, folder, nullptr, L"");
    register_other_build(other.key(), true);
#ifdef _WIN64
    register_other_build(own.key(), false);
#endif
    const std::wstring own_before = tree(own.key()), other_before = tree(other.key());
    const registration::Target target{{own.key()}, {other.key()}, {}};

    ASSERT_EQ(registration::install(target, server_path()), S_OK);
    EXPECT_EQ(value_of(clsid_key + L"\\InprocServer32", nullptr, other.key()), L"C:\\Other\\QMXClicker.dll");
    EXPECT_EQ(lower(value_of(clsid_key + L"\\InprocServer32", nullptr, own.key())), lower(server_path()));
    EXPECT_EQ(lower(value_of(library + L"\\0\\" SYSKIND_NAME, nullptr, other.key())), lower(server_path()));

    ASSERT_EQ(registration::uninstall(target), S_OK);
    EXPECT_EQ(tree(own.key()), own_before);
    EXPECT_EQ(tree(other.key()), other_before);
}

// regsvr32 /i (no command line) registers machine-wide as regsvr32 alone does; "user" in
// any case and between blanks is the user's registration; /u undoes either.
TEST_F(Registration, DllInstallTakesTheUserOrAnEmptyLineForTheMachine)
{
    for (BOOL install : {TRUE, FALSE})
        for (const wchar_t* line : {L"machine", L"user all", L"users", L"u ser", L"-user"})
            EXPECT_EQ(dll->install(install, line), E_INVALIDARG) << install << line;

    HKEY user = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_READ, nullptr, &user,
                              nullptr),
              ERROR_SUCCESS);
    for (const wchar_t* line : {L"user", L" User ", L"\tUSER", L"uSeR  "}) {
        EXPECT_EQ(dll->install(TRUE, line), S_OK) << line;
        EXPECT_EQ(lower(value_of(clsid_key + L"\\InprocServer32", nullptr, user)), lower(server_path())) << line;
        EXPECT_EQ(dll->install(FALSE, line), S_OK) << line;
        EXPECT_FALSE(key_exists(clsid_key, user)) << line;
    }
    RegCloseKey(user);

    for (const wchar_t* line : {static_cast<const wchar_t*>(nullptr), L"", L"  "}) {
        ASSERT_EQ(dll->unregister_server(), S_OK);
        EXPECT_EQ(dll->install(TRUE, line), S_OK);
        EXPECT_EQ(lower(value_of(clsid_key + L"\\InprocServer32")), lower(server_path()));
        EXPECT_EQ(dll->install(FALSE, line), S_OK);
        EXPECT_FALSE(key_exists(clsid_key));
    }
}

TEST_F(Registration, Regsvr32WithInstallRegistersTheMachineOrTheUser)
{
    ASSERT_EQ(dll->unregister_server(), S_OK);
    EXPECT_EQ(regsvr32(L"/i"), 0u);
    EXPECT_EQ(lower(value_of(clsid_key + L"\\InprocServer32")), lower(server_path()));
    EXPECT_EQ(regsvr32(L"/u /i"), 0u);
    EXPECT_FALSE(key_exists(clsid_key));

    HKEY user = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_READ, nullptr, &user,
                              nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(regsvr32(L"/n /i:\" User \""), 0u);
    EXPECT_TRUE(key_exists(clsid_key, user));
    EXPECT_EQ(regsvr32(L"/u /n /i:\" User \""), 0u);
    EXPECT_FALSE(key_exists(clsid_key, user));
    RegCloseKey(user);
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
