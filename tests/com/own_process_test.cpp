// The server in a process of its own: where no csp2.dll has been loaded yet (a loaded one
// would be found by its name), and where QMXClicker.dll and the simulated csp2.dll are
// loaded, used and freed 2,000 times. Neither may leave a thread-local storage index or
// memory behind: a host that loads the component on demand (CoFreeUnusedLibraries) does
// exactly this, and a process has only about 1,100 indices. Both DLLs stay mapped from
// their first load on, so the files they were loaded from stay in use.
#include "com_host.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <cstdio>
#include <functional>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace qmx::test {
namespace {

constexpr int load_cycles = 2000;
// What a load may leave behind on average: nothing, as a DLL that stays mapped is only
// counted again (a DLL really unloaded leaves some 1,000 bytes and an index each time).
// The slack covers the heaps' growth in steps.
constexpr long long bytes_per_load = 16 * sizeof(void*);
constexpr long long growth_step = 128 * 1024;

DWORD lowest_free_tls_index()
{
    DWORD index = TlsAlloc();
    TlsFree(index);
    return index;
}

// The process's private committed memory (heaps, stacks, VirtualAlloc), walked region by
// region: the system's commit counters read 0 under Wine.
long long committed_bytes()
{
    long long total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (auto at = static_cast<const char*>(nullptr); VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += static_cast<long long>(region.RegionSize);
    }
    return total;
}

// A first cycle lets the system DLLs take what they keep for the process.
template <typename Cycle>
void expect_nothing_left_behind(Cycle cycle, int cycles = load_cycles, long long bytes_per_cycle = bytes_per_load)
{
    cycle();
    const DWORD index = lowest_free_tls_index();
    const long long memory = committed_bytes();
    for (int k = 1; k <= cycles; ++k) {
        cycle();
        if (k % 100 == 0) {
            ASSERT_EQ(lowest_free_tls_index(), index) << "a TLS index stays behind; " << k << " cycles";
        }
    }
    const long long growth = committed_bytes() - memory;
    std::printf("committed memory after %d cycles: %+lld KiB\n", cycles, growth / 1024);
    EXPECT_LT(growth, cycles * bytes_per_cycle + growth_step);
}

// Runs each function on a thread of its own, in a single-threaded apartment of its own,
// all at once, and waits for them to end.
void on_threads(const std::vector<std::function<void()>>& work)
{
    // The start line is the system's event: the runtime's std::latch here can miss its
    // wake-up and leave a thread waiting for ever.
    HANDLE start = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<std::size_t> waiting{work.size()};
    std::vector<std::thread> threads;
    for (const auto& job : work)
        threads.emplace_back([&] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            if (--waiting == 0)
                SetEvent(start);
            WaitForSingleObject(start, INFINITE);
            job();
            CoUninitialize();
        });
    for (std::thread& thread : threads)
        thread.join();
    CloseHandle(start);
}

// Calls that load the type information, bind the scanner library and raise an error.
void use(_Clicker* clicker)
{
    EXPECT_NE(dispid_of(clicker, L"alldata"), DISPID_UNKNOWN);
    EXPECT_EQ(clicker->close_clicker(), S_OK) << "reaches csp2Restore";
    OwnedVariant port{v_text(L"not a port")};
    clicker->put_startport(&port);
    EXPECT_EQ(clicker->getdate(), type_mismatch);
}

template <typename F>
F entry(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

TEST(OwnProcess, WithoutTheScannerLibraryOnlyScannerMembersFail)
{
    ASSERT_EQ(GetModuleHandleW(L"csp2.dll"), nullptr) << "runs before anything loads csp2.dll";
    // A copy of the server in a folder of its own, with no csp2.DLL beside it.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder = std::wstring(temp) + L"qmx-no-library";
    CreateDirectoryW(folder.c_str(), nullptr);
    std::wstring copy = folder + L"\\QMXClicker.dll";
    ASSERT_TRUE(CopyFileW(server_path().c_str(), copy.c_str(), FALSE));
    {
        ServerDll lonely(copy);
        ComPtr<_Clicker> c = lonely.create();
        ASSERT_TRUE(c);
        BSTR hello = nullptr;
        EXPECT_EQ(c->get_hello(&hello), S_OK);
        SysFreeString(hello);
        EXPECT_EQ(c->open_clicker(), file_not_found);
        const std::wstring searched = L"File not found: csp2.DLL, looked for in this order: " + folder + L"; ";
        EXPECT_EQ(error_info_description().substr(0, searched.size()), searched) << "the server's own folder first";
        VARIANT all;
        VariantInit(&all);
        EXPECT_EQ(c->get_alldata(&all), file_not_found);
        EXPECT_EQ(V_VT(&all), VT_EMPTY);
        EXPECT_EQ(c->close_clicker(), file_not_found);
    }
}

TEST(OwnProcess, TheServerLoadedAgainAndAgainLeavesNothingBehind)
{
    expect_nothing_left_behind([] {
        ServerDll server(server_path());
        ComPtr<_Clicker> clicker = server.create();
        ASSERT_TRUE(clicker);
        use(clicker.get());
        clicker.reset();
        EXPECT_EQ(server.can_unload_now(), S_OK);
    });
}

// Two threads use the server, each with its own object in its own apartment, and end;
// a third frees it. Their per-thread runtime data goes with the DLL.
TEST(OwnProcess, ThreadsThatUsedTheServerAndAThirdThatFreesItLeaveNothingBehind)
{
    expect_nothing_left_behind(
        [] {
            auto server = std::make_unique<ServerDll>(server_path());
            auto member_calls = [&] {
                ComPtr<_Clicker> clicker = server->create();
                ASSERT_TRUE(clicker);
                use(clicker.get());
            };
            on_threads({member_calls, member_calls});
            std::thread([&] {
                EXPECT_EQ(server->can_unload_now(), S_OK);
                server.reset();
            }).join();
        },
        load_cycles, 3 * bytes_per_load); // Wine keeps some for each thread
}

// Each first call of a new load (type information, library binding) made by several
// threads at once.
TEST(OwnProcess, FirstCallsFromSeveralApartmentsAtOnce)
{
    for (int round = 0; round < 10; ++round) {
        ServerDll server(server_path());
        std::vector<std::function<void()>> work(4, [&] {
            ComPtr<_Clicker> clicker = server.create();
            ASSERT_TRUE(clicker);
            use(clicker.get());
            BSTR hello = nullptr;
            EXPECT_EQ(clicker->get_hello(&hello), S_OK);
            SysFreeString(hello);
        });
        on_threads(work);
    }
}

TEST(OwnProcess, TheSimulatedLibraryLoadedAgainAndAgainLeavesNothingBehind)
{
    // A copy of its own, whose first load comes in the cycles whatever the server loaded.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring copy = std::wstring(temp) + L"qmx-cycle-csp2.dll";
    ASSERT_TRUE(CopyFileW((server_folder() + L"\\csp2.dll").c_str(), copy.c_str(), FALSE));
    expect_nothing_left_behind([&] {
        HMODULE library = LoadLibraryW(copy.c_str());
        ASSERT_NE(library, nullptr);
        EXPECT_EQ(entry<long(WINAPI*)(long)>(library, "csp2Init")(3), 0);
        EXPECT_EQ(entry<long(WINAPI*)()>(library, "csp2ReadData")(), 6);
        EXPECT_EQ(entry<long(WINAPI*)()>(library, "csp2Restore")(), 0);
        FreeLibrary(library);
    });
}

} // namespace
} // namespace qmx::test
