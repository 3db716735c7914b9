// The tools' library pieces for unattended use, under Wine: the run log, the scheduled
// task (what is handed to the Task Scheduler, and Wine's scheduler itself as far as it
// goes) and the reading of a parameter file's text.
#include "lib/component.h"
#include "lib/run_log.h"
#include "lib/schedule.h"
#include "lib/system.h"
#include "lib/text.h"
#include "windows/temp_folder.h"

#include <gtest/gtest.h>

#include <shellapi.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace qmx::tool {
namespace {

using test::TempFolder;

std::string file_bytes(const std::wstring& path)
{
    std::ifstream in(std::filesystem::path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// ---- the parameter file's text ----

struct DecodeCase {
    const char* what;
    std::string bytes;
    std::wstring text;   // expected, when read
    const wchar_t* error; // part of the refusal, when refused
};

TEST(DecodeTextFile, ReadsUtf8AndUtf16WithTheirMarksAndRefusesTheRest)
{
    const DecodeCase cases[] = {
        {"plain ASCII", "01A105", L"01A105", nullptr},
        {"UTF-8 without a mark", "01\xC3\xA9x\r\n", L"01\u00e9x\r\n", nullptr},
        {"UTF-8 with Notepad's mark", "\xEF\xBB\xBF" "0104FF\r\n", L"0104FF\r\n", nullptr},
        {"only the mark", "\xEF\xBB\xBF", L"", nullptr},
        {"empty", "", L"", nullptr},
        {"UTF-16 LE, PowerShell 5", std::string("\xFF\xFE" "0\0" "1\0" "\xE9\0" "\r\0\n\0", 12), L"01\u00e9\r\n", nullptr},
        {"UTF-16 BE", std::string("\xFE\xFF\0" "0\0" "1\x20\xAC", 8), L"01\u20ac", nullptr},
        {"UTF-16 LE surrogate pair", std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6), L"\U0001F600", nullptr},
        {"Windows-1252 byte", "01\xE9", L"", L"not UTF-8 text (byte 3)"},
        {"a byte past the mark", "\xEF\xBB\xBF" "0\xFF", L"", L"not UTF-8 text (byte 5)"},
        {"overlong UTF-8", "\xC0\xAF", L"", L"not UTF-8 text (byte 1)"},
        {"UTF-8 surrogate", "\xED\xA0\x80", L"", L"not UTF-8 text (byte 1)"},
        {"cut UTF-8 sequence", "ab\xE2\x82", L"", L"not UTF-8 text (byte 3)"},
        {"UTF-16 without a mark", std::string("0\0" "1\0", 4), L"", L"NUL character"},
        {"UTF-16 of odd length", std::string("\xFF\xFE" "0\0" "1", 5), L"", L"odd number of bytes"},
        {"UTF-16 lone trail surrogate", std::string("\xFF\xFE" "0\0\x00\xDC", 6), L"", L"lone surrogate (byte 5)"},
        {"UTF-16 lead surrogate at the end", std::string("\xFF\xFE\x3D\xD8", 4), L"", L"lone surrogate (byte 3)"},
        {"UTF-32 LE", std::string("\xFF\xFE\0\0" "0\0\0\0", 8), L"", L"UTF-32"},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.error) {
            EXPECT_EQ(decode_text_file(c.bytes, L"list.txt"), c.text);
            continue;
        }
        try {
            decode_text_file(c.bytes, L"list.txt");
            ADD_FAILURE() << "read";
        } catch (const ToolError& e) {
            EXPECT_EQ(e.outcome, Outcome::usage);
            EXPECT_EQ(e.message.rfind(L"list.txt: ", 0), 0u) << utf8(e.message);
            EXPECT_NE(e.message.find(c.error), std::wstring::npos) << utf8(e.message);
        }
    }
}

// ---- the run log ----

RunRecord record(int n)
{
    RunRecord r;
    r.time = 46366.75 + n / 86400.0; // 2026-12-10 18:00:00 and n seconds
    r.command_line = L"download --output \"C:\\Scans\\b-{date}.csv\" --clear";
    r.scanner = L"00126B3FA21904C7";
    r.port = 3;
    r.barcodes = 6;
    r.output = L"C:\\Scans\\b-2026-12-10.csv";
    r.archive = L"C:\\Users\\a\\AppData\\Local\\QMXClicker\\archive\\x.json";
    r.exit_code = 0;
    r.message = L"run " + std::to_wstring(n);
    return r;
}

TEST(RunLog, RecordsReadBackAsWritten)
{
    RunRecord none = record(1);
    none.scanner = none.output = none.archive = L"";
    none.port = 0;
    none.barcodes.reset();
    none.exit_code = 1;
    none.message = L"no scanner answered on ports 1 to 16";
    RunRecord odd = record(2);
    odd.exit_code = 4;
    odd.message = L"cannot write \"C:\\Scans\\b.csv\":\tthe file is in use\r\nclose it";
    odd.output = L"C:\\Scans\\caf\u00e9.csv";
    RunRecord zero = record(3);
    zero.barcodes = 0;

    const RunRecord cases[] = {record(0), none, odd, zero};
    for (const RunRecord& r : cases) {
        SCOPED_TRACE(utf8(r.message));
        const std::string line = format_run(r);
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos);
        const std::optional<RunRecord> back = parse_run(line);
        ASSERT_TRUE(back);
        RunRecord expected = r;
        if (&r == &cases[2])
            expected.message = L"cannot write \"C:\\Scans\\b.csv\": the file is in use  close it";
        EXPECT_EQ(*back, expected);
    }
    EXPECT_EQ(format_run(record(0)).substr(0, 24), "2026-12-10 18:00:00\t0\t3\t");

