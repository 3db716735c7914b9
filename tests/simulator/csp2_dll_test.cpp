// The built csp2.dll as a host meets it: loaded by name through the component's binding,
// set up by the environment, and checked through its call log.
#include "core/clicker.h"
#include "windows/csp2_dll.h"
#include "support/fake_platform.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace qmx {
namespace {

const wchar_t* const variables[] = {L"QMX_SIM_SCENARIO", L"QMX_SIM_LOG", L"QMX_SIM_STATE"};

std::wstring widened(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::string text_of(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> lines_of(const std::wstring& path)
{
    std::vector<std::string> lines;
    std::istringstream in(text_of(path));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void write_file(const std::wstring& path, const std::string& content)
{
    std::ofstream(std::filesystem::path(path), std::ios::binary) << content;
}

// The library stays loaded from its first load on, and a binding uses a loaded csp2.dll as
// it is, so each placing of the library restarts the scanner from the environment then.
class SimulatorDll : public ::testing::Test {
protected:
    SimulatorDll()
    {
        for (const wchar_t* name : variables)
            SetEnvironmentVariableW(name, nullptr);
        SetEnvironmentVariableW(L"QMX_SIM_LOG", log.c_str());
    }
    ~SimulatorDll() override
    {
        for (const wchar_t* name : variables)
            SetEnvironmentVariableW(name, nullptr);
    }

    std::wstring place_library(const std::wstring& name)
    {
        folders.push_back(std::make_unique<test::TempFolder>(name));
        const std::wstring program = test::program_folder();
        const std::wstring built = program.substr(0, program.find_last_of(L"\\/")) + L"\\csp2.dll";
        EXPECT_TRUE(CopyFileW(built.c_str(), folders.back()->file(L"csp2.DLL").c_str(), FALSE)) << GetLastError();
        if (HMODULE loaded = GetModuleHandleW(L"csp2.dll"))
            reinterpret_cast<void(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(loaded, "qmxSimRestart")))();
        return folders.back()->path();
    }

    test::TempFolder files{L"sim-files"};
    std::wstring log = files.file(L"calls.log");
    std::vector<std::unique_ptr<test::TempFolder>> folders;
};

TEST_F(SimulatorDll, TheDefaultScannerAnswersOnPortThreeAndLogsEveryCall)
{
    Csp2Dll library(place_library(L"sim-default"));
    for (std::int32_t port : {0, 1, 2})
        EXPECT_EQ(library.csp2Init(port), -1);
    EXPECT_EQ(library.csp2Init(3), 0);
    EXPECT_EQ(library.csp2ReadData(), 6);
    EXPECT_EQ(library.csp2GetSystemStatus(), 0);

    DeviceIdBuffer id{};
    EXPECT_EQ(library.csp2GetDeviceId(id, 9), 0);
    EXPECT_EQ(id, (DeviceIdBuffer{0x00, 0x12, 0x6B, 0x3F, 0xA2, 0x19, 0x04, 0xC7, 0}));

    PacketBuffer packet{};
    EXPECT_EQ(library.csp2GetPacket(packet, 0, 500), 19);
    EXPECT_EQ(packet[0], 18);
    EXPECT_EQ(std::string(packet.begin() + 2, packet.begin() + 15), "2001234567893");
    TimeStampBytes stamp;
    std::copy_n(packet.begin() + 15, 4, stamp.begin());
    TimeStampText text{};
    EXPECT_EQ(library.csp2TimeStamp2Str(stamp, text, 30), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.data())), "11/30/26 08:12:05");

    ClockBytes clock{};
    EXPECT_EQ(library.csp2GetTime(clock), 0);
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_TRUE(clock[5] == now.wYear % 100 || clock[5] == (now.wYear + 99) % 100) << "the PC clock's year";
    EXPECT_TRUE(clock[4] >= 1 && clock[4] <= 12 && clock[3] >= 1 && clock[3] <= 31 && clock[0] < 60);
    ClockBytes wanted{30, 15, 14, 7, 12, 26};
    EXPECT_EQ(library.csp2SetTime(wanted), 0);
    ParamBuffer value{5, 0, ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    EXPECT_EQ(library.csp2SetParam(10, value, 2), 0);
    EXPECT_EQ(library.csp2Restore(), 0);
    EXPECT_EQ(library.csp2WakeUp(), -2) << "no port open";

    const std::string stamp_hex = [&] {
        char buffer[16];
        std::snprintf(buffer, sizeof buffer, "%02X %02X %02X %02X", stamp[0], stamp[1], stamp[2], stamp[3]);
        return std::string(buffer);
    }();
    EXPECT_EQ(lines_of(log), (std::vector<std::string>{
                                 "csp2Init 0 -> -1",
                                 "csp2Init 1 -> -1",
                                 "csp2Init 2 -> -1",
                                 "csp2Init 3 -> 0",
                                 "csp2ReadData -> 6",
                                 "csp2GetSystemStatus -> 0",
                                 "csp2GetDeviceId 9 -> 0",
                                 "csp2GetPacket 0 500 -> 19",
                                 "csp2TimeStamp2Str " + stamp_hex + " 30 -> 0",
                                 "csp2GetTime -> 0",
                                 "csp2SetTime 30 15 14 7 12 26 -> 0",
                                 "csp2SetParam 10 05 00 20 20 20 20 20 20 20 20 2 -> 0",
                                 "csp2Restore -> 0",
                                 "csp2WakeUp -> -2",
                             }));
}

TEST_F(SimulatorDll, AScenarioFileSetsPortsAndFaults)
{
    const std::wstring scenario = files.file(L"faults.txt");
    write_file(scenario, "port 5\ninit 2 0\nread-data 2 40000\nstatus 2 -1\n"
                         "barcode 10 2026-01-01 00:00:00 A\npackets-fail-from 0\nstamp-text 5/20/05 13:45:12\n");
    SetEnvironmentVariableW(L"QMX_SIM_SCENARIO", scenario.c_str());
    Csp2Dll library(place_library(L"sim-faults"));
    EXPECT_EQ(library.csp2Init(3), -1);
    EXPECT_EQ(library.csp2Init(2), 0);
    EXPECT_EQ(library.csp2ReadData(), 40000);
    EXPECT_EQ(library.csp2GetSystemStatus(), -1);
    EXPECT_EQ(library.csp2Init(5), 0);
    PacketBuffer packet{};
    EXPECT_EQ(library.csp2GetPacket(packet, 0, 500), -3);
    TimeStampText text{};
    EXPECT_EQ(library.csp2TimeStamp2Str(TimeStampBytes{}, text, 30), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.data())), "5/20/05 13:45:12");
}

