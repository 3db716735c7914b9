// Self-registration: the type library (and with it _Clicker for the type-library
// marshaller), the class with this DLL as its apartment-threaded server, the ProgID, and
// an AppID that lets the system surrogate host the class for clients of the other bitness.
#include "com/registration.h"

#include "com/QMXClicker_h.h"
#include "com/com_ptr.h"

#include <algorithm>
#include <oleauto.h>
#include <vector>

// Not in every SDK's oleauto.h (oleaut32 has them since Windows Vista).
extern "C" HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* help_folder);
extern "C" HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID library, WORD major, WORD minor, LCID lcid, SYSKIND syskind);

namespace qmx::registration {

namespace {

constexpr wchar_t prog_id[] = L"QMXClicker.Clicker";
constexpr wchar_t class_name[] = L"Clicker";
constexpr wchar_t library_name[] = L"QMXClicker";
constexpr WORD library_major = 1;
constexpr WORD library_minor = 0;
constexpr LCID library_lcid = 0x0409;
constexpr wchar_t type_library_marshaller[] = L"{00020424-0000-0000-C000-000000000046}";
#ifdef _WIN64
constexpr SYSKIND library_syskind = SYS_WIN64;
constexpr wchar_t syskind_name[] = L"win64";
#else
constexpr SYSKIND library_syskind = SYS_WIN32;
constexpr wchar_t syskind_name[] = L"win32";
#endif

std::wstring guid_text(REFGUID guid)
{
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return text;
}

// The keys of the class; the AppID is the CLSID.
struct Keys {
    std::wstring clsid = guid_text(CLSID_Clicker);
    std::wstring libid = guid_text(LIBID_QMXClicker);
    std::wstring class_key = L"CLSID\\" + clsid;
    std::wstring app_id_key = L"AppID\\" + clsid;
    std::wstring interface_key = L"Interface\\" + guid_text(IID__Clicker);
    std::wstring library_key = L"TypeLib\\" + libid;
    std::wstring version_key = library_key + L"\\1.0";
};

std::wstring folder_of(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L"\\/"));
}

class FirstFailure {
public:
    void keep(HRESULT hr)
    {
        if (FAILED(hr) && SUCCEEDED(first_))
            first_ = hr;
    }
    HRESULT result() const { return first_; }

private:
    HRESULT first_ = S_OK;
};

struct Value {
    std::wstring key;
    const wchar_t* name;
    std::wstring data;
};