    for (const char* broken : {"", "2026-12-10 18:00:00\t0\t3", "yesterday\t0\t3\t\t\t\t\t\t", "2026-12-10 18:00:00\tx\t3\t\t\t\t\t\t",
                               "2026-12-10 18:00:00\t0\t3\t\t\t\t\t\t\textra"})
        EXPECT_FALSE(parse_run(broken)) << broken;
}

TEST(RunLog, AppendsCreatesItsFolderAndReadsTheLastRuns)
{
    TempFolder folder(L"run_log");
    const std::wstring log = folder.file(L"new\\deeper\\qmxclicker.log");
    for (int n = 0; n < 5; ++n)
        ASSERT_EQ(append_run(log, record(n)), L"");
    const std::vector<RunRecord> last = last_runs(log, 3);
    ASSERT_EQ(last.size(), 3u);
    EXPECT_EQ(last[0], record(2));
    EXPECT_EQ(last[2], record(4));
    EXPECT_EQ(last_runs(log, 10).size(), 5u);
    EXPECT_TRUE(last_runs(folder.file(L"none.log"), 10).empty());
    // A line cut short (a full disk, a killed process) is passed over, not misread.
    std::ofstream(std::filesystem::path(log), std::ios::app | std::ios::binary) << "2026-12-10 18:00:09\t0\t3\tcut";
    ASSERT_EQ(append_run(log, record(9)), L"");
    EXPECT_EQ(last_runs(log, 1).at(0), record(9));
    std::ofstream(std::filesystem::path(folder.file(L"plain"))) << "a file, not a folder";
    EXPECT_NE(append_run(folder.file(L"plain\\qmxclicker.log"), record(0)), L"");
}