TEST_F(SimulatorDll, AUnixPathIsTakenOnWinesRootDrive)
{
    if (GetFileAttributesW(L"Z:\\tmp") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no Unix root on drive Z:";
    const std::string name = "/tmp/qmx-sim-" + std::to_string(GetCurrentProcessId()) + ".txt";
    std::wstring windows_name = L"Z:" + widened(name);
    std::replace(windows_name.begin(), windows_name.end(), L'/', L'\\');
    write_file(windows_name, "port 6\n");
    SetEnvironmentVariableW(L"QMX_SIM_SCENARIO", widened(name).c_str());
    {
        Csp2Dll library(place_library(L"sim-unix"));
        EXPECT_EQ(library.csp2Init(3), -1);
        EXPECT_EQ(library.csp2Init(6), 0);
    }
    DeleteFileW(windows_name.c_str());
}

TEST_F(SimulatorDll, TheStateFileCarriesAClearToTheNextHostRun)
{
    const std::wstring state = files.file(L"state.txt");
    SetEnvironmentVariableW(L"QMX_SIM_STATE", state.c_str());
    {
        Csp2Dll first(place_library(L"sim-state-1"));
        EXPECT_EQ(first.csp2Init(3), 0);
        EXPECT_EQ(first.csp2ReadData(), 6);
        EXPECT_EQ(first.csp2ClearData(), 0);
        first.csp2Restore();
    }
    EXPECT_NE(text_of(state).find("clock offset"), std::string::npos);
    Csp2Dll second(place_library(L"sim-state-2"));
    EXPECT_EQ(second.csp2Init(3), 0);
    EXPECT_EQ(second.csp2ReadData(), 0);
}

TEST_F(SimulatorDll, ABadScenarioGivesAScannerThatAnswersNowhere)
{
    const std::wstring scenario = files.file(L"bad.txt");
    write_file(scenario, "port 3\nbogus 1\n");
    SetEnvironmentVariableW(L"QMX_SIM_SCENARIO", scenario.c_str());
    Csp2Dll library(place_library(L"sim-bad"));
    for (std::int32_t port = 0; port <= 15; ++port)
        EXPECT_EQ(library.csp2Init(port), -1) << port;
    const std::vector<std::string> lines = lines_of(log);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().substr(0, 2), "# ");
    EXPECT_NE(lines.front().find("line 2: unknown directive 'bogus'"), std::string::npos) << lines.front();
    EXPECT_EQ(lines.size(), 17u);
}

TEST_F(SimulatorDll, TheComponentDownloadsTheDefaultScanner)
{
    Csp2Dll library(place_library(L"sim-component"));
    test::FakeClock clock;
    test::CallLog waits;
    test::FakePump pump(waits, clock);
    test::FakeDirectory directory;
    Clicker clicker(Platform{library, clock, pump, directory});

    const std::u16string upload = clicker.get_alldata().text_value();
    EXPECT_EQ(clicker.get_comport(), 3);
    EXPECT_EQ(upload.substr(0, 20), u"V0100126B3FA21904C7H");
    EXPECT_EQ(upload.substr(32, 4), u"0006");
    EXPECT_EQ(upload.size(), 36u + 6 * 32);

    const std::vector<std::string> lines = lines_of(log);
    // Four probes, count, status, identity, a packet and its text for each barcode, clock.
    ASSERT_EQ(lines.size(), 4u + 2 + 1 + 6 * 2 + 4);
    EXPECT_EQ(lines[6], "csp2GetDeviceId 9 -> 0");
    EXPECT_EQ(lines[7], "csp2GetPacket 0 500 -> 19");
    EXPECT_EQ(lines[17], "csp2GetPacket 5 500 -> 19");
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{"csp2WakeUp -> 0", "csp2GetTime -> 0", "csp2PowerDown -> 0", "csp2Restore -> 0"}));
}

} // namespace
} // namespace qmx
