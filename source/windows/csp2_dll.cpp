#include "windows/csp2_dll.h"

#include "core/automation/error.h"
#include "core/scanner/csp2_entries.h"
#include "windows/platform.h"
#include "windows/csp2_exports.h"

#include <cstring>
#include <string_view>

namespace qmx {

namespace {

constexpr wchar_t library_file[] = L"csp2.DLL";
constexpr char16_t library_name[] = u"csp2.DLL";

// Byte buffers travel with one zero byte after them, as text buffers always have.
template <std::size_t N>
struct Terminated {
    explicit Terminated(const std::array<std::uint8_t, N>& from) { std::memcpy(bytes, from.data(), N); }
    void copy_to(std::array<std::uint8_t, N>& to) const { std::memcpy(to.data(), bytes, N); }
    char* text() { return reinterpret_cast<char*>(bytes); }
    unsigned char* data() { return bytes; }
    unsigned char bytes[N + 1] = {};
};

std::u16string to_u16(const char* ascii)
{
    std::u16string out;
    for (; *ascii; ++ascii)
        out.push_back(static_cast<char16_t>(*ascii));
    return out;
}

std::u16string as_u16(const std::wstring& text)
{
    return std::u16string(text.begin(), text.end());
}

// The system's text for an error, "%1" standing for the library.
std::wstring system_reason(DWORD error)
{
    wchar_t buffer[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  buffer, 512, nullptr);
    std::wstring text(buffer, length);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.'))
        text.pop_back();
    for (std::size_t at; (at = text.find(L"%1")) != std::wstring::npos;)
        text.replace(at, 2, library_file);
    if (!text.empty())
        text += L' ';
    return text + L"(error " + std::to_wstring(error) + L")";
}

std::wstring path_in(const std::wstring& folder)
{
    std::wstring path = folder;
    if (path.back() != L'\\' && path.back() != L'/')
        path += L'\\';
    return path + library_file;
}

// The other processor's library is the usual reason a present csp2.DLL does not load.
constexpr std::u16string_view needed_build = sizeof(void*) == 8 ? u"a 64-bit DLL" : u"a 32-bit DLL";

[[noreturn]] void raise_not_loaded(const std::wstring& path, DWORD error)
{
    raise_library_not_loaded(library_name, as_u16(path), as_u16(system_reason(error)), needed_build);
}

// The library's own dependencies: its folder and the system folder, never the current
// directory or PATH (which LOAD_WITH_ALTERED_SEARCH_PATH would also search).
constexpr DWORD dependencies_safe = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

// nullptr when the folder holds no csp2.DLL. One that is there is the only candidate: if
// it does not load (not a DLL, the other processor's, a dependency missing), that is the
// error, rather than quietly loading another one from elsewhere.
HMODULE load_from(const std::wstring& folder)
{
    if (folder.empty())
        return nullptr;
    const std::wstring path = path_in(folder);
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return nullptr;
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, dependencies_safe);
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER) // a system without the safe search flags
        module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module)
        raise_not_loaded(path, GetLastError());
    return module;
}

std::wstring system_folder()
{
    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(system, length) : std::wstring();
}

// The safe default folders in their order: the program's, those the host added, the
// system's. Those added cannot be listed, so the loader searches them by name.
HMODULE load_from_default_dirs(const std::wstring& program_folder)
{
    if (HMODULE module = load_from(program_folder))
        return module;
    HMODULE module = LoadLibraryExW(library_file, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
    if (module)
        return module;
    const DWORD error = GetLastError();
    if (error != ERROR_MOD_NOT_FOUND && error != ERROR_INVALID_PARAMETER)
        raise_not_loaded(std::wstring(library_file) + L" in a folder the host added", error);
    return load_from(system_folder());
}

// The places load() looks, in its order, for the error that finds the library in none.
std::u16string searched_folders(const std::wstring& own_folder, const std::wstring& program_folder)
{
    std::u16string list;
    auto add = [&list](const std::u16string& place) {
        if (!place.empty())
            list += (list.empty() ? u"" : u"; ") + place;
    };
    add(as_u16(own_folder));
    if (program_folder != own_folder)
        add(as_u16(program_folder));
    add(u"the folders the host added");
    add(as_u16(system_folder()));
    return list;
}

// A csp2.DLL the host (or anything else in the process) has loaded; with a reference of
// our own, so that it stays while bound.
HMODULE already_loaded()
{
    HMODULE module = nullptr;
    return GetModuleHandleExW(0, library_file, &module) ? module : nullptr;
}

const char in_this_module = 0;

// The folder of the module this code is linked into.
std::wstring own_module_folder()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&in_this_module), &self);
    return self ? folder_of(module_file_name(self)) : std::wstring();
}

class Exclusive {
public:
    explicit Exclusive(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~Exclusive() { ReleaseSRWLockExclusive(&lock_); }
    Exclusive(const Exclusive&) = delete;
    Exclusive& operator=(const Exclusive&) = delete;

private:
    SRWLOCK& lock_;
};

} // namespace

// Made when the module loads, with nothing to free when it goes but its own memory.
Csp2Dll Csp2Dll::process_{ProcessWide{}};

Csp2Dll::Csp2Dll(std::wstring own_folder)
    : Csp2Dll(std::move(own_folder), folder_of(module_file_name(nullptr)))
{
}

Csp2Dll::Csp2Dll(std::wstring own_folder, std::wstring program_folder, Writer write)
    : own_folder_(std::move(own_folder)), program_folder_(std::move(program_folder)), write_(write)
{
}

Csp2Dll::Csp2Dll(ProcessWide) : keep_loaded_(true) {}

Csp2Dll::~Csp2Dll()
{
    HMODULE module = module_.load();
    if (module && !keep_loaded_)
        FreeLibrary(module);
}