// What a view needs: the in-process server where this DLL can be loaded, otherwise the
// interface and type library entries that the system writes for the own view.
std::vector<Value> class_values(const std::wstring& path, bool in_process)
{
    const Keys k;
    const std::wstring program = prog_id;
    std::vector<Value> values = {
        {k.class_key, nullptr, class_name},
        {k.class_key, L"AppID", k.clsid},
        {k.class_key + L"\\ProgID", nullptr, program},
        {k.class_key + L"\\TypeLib", nullptr, k.libid},
        {k.class_key + L"\\Version", nullptr, L"1.0"},
        {program, nullptr, class_name},
        {program + L"\\CLSID", nullptr, k.clsid},
        {k.app_id_key, nullptr, class_name},
        {k.app_id_key, L"DllSurrogate", L""}, // empty: the system's surrogate
        // The language-neutral entry, which the type-library marshaller looks up.
        {k.version_key + L"\\0\\" + syskind_name, nullptr, path},
    };
    if (in_process) {
        values.push_back({k.class_key + L"\\InprocServer32", nullptr, path});
        values.push_back({k.class_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"});
        return values;
    }
    values.insert(values.end(), {
        {k.interface_key, nullptr, L"_Clicker"},
        {k.interface_key + L"\\ProxyStubClsid", nullptr, type_library_marshaller},
        {k.interface_key + L"\\ProxyStubClsid32", nullptr, type_library_marshaller},
        {k.interface_key + L"\\TypeLib", nullptr, k.libid},
        {k.interface_key + L"\\TypeLib", L"Version", L"1.0"},
        {k.version_key, nullptr, library_name},
        {k.version_key + L"\\FLAGS", nullptr, L"0"},
        {k.version_key + L"\\HELPDIR", nullptr, folder_of(path)},
        {k.version_key + L"\\409\\" + syskind_name, nullptr, path},
    });
    return values;
}

HRESULT set_value(const Classes& classes, const Value& value)
{
    HKEY handle = nullptr;
    LONG status = RegCreateKeyExW(classes.key, value.key.c_str(), 0, nullptr, 0, KEY_SET_VALUE | classes.view, nullptr,
                                  &handle, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(handle, value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data.c_str()),
                                static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
    }
    return HRESULT_FROM_WIN32(status);
}

HRESULT write(const Classes& classes, const std::vector<Value>& values)
{
    for (const Value& value : values) {
        HRESULT hr = set_value(classes, value);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT delete_tree(const Classes& classes, const std::wstring& key)
{
    HKEY handle = nullptr;
    LONG status = RegOpenKeyExW(classes.key, key.c_str(), 0, KEY_READ | KEY_SET_VALUE | DELETE | classes.view, &handle);
    if (status == ERROR_SUCCESS) {
        status = RegDeleteTreeW(handle, nullptr);
        RegCloseKey(handle);
        if (status == ERROR_SUCCESS)
            status = RegDeleteKeyExW(classes.key, key.c_str(), classes.view, 0);
    }
    if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND)
        return S_OK;
    return HRESULT_FROM_WIN32(status);
}

std::vector<std::wstring> subkeys(const Classes& classes, const std::wstring& key)
{
    std::vector<std::wstring> names;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(classes.key, key.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | classes.view, &handle) != ERROR_SUCCESS)
        return names;
    wchar_t name[256];
    for (DWORD index = 0, length = 256;
         RegEnumKeyExW(handle, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = 256)
        names.emplace_back(name, length);
    RegCloseKey(handle);
    return names;
}

// This platform's entries of the type library, then the keys that are left with nothing
// but the library's flags and help folder.
HRESULT remove_library_entries(const Classes& classes)
{
    const Keys k;
    FirstFailure failure;
    for (const wchar_t* lcid : {L"409", L"0"}) {
        const std::wstring key = k.version_key + L"\\" + lcid;
        failure.keep(delete_tree(classes, key + L"\\" + syskind_name));
        if (subkeys(classes, key).empty())
            failure.keep(delete_tree(classes, key));
    }
    const std::vector<std::wstring> left = subkeys(classes, k.version_key);
    if (std::all_of(left.begin(), left.end(), [](const std::wstring& name) {
            return _wcsicmp(name.c_str(), L"FLAGS") == 0 || _wcsicmp(name.c_str(), L"HELPDIR") == 0;
        }))
        failure.keep(delete_tree(classes, k.version_key));
    if (subkeys(classes, k.library_key).empty())
        failure.keep(delete_tree(classes, k.library_key));
    return failure.result();
}

HRESULT remove_class(const Classes& classes)
{
    const Keys k;
    FirstFailure failure;
    // The interface goes explicitly: the system removes it only while the type library
    // is still registered.
    for (const std::wstring& key : {k.class_key, std::wstring(prog_id), k.app_id_key, k.interface_key})
        failure.keep(delete_tree(classes, key));
    failure.keep(remove_library_entries(classes));
    return failure.result();
}

// The type-library calls write under HKEY_CLASSES_ROOT, which points at the target's own
// Classes key while they run; so RegisterTypeLibForUser lands in the user's classes even
// where it is the machine-wide call under another name (Wine).
class ClassesRootAt {
public:
    explicit ClassesRootAt(HKEY key) : status_(HRESULT_FROM_WIN32(RegOverridePredefKey(HKEY_CLASSES_ROOT, key))) {}
    ~ClassesRootAt() { RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr); }
    ClassesRootAt(const ClassesRootAt&) = delete;
    ClassesRootAt& operator=(const ClassesRootAt&) = delete;
    HRESULT status() const { return status_; }

private:
    HRESULT status_;
};

// HELPDIR is given, so that it names the folder registered last.
HRESULT register_type_library(const Target& target, const std::wstring& path)
{
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.out());
    if (FAILED(hr))
        return hr;
    std::wstring file = path, help = folder_of(path);
    ClassesRootAt root(target.own.key);
    hr = root.status();
    if (SUCCEEDED(hr))
        hr = target.per_user ? RegisterTypeLibForUser(library.get(), file.data(), help.data())
                             : RegisterTypeLib(library.get(), file.data(), help.data());
    return hr;
}

// What the system's own unregistration leaves is removed with the rest, so its result
// does not decide.
void unregister_type_library(const Target& target)
{
    ClassesRootAt root(target.own.key);
    BSTR registered = nullptr;
    if (FAILED(root.status()) ||
        FAILED(QueryPathOfRegTypeLib(LIBID_QMXClicker, library_major, library_minor, library_lcid, &registered)))
        return;
    SysFreeString(registered);
    if (target.per_user)
        UnRegisterTypeLibForUser(LIBID_QMXClicker, library_major, library_minor, library_lcid, library_syskind);
    else
        UnRegisterTypeLib(LIBID_QMXClicker, library_major, library_minor, library_lcid, library_syskind);
}

bool under_wow64()
{
#ifdef _WIN64
    return false;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

} // namespace

HRESULT install(const Target& target, const std::wstring& path)
{
    HRESULT hr = register_type_library(target, path);
    if (SUCCEEDED(hr))
        hr = write(target.own, class_values(path, true));
    // No InprocServer32 in the other view: its clients go to the surrogate.
    if (SUCCEEDED(hr) && target.other.key)
        hr = write(target.other, class_values(path, false));
    if (FAILED(hr))
        uninstall(target); // nothing half-registered
    return hr;
}

HRESULT uninstall(const Target& target)
{
    unregister_type_library(target);
    FirstFailure failure;
    failure.keep(remove_class(target.own));
    if (target.other.key)
        failure.keep(remove_class(target.other));
    return failure.result();
}

SystemTarget::SystemTarget(HKEY hive)
{
    auto open = [&](Classes& classes, REGSAM view) {
        LONG status = RegCreateKeyExW(hive, L"Software\\Classes", 0, nullptr, 0, KEY_READ | KEY_WRITE | view, nullptr,
                                      &classes.key, nullptr);
        if (status != ERROR_SUCCESS) {
            classes.key = nullptr;
            if (SUCCEEDED(status_))
                status_ = HRESULT_FROM_WIN32(status);
        }
        classes.view = view;
    };
    open(target_.own, 0);
    // The 32-bit regsvr32 on 64-bit Windows also writes what 64-bit clients read.
    if (under_wow64())
        open(target_.other, KEY_WOW64_64KEY);
    target_.per_user = hive == HKEY_CURRENT_USER;
}

SystemTarget::~SystemTarget()
{
    for (HKEY key : {target_.own.key, target_.other.key})
        if (key)
            RegCloseKey(key);
}

} // namespace qmx::registration
