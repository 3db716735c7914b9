// The server against the simulated scanner's built-in contents: the download compared
// field by field with what the scanner holds, and maintenance seen in its call log.
#include "com_host.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>

namespace qmx::test {
namespace {

struct Held {
    const wchar_t* barcode;
    short code_type;
    const wchar_t* scanned; // yyyymmddhhnnss
};

// The simulator's built-in scanner; the fourth scan has no seconds recorded.
const Held held[] = {
    {L"2001234567893", 10, L"20261130081205"}, {L"QMX-2026-0042", 20, L"20261130081341"},
    {L"SHELF-A17", 30, L"20261202140217"},     {L"2900001234566", 10, L"20261204104700"},
    {L"lot:7731/b", 20, L"20261207163052"},    {L"2047110003581", 10, L"20261207163109"},
};

std::wstring padded(const std::wstring& text, std::size_t width)
{
    return text + std::wstring(width > text.size() ? width - text.size() : 0, L' ');
}

std::wstring date_digits(DATE value)
{
    SYSTEMTIME t{};
    VariantTimeToSystemTime(value, &t);
    wchar_t text[20];
    swprintf(text, 20, L"%04u%02u%02u%02u%02u%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

// This process's debug output, read as a debug viewer reads it (DBWIN_BUFFER), one line
// per OutputDebugString. Only one reader can be on the machine at a time.
class DebugOutput {
public:
    DebugOutput()
    {
        buffer_ready_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
        taken_ = GetLastError() == ERROR_ALREADY_EXISTS;
        data_ready_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
        mapping_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096, L"DBWIN_BUFFER");
        view_ = static_cast<const char*>(MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, 4096));
        if (!taken_ && view_)
            reader_ = CreateThread(nullptr, 0, read, this, 0, nullptr);
    }
    ~DebugOutput()
    {
        stop();
        if (view_)
            UnmapViewOfFile(view_);
        for (HANDLE h : {mapping_, data_ready_, buffer_ready_})
            if (h)
                CloseHandle(h);
    }
    DebugOutput(const DebugOutput&) = delete;
    DebugOutput& operator=(const DebugOutput&) = delete;

    bool listening() const { return reader_ != nullptr; }
    // Every line so far, once the last one has been read.
    std::vector<std::string> stop()
    {
        if (reader_) {
            stopping_ = true;
            WaitForSingleObject(reader_, INFINITE);
            CloseHandle(reader_);
            reader_ = nullptr;
        }
        return lines_;
    }

private:
    static DWORD WINAPI read(void* self)
    {
        auto& out = *static_cast<DebugOutput*>(self);
        const DWORD me = GetCurrentProcessId();
        for (;;) {
            SetEvent(out.buffer_ready_);
            if (WaitForSingleObject(out.data_ready_, 200) != WAIT_OBJECT_0) {
                if (out.stopping_)
                    return 0;
                continue;
            }
            DWORD pid;
            std::memcpy(&pid, out.view_, sizeof pid);
            std::string line(out.view_ + sizeof pid, strnlen(out.view_ + sizeof pid, 4096 - sizeof pid));
            if (pid == me) {
                while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
                    line.pop_back();
                out.lines_.push_back(line);
            }
        }
    }

    HANDLE buffer_ready_ = nullptr, data_ready_ = nullptr, mapping_ = nullptr, reader_ = nullptr;
    const char* view_ = nullptr;
    bool taken_ = false;
    std::atomic<bool> stopping_{false};
    std::vector<std::string> lines_;
};

class Download : public ServerSuite {
protected:
    void SetUp() override
    {
        use_scenario("");
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        log_path = std::wstring(temp) + L"qmx-com-calls-" + std::to_wstring(GetCurrentProcessId()) + L".log";
        DeleteFileW(log_path.c_str());
        SetEnvironmentVariableW(L"QMX_SIM_LOG", log_path.c_str());
        clicker = dll->create();
        ASSERT_TRUE(clicker);
        VARIANT port = v_i2(3);
        ASSERT_EQ(clicker->put_startport(&port), S_OK);
    }
    void TearDown() override
    {
        clicker.reset();
        SetEnvironmentVariableW(L"QMX_SIM_LOG", nullptr);
        restart_simulator();
        DeleteFileW(log_path.c_str());
    }