TEST(RunLog, KeepsTheLastLinesWithinTheLimitWhileThreadsAppendAtOnce)
{
    TempFolder folder(L"run_log_rotate");
    const std::wstring log = folder.file(L"qmxclicker.log");
    const std::size_t line = format_run(record(0)).size() + 2 + 2; // runs up to 99 add a digit
    const std::uint64_t limit = 40 * line;
    constexpr int threads = 4, each = 60;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([&, t] {
            for (int n = 0; n < each; ++n) {
                RunRecord r = record(n);
                r.port = t + 1;
                EXPECT_EQ(append_run(log, r, limit), L"");
            }
        });
    for (std::thread& w : writers)
        w.join();
    const std::string current = file_bytes(log), rotated = file_bytes(log + L".1");
    for (const std::string& bytes : {current, rotated}) {
        EXPECT_LE(bytes.size(), limit);
        ASSERT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    }
    EXPECT_GT(rotated.size(), limit - line);
    // Every line whole, each writer's runs in order (a writer that finished early may have
    // had all of its lines rotated away since).
    const std::vector<RunRecord> runs = last_runs(log, 1000);
    EXPECT_EQ(runs.size(), static_cast<std::size_t>(std::count(current.begin(), current.end(), '\n') +
                                                    std::count(rotated.begin(), rotated.end(), '\n')));
    int last[threads + 1] = {-1, -1, -1, -1, -1};
    for (const RunRecord& r : runs) {
        ASSERT_GE(r.port, 1);
        const int n = std::stoi(r.message.substr(4));
        EXPECT_GT(n, last[r.port]) << "writer " << r.port;
        last[r.port] = n;
    }
    EXPECT_TRUE(std::any_of(std::begin(last) + 1, std::end(last), [](int n) { return n == each - 1; }))
        << "no writer's last run is in the log";
}

// ---- the scheduled task ----

std::vector<std::wstring> split_like_the_runtime(const std::wstring& line)
{
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW((L"qmxclicker.exe " + line).c_str(), &count);
    std::vector<std::wstring> arguments(argv + 1, argv + count);
    LocalFree(argv);
    return arguments;
}

TEST(Schedule, ArgumentsSplitBackAsGiven)
{
    const std::vector<std::vector<std::wstring>> cases = {
        {L"download", L"--output", L"C:\\Scans\\barcodes-{date}.csv", L"--clear", L"--set-clock"},
        {L"download", L"--output", L"C:\\My Scans\\b.csv"},
        {L"params", L"--file", L"C:\\lists\\"},              // a trailing backslash
        {L"params", L"--file", L"C:\\with blank\\"},         // ... inside quotes
        {L"params", L"01\"quoted\"", L"a\\\"b", L"\\\\"},    // quotes and backslashes before them
        {L"download", L"", L"--format", L"csv"},             // an empty argument
        {L"download", L"tab\there", L"caf\u00e9"},
    };
    for (const std::vector<std::wstring>& arguments : cases) {
        const std::wstring line = join_arguments(arguments);
        SCOPED_TRACE(utf8(line));
        EXPECT_EQ(split_like_the_runtime(line), arguments);
    }
    EXPECT_EQ(join_arguments({L"download", L"--clear"}), L"download --clear");
}

