// Self-registration, written key by key into the target's views: the class with this DLL
// as its apartment-threaded server, the ProgID, an AppID that lets the system surrogate
// host the class for clients of the other bitness, and the type library with _Clicker for
// the type-library marshaller. Nothing goes through HKEY_CLASSES_ROOT, which belongs to the
// host and every thread in it.
#include "com/registration.h"

#include "com/QMXClicker_h.h"
#include "com/com_ptr.h"
#include "windows/platform.h"

#include <algorithm>
#include <oleauto.h>
#include <set>
#include <utility>
#include <vector>

namespace qmx::registration {

namespace {

constexpr wchar_t prog_id[] = L"QMXClicker.Clicker";
constexpr wchar_t class_name[] = L"Clicker";
// What reference lists show for the type library: the library has no documentation
// string, so its name (a test holds the two equal).
constexpr wchar_t library_title[] = L"QMXClicker";
constexpr wchar_t type_library_marshaller[] = L"{00020424-0000-0000-C000-000000000046}";
#ifdef _WIN64
constexpr wchar_t syskind_name[] = L"win64";
#else
constexpr wchar_t syskind_name[] = L"win32";
#endif
// The library's own locale, and the language-neutral one the type-library marshaller looks up.
constexpr const wchar_t* library_lcids[] = {L"409", L"0"};

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
    std::wstring server_key = class_key + L"\\InprocServer32";
    std::wstring app_id_key = L"AppID\\" + clsid;
    std::wstring interface_key = L"Interface\\" + guid_text(IID__Clicker);
    std::wstring library_key = L"TypeLib\\" + libid;
    std::wstring version_key = library_key + L"\\1.0";
};

class FirstFailure {
public:
    void keep(HRESULT hr)
    {
        if (FAILED(hr) && SUCCEEDED(first_))
            first_ = hr;
    }
    void keep_status(LONG status)
    {
        if (status != ERROR_FILE_NOT_FOUND && status != ERROR_PATH_NOT_FOUND)
            keep(HRESULT_FROM_WIN32(status));
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

// The class, ProgID, AppID, interface and type library: the same for every build, apart
// from the help folder, which names the folder registered last.
std::vector<Value> shared_values(const std::wstring& help_folder)
{
    const Keys k;
    const std::wstring program = prog_id;
    return {
        {k.class_key, nullptr, class_name},
        {k.class_key, L"AppID", k.clsid},
        {k.class_key + L"\\ProgID", nullptr, program},
        {k.class_key + L"\\TypeLib", nullptr, k.libid},
        {k.class_key + L"\\Version", nullptr, L"1.0"},
        {program, nullptr, class_name},
        {program + L"\\CLSID", nullptr, k.clsid},
        {k.app_id_key, nullptr, class_name},
        {k.app_id_key, L"DllSurrogate", L""}, // empty: the system's surrogate
        {k.interface_key, nullptr, L"_Clicker"},
        {k.interface_key + L"\\ProxyStubClsid", nullptr, type_library_marshaller},
        {k.interface_key + L"\\ProxyStubClsid32", nullptr, type_library_marshaller},
        {k.interface_key + L"\\TypeLib", nullptr, k.libid},
        {k.interface_key + L"\\TypeLib", L"Version", L"1.0"},
        {k.version_key, nullptr, library_title},
        {k.version_key + L"\\FLAGS", nullptr, L"0"},
        {k.version_key + L"\\HELPDIR", nullptr, help_folder},
    };
}

// What a view needs; the in-process server only where this DLL can be loaded.
std::vector<Value> class_values(const std::wstring& path, bool in_process)
{
    const Keys k;
    std::vector<Value> values = shared_values(folder_of(path));
    for (const wchar_t* lcid : library_lcids)
        values.push_back({k.version_key + L"\\" + lcid + L"\\" + syskind_name, nullptr, path});
    if (in_process) {
        values.push_back({k.server_key, nullptr, path});
        values.push_back({k.server_key, L"ThreadingModel", L"Apartment"});
    }
    return values;
}

// Writes values and remembers what was there before, so that a registration that fails
// half-way can take away the keys it created and put back the values it replaced.
class Journal {
public:
    explicit Journal(const RegistryWrites& writes) : writes_(writes) {}

    HRESULT write(const Classes& classes, const std::vector<Value>& values)
    {
        for (const Value& value : values) {
            HRESULT hr = set(classes, value);
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
    }

    void undo()
    {
        for (auto change = changes_.rbegin(); change != changes_.rend(); ++change) {
            const Classes& classes = *change->classes;
            if (change->created) {
                writes_.delete_key(classes.key, change->key.c_str(), classes.view, 0);
                continue;
            }
            HKEY handle = nullptr;
            if (RegOpenKeyExW(classes.key, change->key.c_str(), 0, KEY_SET_VALUE | classes.view, &handle) !=
                ERROR_SUCCESS)
                continue;
            const wchar_t* name = change->name.empty() ? nullptr : change->name.c_str();
            if (change->existed)
                writes_.set_value(handle, name, 0, change->type, change->data.data(),
                                  static_cast<DWORD>(change->data.size()));
            else
                writes_.delete_value(handle, name);
            RegCloseKey(handle);
        }
        changes_.clear();
    }

private:
    // A key created by this call, or a value it is about to change in a key that was there.
    struct Change {
        const Classes* classes;
        std::wstring key;
        bool created = false;
        std::wstring name;
        bool existed = false;
        DWORD type = REG_NONE;
        std::vector<BYTE> data;
    };

    // Opens the key, creating it and each missing key above it one at a time so that each
    // is known; *created tells whether the key itself is new in this call.
    LONG open(const Classes& classes, const std::wstring& key, HKEY* handle, bool* created)
    {
        for (std::size_t end = key.find(L'\\');; end = key.find(L'\\', end + 1)) {
            const std::wstring part = key.substr(0, end);
            const auto known = std::make_pair(classes.key, part);
            if (end == std::wstring::npos || !opened_.count(known)) {
                HKEY opened = nullptr;
                DWORD disposition = 0;
                LONG status = writes_.create_key(classes.key, part.c_str(), 0, nullptr, 0,
                                                 KEY_QUERY_VALUE | KEY_SET_VALUE | classes.view, nullptr, &opened,
                                                 &disposition);
                if (status != ERROR_SUCCESS)
                    return status;
                if (disposition == REG_CREATED_NEW_KEY) {
                    changes_.push_back({&classes, part, true, {}, false, REG_NONE, {}});
                    created_.insert(known);
                }
                opened_.insert(known);
                if (end == std::wstring::npos) {
                    *handle = opened;
                    *created = created_.count(known) != 0;
                    return ERROR_SUCCESS;
                }
                RegCloseKey(opened);
            }
        }
    }

    HRESULT set(const Classes& classes, const Value& value)
    {
        HKEY handle = nullptr;
        bool created = false;
        LONG status = open(classes, value.key, &handle, &created);
        if (status != ERROR_SUCCESS)
            return HRESULT_FROM_WIN32(status);
        if (!created) {
            Change old{&classes, value.key, false, value.name ? value.name : L"", false, REG_NONE, {}};
            DWORD size = 0;
            status = RegQueryValueExW(handle, value.name, nullptr, &old.type, nullptr, &size);
            if (status == ERROR_SUCCESS) {
                old.data.resize(size);
                status = RegQueryValueExW(handle, value.name, nullptr, &old.type, old.data.data(), &size);
                old.data.resize(size);
                old.existed = true;
            } else if (status == ERROR_FILE_NOT_FOUND) {
                status = ERROR_SUCCESS;
            }
            if (status == ERROR_SUCCESS)
                changes_.push_back(std::move(old));
        }
        if (status == ERROR_SUCCESS)
            status = writes_.set_value(handle, value.name, 0, REG_SZ,
                                       reinterpret_cast<const BYTE*>(value.data.c_str()),
                                       static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
        return HRESULT_FROM_WIN32(status);
    }

    const RegistryWrites& writes_;
    std::vector<Change> changes_;
    std::set<std::pair<HKEY, std::wstring>> opened_, created_;
};

HRESULT delete_tree(const Classes& classes, const RegistryWrites& writes, const std::wstring& key)
{
    HKEY handle = nullptr;
    LONG status = RegOpenKeyExW(classes.key, key.c_str(), 0, KEY_READ | KEY_SET_VALUE | DELETE | classes.view, &handle);
    if (status == ERROR_SUCCESS) {
        status = writes.delete_tree(handle, nullptr);
        RegCloseKey(handle);
        if (status == ERROR_SUCCESS)
            status = writes.delete_key(classes.key, key.c_str(), classes.view, 0);
    }
    FirstFailure failure;
    failure.keep_status(status);
    return failure.result();
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

bool is_library_detail(const std::wstring& name)
{
    return _wcsicmp(name.c_str(), L"FLAGS") == 0 || _wcsicmp(name.c_str(), L"HELPDIR") == 0;
}

std::wstring text_of(const Classes& classes, const std::wstring& key)
{
    std::wstring text;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(classes.key, key.c_str(), 0, KEY_QUERY_VALUE | classes.view, &handle) != ERROR_SUCCESS)
        return text;
    DWORD type = REG_NONE, size = 0;
    if (RegQueryValueExW(handle, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ) {
        text.resize(size / sizeof(wchar_t) + 1);
        size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (RegQueryValueExW(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) ==
            ERROR_SUCCESS)
            text.resize(wcsnlen(text.c_str(), size / sizeof(wchar_t)));
        else
            text.clear();
    }
    RegCloseKey(handle);
    return text;
}

bool key_exists(const Classes& classes, const std::wstring& key)
{
    HKEY handle = nullptr;
    if (RegOpenKeyExW(classes.key, key.c_str(), 0, KEY_READ | classes.view, &handle) != ERROR_SUCCESS)
        return false;
    RegCloseKey(handle);
    return true;
}

#ifdef _WIN64
// The type library's entries of the given platform in the view, as lcid\\syskind keys.
std::vector<std::wstring> library_entries(const Classes& classes, const wchar_t* syskind)
{
    const Keys k;
    std::vector<std::wstring> entries;
    for (const std::wstring& lcid : subkeys(classes, k.version_key))
        if (!is_library_detail(lcid) && key_exists(classes, k.version_key + L"\\" + lcid + L"\\" + syskind))
            entries.push_back(k.version_key + L"\\" + lcid + L"\\" + syskind);
    return entries;
}
#endif

// The file of another build still registered in the view, or empty: one loaded in process
// there, or (in the 64-bit build's view) the 32-bit build, which leaves its surrogate's
// entries there. The 64-bit build never writes the 32-bit view, so its type library's
// entries seen there come through a key the views share.
std::wstring other_build(const Classes& classes)
{
    const Keys k;
    if (key_exists(classes, k.server_key))
        return text_of(classes, k.server_key);
#ifdef _WIN64
    const std::vector<std::wstring> entries = library_entries(classes, L"win32");
    if (!entries.empty())
        return text_of(classes, entries.front());
#endif
    return {};
}

// Removes this build's entries from a view; the class, ProgID, AppID, interface and type
// library go too unless another build is still registered there. Returns in *other_file
// the file of that build.
HRESULT remove_from(const Classes& classes, const RegistryWrites& writes, bool in_process, std::wstring* other_file)
{
    const Keys k;
    FirstFailure failure;
    if (in_process)
        failure.keep(delete_tree(classes, writes, k.server_key));
    for (const wchar_t* lcid : library_lcids) {
        const std::wstring key = k.version_key + L"\\" + lcid;
        failure.keep(delete_tree(classes, writes, key + L"\\" + syskind_name));
        if (subkeys(classes, key).empty())
            failure.keep(delete_tree(classes, writes, key));
    }
    *other_file = other_build(classes);
    if (!other_file->empty())
        return failure.result();
    for (const std::wstring& key : {k.class_key, std::wstring(prog_id), k.app_id_key, k.interface_key})
        failure.keep(delete_tree(classes, writes, key));
    const std::vector<std::wstring> left = subkeys(classes, k.version_key);
    if (std::all_of(left.begin(), left.end(), is_library_detail))
        failure.keep(delete_tree(classes, writes, k.version_key));
    if (subkeys(classes, k.library_key).empty())
        failure.keep(delete_tree(classes, writes, k.library_key));
    return failure.result();
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
    // Only a file that holds the type library is registered.
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.out());
    if (FAILED(hr))
        return hr;
    Journal journal(target.writes);
    try {
        hr = journal.write(target.own, class_values(path, true));
        // No InprocServer32 in the other view: its clients go to the surrogate.
        if (SUCCEEDED(hr) && target.other.key)
            hr = journal.write(target.other, class_values(path, false));
    } catch (...) {
        journal.undo();
        throw;
    }
    if (FAILED(hr))
        journal.undo();
    return hr;
}

HRESULT uninstall(const Target& target)
{
    FirstFailure failure;
    std::wstring own_other, other_other;
    failure.keep(remove_from(target.own, target.writes, true, &own_other));
    if (target.other.key)
        failure.keep(remove_from(target.other, target.writes, false, &other_other));
    // Keys the views share (AppID, TypeLib) may have gone with one view's class: a build
    // that stays gets its shared keys back, with its own help folder.
    Journal journal(target.writes);
    if (!own_other.empty())
        failure.keep(journal.write(target.own, shared_values(folder_of(own_other))));
    if (!other_other.empty())
        failure.keep(journal.write(target.other, shared_values(folder_of(other_other))));
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
}

SystemTarget::~SystemTarget()
{
    for (HKEY key : {target_.own.key, target_.other.key})
        if (key)
            RegCloseKey(key);
}

} // namespace qmx::registration