    std::vector<std::string> log_lines() const
    {
        std::ifstream in(log_path.c_str());
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && line[0] != '#')
                lines.push_back(line);
        return lines;
    }

    ComPtr<_Clicker> clicker;
    std::wstring log_path;
};

TEST_F(Download, TheUploadStringHoldsExactlyWhatTheScannerHolds)
{
    const std::wstring data = alldata(clicker.get());
    ASSERT_EQ(data.size(), 36u + 6 * 32);
    EXPECT_EQ(data.substr(0, 20), L"V0100126B3FA21904C7H");
    EXPECT_EQ(data.substr(20, 12).find_first_not_of(L"0123456789"), std::wstring::npos) << "clock digits";
    EXPECT_EQ(data.substr(32, 4), L"0006");
    for (int k = 1; k <= 6; ++k) {
        const Held& h = held[k - 1];
        wchar_t number[4];
        swprintf(number, 4, L"%03d", k);
        wchar_t type[8];
        swprintf(type, 8, L"%02d", h.code_type);
        EXPECT_EQ(data.substr(36 + 32 * (k - 1), 32), number + padded(h.barcode, 13) + type + h.scanned) << k;
    }

    short value = 0;
    VARIANT_BOOL open = VARIANT_FALSE;
    EXPECT_EQ(clicker->get_comport(&value), S_OK);
    EXPECT_EQ(value, 3);
    EXPECT_EQ(clicker->get_num_barcodes(&value), S_OK);
    EXPECT_EQ(value, 6);
    EXPECT_EQ(clicker->get_open_ok(&open), S_OK);
    EXPECT_EQ(open, VARIANT_TRUE);

    for (short k = 1; k <= 6; ++k) {
        const Held& h = held[k - 1];
        ASSERT_EQ(clicker->put_get_barcode(k), S_OK);
        OwnedVariant barcode, type, time;
        ASSERT_EQ(clicker->get_sbarcode(&barcode), S_OK);
        ASSERT_EQ(clicker->get_stype(&type), S_OK);
        ASSERT_EQ(clicker->get_stime(&time), S_OK);
        EXPECT_EQ(text_of(barcode), h.barcode);
        ASSERT_EQ(V_VT(&type), VT_I2);
        EXPECT_EQ(V_I2(&type), h.code_type);
        ASSERT_EQ(V_VT(&time), VT_DATE);
        EXPECT_EQ(date_digits(V_DATE(&time)), h.scanned);
    }
}

TEST_F(Download, TheCallsOfADownloadAndOfGetdate)
{
    alldata(clicker.get());
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 1u + 2 + 1 + 12 + 4);
    EXPECT_EQ(lines[0], "csp2Init 3 -> 0");
    EXPECT_EQ(lines[1], "csp2ReadData -> 6");
    EXPECT_EQ(lines[2], "csp2GetSystemStatus -> 0");
    EXPECT_EQ(lines[3], "csp2GetDeviceId 9 -> 0");
    EXPECT_EQ(lines[4], "csp2GetPacket 0 500 -> 19");
    EXPECT_EQ(lines[5].substr(0, 18), "csp2TimeStamp2Str ");
    EXPECT_EQ(std::vector<std::string>(lines.end() - 4, lines.end()),
              (std::vector<std::string>{"csp2WakeUp -> 0", "csp2GetTime -> 0", "csp2PowerDown -> 0", "csp2Restore -> 0"}));

    ASSERT_EQ(clicker->getdate(), S_OK);
    lines = log_lines();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end()),
              (std::vector<std::string>{"csp2Init 3 -> 0", "csp2WakeUp -> 0", "csp2GetTime -> 0", "csp2PowerDown -> 0",
                                        "csp2Restore -> 0"}));
}

