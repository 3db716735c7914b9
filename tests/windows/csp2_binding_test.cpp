// The binding to csp2.DLL: where it is looked for, what a missing library or entry gives,
// retrying, and buffers handed over whole.
#include "core/automation/text.h"
#include "windows/csp2_dll.h"
#include "support/matchers.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

namespace qmx {
namespace {

void place_library(const std::wstring& kind, const std::wstring& folder)
{
    std::wstring source = test::program_folder() + L"\\test_csp2_" + kind + L".dll";
    ASSERT_TRUE(CopyFileW(source.c_str(), (folder + L"\\csp2.DLL").c_str(), FALSE)) << GetLastError();
}

std::u16string u16(const std::wstring& text)
{
    return std::u16string(text.begin(), text.end());
}

std::wstring system_folder()
{
    wchar_t system[MAX_PATH];
    return std::wstring(system, GetSystemDirectoryW(system, MAX_PATH));
}

// The description of a csp2.DLL at `path` that is there but does not load: what happened,
// the system's reason with its code, and the build this component needs.
void expect_cannot_load(const std::u16string& description, const std::wstring& path)
{
    const std::u16string start = u"csp2.DLL was found but cannot be loaded: " + u16(path) + u": ";
    const std::u16string end = sizeof(void*) == 8 ? u". It has to be a 64-bit DLL." : u". It has to be a 32-bit DLL.";
    EXPECT_EQ(description.substr(0, start.size()), start) << narrow_ascii(description);
    ASSERT_GT(description.size(), start.size() + end.size());
    EXPECT_EQ(description.substr(description.size() - end.size()), end) << narrow_ascii(description);
    EXPECT_NE(description.find(u" (error "), std::u16string::npos) << "the system's reason: " << narrow_ascii(description);
}

std::u16string description_of(const std::function<void()>& call)
{
    try {
        call();
    } catch (const AutomationError& e) {
        return e.description();
    }
    return u"(no error)";
}

TEST(Csp2Binding, NoLibraryAnywhereIsFileNotFound)
{
    test::TempFolder own(L"own-empty");
    Csp2Dll library(own.path());
    EXPECT_AUTOMATION_ERROR(library.csp2Init(0), 53);
    EXPECT_EQ(description_of([&] { library.csp2Restore(); }),
              u"File not found: csp2.DLL, looked for in this order: " + u16(own.path()) + u"; " +
                  u16(test::program_folder()) + u"; the folders the host added; " + u16(system_folder()));
}

TEST(Csp2Binding, TheModulesOwnFolderComesFirstAndEveryCallTriesAgain)
{
    test::TempFolder own(L"own-later");
    Csp2Dll library(own.path());
    EXPECT_AUTOMATION_ERROR(library.csp2Init(3), 53);
    place_library(L"full", own.path());
    EXPECT_EQ(library.csp2Init(3), 1003);
    EXPECT_EQ(library.csp2ReadData(), 42);
    EXPECT_EQ(library.csp2Restore(), 16);
}

TEST(Csp2Binding, AMissingEntryIsEntryPointNotFoundAndTheOthersStillWork)
{
    test::TempFolder own(L"own-partial");
    place_library(L"partial", own.path());
    Csp2Dll library(own.path());
    ParamBuffer value{};
    EXPECT_AUTOMATION_ERROR(library.csp2SetParam(1, value, 2), 453);
    EXPECT_EQ(description_of([&] { library.csp2SetParam(1, value, 2); }),
              u"Can't find DLL entry point csp2SetParam in csp2.DLL");
    EXPECT_EQ(library.csp2Init(0), 1000);
    EXPECT_EQ(library.csp2WakeUp(), 11);
}

TEST(Csp2Binding, ALibraryInTheCurrentDirectoryIsNotLoaded)
{
    test::TempFolder own(L"own-none");
    test::TempFolder current(L"current");
    place_library(L"full", current.path());
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(current.path().c_str()));
    {
        Csp2Dll library(own.path());
        EXPECT_AUTOMATION_ERROR(library.csp2Init(0), 53);
    }
    SetCurrentDirectoryW(previous);
}

TEST(Csp2Binding, FoldersTheHostAddedAreSearched)
{
    test::TempFolder own(L"own-none2");
    test::TempFolder added(L"added");
    place_library(L"full", added.path());
    DLL_DIRECTORY_COOKIE cookie = AddDllDirectory(added.path().c_str());
    ASSERT_NE(cookie, nullptr);
    {
        Csp2Dll library(own.path());
        EXPECT_EQ(library.csp2Init(5), 1005);
    }
    RemoveDllDirectory(cookie);
}

// The default folders are looked at only when the module's own folder holds no csp2.DLL.
// (A folder the host added stands for them all here: the host program's folder is shared
// with the other test programs.)
TEST(Csp2Binding, ACsp2DllThatDoesNotLoadIsTheErrorAndNoOtherIsTaken)
{
    test::TempFolder own(L"own-broken");
    test::TempFolder added(L"added-valid");
    place_library(L"full", added.path());
    DLL_DIRECTORY_COOKIE cookie = AddDllDirectory(added.path().c_str());
    ASSERT_NE(cookie, nullptr);
    const std::wstring broken = own.file(L"csp2.DLL");
    auto expect_not_loaded = [&](const char* what) {
        SCOPED_TRACE(what);
        Csp2Dll library(own.path());
        EXPECT_AUTOMATION_ERROR(library.csp2Init(5), 53);
        expect_cannot_load(description_of([&] { library.csp2Init(5); }), broken);
    };

    HANDLE file = CreateFileW(broken.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, "not a library\r\n", 15, &written, nullptr);
    CloseHandle(file);
    expect_not_loaded("a text file");

    const std::wstring other = test::program_folder() + (sizeof(void*) == 8 ? L"\\..\\..\\win32" : L"\\..\\..\\win64") +
                               L"\\csp2.dll";
    const bool have_other = CopyFileW(other.c_str(), broken.c_str(), FALSE);
    if (have_other)
        expect_not_loaded("the other processor's csp2.dll");
    RemoveDllDirectory(cookie);
    if (!have_other)
        GTEST_SKIP() << "no build of csp2.dll for the other processor beside this one";
}

// The library's own dependencies come from its folder and the system's: one in the
// current directory or on PATH is never loaded.
TEST(Csp2Binding, TheLibrarysDependenciesComeFromItsOwnFolderOnly)
{
    // A folder per run: Wine keeps a library open whose dependency did not load.
    static int run = 0;
    test::TempFolder own(L"own-dependent-" + std::to_wstring(++run));
    test::TempFolder current(L"current-dependency");
    test::TempFolder on_path(L"path-dependency");
    place_library(L"dependent", own.path());
    const std::wstring dependency = test::program_folder() + L"\\dependency\\test_csp2_dependency.dll";
    for (const test::TempFolder* folder : {&current, &on_path})
        ASSERT_TRUE(CopyFileW(dependency.c_str(), folder->file(L"test_csp2_dependency.dll").c_str(), FALSE));

    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    std::wstring path(32767, L'\0');
    path.resize(GetEnvironmentVariableW(L"PATH", path.data(), static_cast<DWORD>(path.size())));
    ASSERT_TRUE(SetCurrentDirectoryW(current.path().c_str()));
    SetEnvironmentVariableW(L"PATH", (on_path.path() + L";" + path).c_str());
    {
        Csp2Dll library(own.path());
        EXPECT_AUTOMATION_ERROR(library.csp2Interrogate(), 53);
        const std::wstring placed = own.file(L"csp2.DLL");
        EXPECT_NE(description_of([&] { library.csp2Interrogate(); }).find(std::u16string(placed.begin(), placed.end())),
                  std::u16string::npos);
        ASSERT_TRUE(CopyFileW(dependency.c_str(), own.file(L"test_csp2_dependency.dll").c_str(), FALSE));
        EXPECT_EQ(library.csp2Interrogate(), 77) << "found beside the library";
    }
    SetEnvironmentVariableW(L"PATH", path.c_str());
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(GetModuleHandleW(L"csp2.DLL"), nullptr);
    EXPECT_EQ(GetModuleHandleW(L"test_csp2_dependency.dll"), nullptr);
}

// One in the default folders (here the program's, given to the binding) that does not load
// is the error too, with its path, the system's reason and its code.
TEST(Csp2Binding, ACsp2DllInTheDefaultFoldersThatDoesNotLoadNamesPathAndReason)
{
    test::TempFolder own(L"own-none3");
    test::TempFolder program(L"program-broken");
    const std::wstring broken = program.file(L"csp2.DLL");
    HANDLE file = CreateFileW(broken.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, "not a library\r\n", 15, &written, nullptr);
    CloseHandle(file);

    Csp2Dll library(own.path(), program.path());
    EXPECT_AUTOMATION_ERROR(library.csp2Init(1), 53);
    expect_cannot_load(description_of([&] { library.csp2Init(1); }), broken);
}

std::wstring written_lines;
void WINAPI write_line(const wchar_t* line)
{
    written_lines += line;
}

// A host that uses the scanner library itself has it loaded already: the binding takes
// that module rather than a second copy competing for the port, and says so.
TEST(Csp2Binding, ACsp2DllTheProcessHasLoadedIsUsedAndNamed)
{
    test::TempFolder host(L"host-loaded");
    test::TempFolder own(L"own-partial2");
    place_library(L"full", host.path());
    place_library(L"partial", own.path());
    HMODULE hosts = LoadLibraryW(host.file(L"csp2.DLL").c_str());
    ASSERT_NE(hosts, nullptr);
    written_lines.clear();
    {
        Csp2Dll library(own.path(), own.path(), write_line);
        ParamBuffer value{};
        EXPECT_EQ(library.csp2SetParam(1, value, 2), 1002) << "the host's full library";
        EXPECT_NE(written_lines.find(L"csp2.DLL in use: " + host.file(L"csp2.DLL")), std::wstring::npos)
            << narrow_ascii(std::u16string(written_lines.begin(), written_lines.end()));
    }
    FreeLibrary(hosts);
    EXPECT_EQ(GetModuleHandleW(L"csp2.DLL"), nullptr) << "the binding gave its reference back";

    written_lines.clear();
    {
        Csp2Dll library(own.path(), own.path(), write_line);
        EXPECT_EQ(library.csp2Init(2), 1002);
        EXPECT_NE(written_lines.find(L"csp2.DLL in use: " + own.file(L"csp2.DLL")), std::wstring::npos);
    }
}

TEST(Csp2Binding, BuffersTravelWholeWithAZeroAfterThem)
{
    test::TempFolder own(L"own-buffers");
    place_library(L"full", own.path());
    Csp2Dll library(own.path());

    DeviceIdBuffer id{};
    library.csp2GetDeviceId(id, 9);
    EXPECT_EQ(std::string(id.begin(), id.end()), "ABCDEFGHZ");

    PacketBuffer packet{};
    EXPECT_EQ(library.csp2GetPacket(packet, 5, 500), 7);
    EXPECT_EQ(packet[0], 5);
    EXPECT_EQ(packet[499], 'E');

    TimeStampBytes stamp{1, 2, 3, 14};
    TimeStampText text;
    text.fill(0xFF);
    EXPECT_EQ(library.csp2TimeStamp2Str(stamp, text, 30), 0);
    EXPECT_EQ(std::string(text.begin(), text.begin() + 5), std::string("1234\0", 5));
    EXPECT_EQ(text[29], 0);

    ClockBytes clock{};
    library.csp2GetTime(clock);
    EXPECT_EQ(clock, (ClockBytes{45, 30, 14, 20, 5, 5}));
    EXPECT_EQ(library.csp2SetTime(clock), 45 + 30 + 14 + 20 + 5 + 5);
    EXPECT_EQ(clock[0], 0xEE) << "what the library wrote comes back";

    ParamBuffer value;
    value.fill(' ');
    value[0] = 7;
    value[1] = 0;
    EXPECT_EQ(library.csp2SetParam(22, value, 2), 22 * 1000 + 7 * 10 + 2);
}

} // namespace
} // namespace qmx