TEST(Schedule, TimesOfDay)
{
    const struct {
        const wchar_t* text;
        std::optional<std::pair<int, int>> time;
    } cases[] = {
        {L"18:00", std::pair{18, 0}}, {L"7:05", std::pair{7, 5}}, {L"00:00", std::pair{0, 0}}, {L"23:59", std::pair{23, 59}},
        {L"24:00", {}}, {L"12:60", {}}, {L"1800", {}}, {L"18:0", {}}, {L"018:00", {}}, {L"-1:00", {}}, {L"", {}}, {L"18:00 ", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(read_time_of_day(c.text), c.time) << utf8(c.text);
}

TEST(Schedule, TheTaskRunsThisProgramByItsFullPathAsThisUser)
{
    const std::vector<std::wstring> visit = {L"download", L"--output", L"C:\\My Scans\\b-{date}.csv", L"--clear"};
    const TaskDefinition daily = make_task(visit, TaskTrigger::daily, 18, 5);
    EXPECT_EQ(daily.name, L"QMXClicker download daily 1805");
    EXPECT_EQ(daily.program, module_path(nullptr));
    EXPECT_EQ(daily.program.substr(1, 2), L":\\");
    EXPECT_EQ(daily.folder, folder_of(daily.program));
    EXPECT_EQ(split_like_the_runtime(daily.arguments), visit);
    EXPECT_EQ(daily.trigger, TaskTrigger::daily);
    EXPECT_EQ(daily.hour, 18);
    EXPECT_EQ(daily.minute, 5);
    EXPECT_NE(daily.user.find(L'\\'), std::wstring::npos) << utf8(daily.user);

    const TaskDefinition logon = make_task({L"setclock"}, TaskTrigger::logon, 18, 5);
    EXPECT_EQ(logon.name, L"QMXClicker setclock at logon");
    EXPECT_EQ(logon.hour, 0);
    EXPECT_EQ(make_task(visit, TaskTrigger::logon, 0, 0, L"evening").name, L"QMXClicker evening");
    EXPECT_EQ(make_task(visit, TaskTrigger::logon, 0, 0, L"QMXClicker evening").name, L"QMXClicker evening");
    for (const wchar_t* bad : {L"a/b", L"a:b", L"a\\b", L"a?", L"tab\t"}) {
        try {
            make_task(visit, TaskTrigger::daily, 1, 0, bad);
            ADD_FAILURE() << utf8(bad);
        } catch (const ToolError& e) {
            EXPECT_EQ(e.outcome, Outcome::usage);
        }
    }
}

// Wine 8's scheduler stores the task (C:\windows\system32\tasks\NAME) without its actions
// and triggers: what it keeps is checked; what it drops is checked where it is kept.
TEST(Schedule, TheSystemSchedulerCreatesListsAndRemovesTheTask)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    try {
        const std::unique_ptr<TaskService> service = system_task_service();
        const TaskDefinition task = make_task({L"download", L"--output", L"C:\\Scans\\b.csv"}, TaskTrigger::daily, 18, 0,
                                              L"test evening");
        wchar_t windows[MAX_PATH];
        GetWindowsDirectoryW(windows, MAX_PATH);
        const std::wstring stored = std::wstring(windows) + L"\\system32\\tasks\\" + task.name;

        service->create(task);
        service->create(task); // again: replaced, not doubled
        EXPECT_NE(GetFileAttributesW(stored.c_str()), INVALID_FILE_ATTRIBUTES);
        const std::optional<ScheduledTask> listed = service->find(task.name);
        ASSERT_TRUE(listed);
        EXPECT_EQ(listed->name, task.name);
        EXPECT_TRUE(listed->enabled);
        if (!listed->program.empty()) { // Windows: what was handed over comes back
            EXPECT_EQ(listed->program, task.program);
            EXPECT_EQ(listed->arguments, task.arguments);
        }
        if (!listed->trigger.empty()) {
            EXPECT_EQ(listed->trigger, L"daily at 18:00");
        }
        // The list holds it once where the scheduler can list (not Wine 8), or says it cannot.
        const auto listed_times = [&]() -> long {
            try {
                const std::vector<ScheduledTask> tasks = service->list();
                return std::count_if(tasks.begin(), tasks.end(), [&](const auto& t) { return t.name == task.name; });
            } catch (const ToolError& e) {
                EXPECT_EQ(e.outcome, Outcome::component);
                EXPECT_NE(e.message.find(L"cannot list its tasks"), std::wstring::npos) << utf8(e.message);
                return -1;
            }
        };
        const long before = listed_times();
        EXPECT_TRUE(before == 1 || before == -1) << before;

        service->remove(task.name);
        EXPECT_EQ(GetFileAttributesW(stored.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_FALSE(service->find(task.name));
        EXPECT_EQ(listed_times(), before == 1 ? 0 : -1);
        try {
            service->remove(task.name);
            ADD_FAILURE() << "removed twice";
        } catch (const ToolError& e) {
            EXPECT_EQ(e.outcome, Outcome::usage);
            EXPECT_NE(e.message.find(L"no scheduled task"), std::wstring::npos) << utf8(e.message);
        }
    } catch (const ToolError& e) {
        ADD_FAILURE() << utf8(e.message);
    }
    CoUninitialize();
}

} // namespace
} // namespace qmx::tool