TEST_F(Download, ASearchThatFindsNothingProbesSeventeenTimes)
{
    clicker.reset();
    use_scenario("port none\n");
    clicker = dll->create();
    VARIANT port = v_i2(7);
    ASSERT_EQ(clicker->put_startport(&port), S_OK);
    ASSERT_EQ(clicker->open_clicker(), S_OK);

    const std::vector<std::string> lines = log_lines();
    ASSERT_EQ(lines.size(), 17u);
    EXPECT_EQ(lines[0], "csp2Init 7 -> -1");
    for (int p = 0; p <= 15; ++p)
        EXPECT_EQ(lines[1 + p], "csp2Init " + std::to_string(p) + " -> -1");
    short comport = 0;
    EXPECT_EQ(clicker->get_comport(&comport), S_OK);
    EXPECT_EQ(comport, 999);
}

TEST_F(Download, EmptyScannerSetsTheClockThatTheNextReadingShows)
{
    BSTR clock = SysAllocString(L"301514071226");
    ASSERT_EQ(clicker->put_pnewdatetime(&clock), S_OK);
    SysFreeString(clock);
    ASSERT_EQ(clicker->EmptyScanner(), S_OK);
    ASSERT_EQ(clicker->getdate(), S_OK);

    const std::vector<std::string> lines = log_lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "csp2SetTime 30 15 14 7 12 26 -> 0"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "csp2ClearData -> 0"), lines.end());

    const std::wstring data = alldata(clicker.get());
    EXPECT_EQ(data.size(), 36u) << "a cleared scanner downloads no barcodes";
    EXPECT_EQ(data.substr(32, 4), L"0000");
    EXPECT_EQ(data.substr(24, 8), L"14071226") << "hours, day, month and year as set";
}

TEST_F(Download, AParameterListIsProgrammedOneConversationPerEntry)
{
    OwnedVariant list{v_text(L"0210052201")};
    ASSERT_EQ(clicker->put_newparams(&list), S_OK);
    ASSERT_EQ(clicker->reset_params(), S_OK);

    const std::vector<std::string> lines = log_lines();
    const std::vector<std::string> expected = {
        "csp2Init 3 -> 0", "csp2ClearData -> 0", "csp2Restore -> 0", "csp2SetDefaults -> 0",
        "csp2Init 3 -> 0", "csp2WakeUp -> 0", "csp2Interrogate -> 0",
        "csp2SetParam 10 05 00 20 20 20 20 20 20 20 20 2 -> 0", "csp2PowerDown -> 0", "csp2Restore -> 0",
        "csp2Init 3 -> 0", "csp2WakeUp -> 0", "csp2Interrogate -> 0",
        "csp2SetParam 22 01 00 20 20 20 20 20 20 20 20 2 -> 0", "csp2PowerDown -> 0", "csp2Restore -> 0",
    };
    EXPECT_EQ(lines, expected);
}

TEST_F(Download, EveryMemberAndLibraryCallIsInTheDebugOutput)
{
    DebugOutput output;
    if (!output.listening())
        GTEST_SKIP() << "another debug viewer is reading the debug output";
    alldata(clicker.get());
    std::vector<std::string> lines = output.stop();
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const std::string& l) {
                                   return l.rfind("QMXClicker: ", 0) != 0 ||
                                          l.rfind("QMXClicker: csp2.DLL in use: ", 0) == 0; // a suite's first call
                               }),
                lines.end());
    ASSERT_EQ(lines.size(), 13u);
    lines[8] = lines[8].substr(0, lines[8].find(" clock "));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "QMXClicker: alldata enter",
                         "QMXClicker: open_clicker enter",
                         "QMXClicker: csp2Init(3) -> 0",
                         "QMXClicker: csp2ReadData() -> 6",
                         "QMXClicker: csp2GetSystemStatus() -> 0",
                         "QMXClicker: csp2GetDeviceId(9) -> 0 id 00 12 6B 3F A2 19 04 C7 00",
                         "QMXClicker: packet loop: csp2GetPacket 6 calls, csp2TimeStamp2Str 6 calls, no failure",
                         "QMXClicker: csp2WakeUp() -> 0",
                         "QMXClicker: csp2GetTime() -> 0",
                         "QMXClicker: csp2PowerDown() -> 0",
                         "QMXClicker: csp2Restore() -> 0",
                         "QMXClicker: open_clicker -> 0x00000000",
                         "QMXClicker: alldata -> 0x00000000",
                     }));
}

} // namespace
} // namespace qmx::test