Csp2Dll& Csp2Dll::process()
{
    return process_;
}

HMODULE Csp2Dll::library()
{
    HMODULE module = module_.load(std::memory_order_acquire);
    if (module)
        return module;
    Exclusive hold(lock_);
    module = module_.load(std::memory_order_relaxed);
    if (!module) {
        module = load();
        module_.store(module, std::memory_order_release);
    }
    return module;
}

HMODULE Csp2Dll::load()
{
    std::wstring how;
    HMODULE module = already_loaded();
    if (module) {
        how = L" (loaded before)";
    } else {
        const std::wstring own = keep_loaded_ ? own_module_folder() : own_folder_;
        const std::wstring program = keep_loaded_ ? folder_of(module_file_name(nullptr)) : program_folder_;
        module = load_from(own);
        if (!module)
            module = load_from_default_dirs(program);
        if (!module)
            raise_library_not_found(library_name, searched_folders(own, program));
    }
    const std::wstring line = L"QMXClicker: csp2.DLL in use: " + module_file_name(module) + how + L"\n";
    write_(line.c_str());
    return module;
}

FARPROC Csp2Dll::bind(Csp2Entry which)
{
    std::atomic<FARPROC>& slot = entries_[static_cast<std::size_t>(which)];
    FARPROC address = slot.load(std::memory_order_acquire);
    if (address)
        return address;
    HMODULE module = library();
    Exclusive hold(lock_);
    address = slot.load(std::memory_order_relaxed);
    if (!address) {
        const std::string name(csp2_entry_name(which));
        address = GetProcAddress(module, name.c_str());
        if (!address)
            raise_entry_not_found(to_u16(name.c_str()), library_name);
        slot.store(address, std::memory_order_release);
    }
    return address;
}

template <typename Function>
Function Csp2Dll::entry(Csp2Entry which)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(bind(which)));
}

std::int32_t Csp2Dll::csp2Init(std::int32_t port)
{
    return entry<decltype(&::csp2Init)>(Csp2Entry::csp2Init)(port);
}

std::int32_t Csp2Dll::csp2ReadData()
{
    return entry<decltype(&::csp2ReadData)>(Csp2Entry::csp2ReadData)();
}

std::int32_t Csp2Dll::csp2GetSystemStatus()
{
    return entry<decltype(&::csp2GetSystemStatus)>(Csp2Entry::csp2GetSystemStatus)();
}

std::int32_t Csp2Dll::csp2GetDeviceId(DeviceIdBuffer& id, std::int32_t size)
{
    auto call = entry<decltype(&::csp2GetDeviceId)>(Csp2Entry::csp2GetDeviceId);
    Terminated<9> buffer(id);
    std::int32_t result = call(buffer.text(), size);
    buffer.copy_to(id);
    return result;
}

std::int32_t Csp2Dll::csp2GetPacket(PacketBuffer& packet, std::int32_t number, std::int32_t size)
{
    auto call = entry<decltype(&::csp2GetPacket)>(Csp2Entry::csp2GetPacket);
    Terminated<500> buffer(packet);
    std::int32_t result = call(buffer.text(), number, size);
    buffer.copy_to(packet);
    return result;
}

std::int32_t Csp2Dll::csp2TimeStamp2Str(const TimeStampBytes& stamp, TimeStampText& text, std::int32_t size)
{
    auto call = entry<decltype(&::csp2TimeStamp2Str)>(Csp2Entry::csp2TimeStamp2Str);
    Terminated<4> stamp_buffer(stamp);
    Terminated<30> text_buffer(text);
    std::int32_t result = call(stamp_buffer.data(), text_buffer.text(), size);
    text_buffer.copy_to(text);
    return result;
}

std::int32_t Csp2Dll::csp2WakeUp()
{
    return entry<decltype(&::csp2WakeUp)>(Csp2Entry::csp2WakeUp)();
}

std::int32_t Csp2Dll::csp2GetTime(ClockBytes& clock)
{
    auto call = entry<decltype(&::csp2GetTime)>(Csp2Entry::csp2GetTime);
    Terminated<6> buffer(clock);
    std::int32_t result = call(buffer.data());
    buffer.copy_to(clock);
    return result;
}

std::int32_t Csp2Dll::csp2SetTime(ClockBytes& clock)
{
    auto call = entry<decltype(&::csp2SetTime)>(Csp2Entry::csp2SetTime);
    Terminated<6> buffer(clock);
    std::int32_t result = call(buffer.data());
    buffer.copy_to(clock);
    return result;
}

std::int32_t Csp2Dll::csp2PowerDown()
{
    return entry<decltype(&::csp2PowerDown)>(Csp2Entry::csp2PowerDown)();
}

std::int32_t Csp2Dll::csp2ClearData()
{
    return entry<decltype(&::csp2ClearData)>(Csp2Entry::csp2ClearData)();
}

std::int32_t Csp2Dll::csp2SetDefaults()
{
    return entry<decltype(&::csp2SetDefaults)>(Csp2Entry::csp2SetDefaults)();
}

std::int32_t Csp2Dll::csp2Interrogate()
{
    return entry<decltype(&::csp2Interrogate)>(Csp2Entry::csp2Interrogate)();
}

std::int32_t Csp2Dll::csp2SetParam(std::int32_t param, ParamBuffer& value, std::int32_t size)
{
    auto call = entry<decltype(&::csp2SetParam)>(Csp2Entry::csp2SetParam);
    Terminated<10> buffer(value);
    std::int32_t result = call(param, buffer.text(), size);
    buffer.copy_to(value);
    return result;
}

std::int32_t Csp2Dll::csp2Restore()
{
    return entry<decltype(&::csp2Restore)>(Csp2Entry::csp2Restore)();
}

} // namespace qmx
