#include "lib/run_log.h"

#include "lib/system.h"
#include "lib/text.h"

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <cstdlib>
#include <deque>

namespace qmx::tool {

namespace {

constexpr std::size_t field_count = 9;

std::string field(std::wstring_view text)
{
    std::string bytes = utf8(text);
    std::replace_if(bytes.begin(), bytes.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
    return bytes;
}

std::optional<int> number(const std::string& text)
{
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::atoi(text.c_str());
}

std::wstring system_reason(const std::wstring& what, DWORD code)
{
    return what + L": " + system_message(code);
}

// Every missing folder on the way to path's own.
void create_folders(const std::wstring& file)
{
    const std::wstring folder = folder_of(file);
    if (folder.empty() || GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES)
        return;
    create_folders(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
}

// One log per path, one writer at a time, across processes: the rotation must not race
// another process's append (two renames would drop the first one's lines).
std::wstring mutex_name(const std::wstring& path)
{
    std::wstring full(MAX_PATH * 4, L'\0');
    const DWORD n = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    full.resize(n > 0 && n < full.size() ? n : 0);
    if (full.empty())
        full = path;
    CharLowerBuffW(full.data(), static_cast<DWORD>(full.size()));
    unsigned long long hash = 14695981039346656037ull; // FNV-1a: kernel object names exclude backslashes
    for (wchar_t c : full)
        hash = (hash ^ c) * 1099511628211ull;
    wchar_t name[64];
    swprintf(name, 64, L"Local\\QMXClicker.RunLog.%016llx", hash);
    return name;
}

class LogLock {
public:
    explicit LogLock(const std::wstring& path) : mutex_(CreateMutexW(nullptr, FALSE, mutex_name(path).c_str()))
    {
        // A writer that hangs must not stop the run: after the wait the line goes in anyway.
        if (mutex_) {
            const DWORD r = WaitForSingleObject(mutex_, 10000);
            held_ = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
        }
    }
    ~LogLock()
    {
        if (held_)
            ReleaseMutex(mutex_);
        if (mutex_)
            CloseHandle(mutex_);
    }
    LogLock(const LogLock&) = delete;
    LogLock& operator=(const LogLock&) = delete;

private:
    HANDLE mutex_;
    bool held_ = false;
};

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string read_all(const std::wstring& path)
{
    std::string bytes;
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(h);
    return bytes;
}

} // namespace

std::wstring default_run_log()
{
    PWSTR folder = nullptr;
    std::wstring path;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &folder)))
        path = std::wstring(folder) + L"\\QMXClicker\\qmxclicker.log";
    CoTaskMemFree(folder);
    return path;
}

std::string format_run(const RunRecord& r)
{
    const std::wstring fields[field_count] = {
        iso_time(r.time, L' '),
        std::to_wstring(r.exit_code),
        r.port > 0 ? std::to_wstring(r.port) : L"",
        r.scanner,
        r.barcodes ? std::to_wstring(*r.barcodes) : L"",
        r.output,
        r.archive,
        r.command_line,
        r.message,
    };
    std::string line;
    for (std::size_t i = 0; i < field_count; ++i)
        line += (i ? "\t" : "") + field(fields[i]);
    return line;
}

std::optional<RunRecord> parse_run(const std::string& line)
{
    std::vector<std::string> f;
    std::size_t at = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', at);
        f.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
        if (tab == std::string::npos)
            break;
        at = tab + 1;
    }
    if (f.size() != field_count)
        return std::nullopt;
    RunRecord r;
    const std::optional<double> time = read_iso_time(from_utf8(f[0]));
    const std::optional<int> exit_code = number(f[1]);
    if (!time || !exit_code || (!f[2].empty() && !number(f[2])) || (!f[4].empty() && !number(f[4])))
        return std::nullopt;
    r.time = *time;
    r.exit_code = *exit_code;
    r.port = f[2].empty() ? 0 : *number(f[2]);
    r.scanner = from_utf8(f[3]);
    r.barcodes = f[4].empty() ? std::nullopt : number(f[4]);
    r.output = from_utf8(f[5]);
    r.archive = from_utf8(f[6]);
    r.command_line = from_utf8(f[7]);
    r.message = from_utf8(f[8]);
    return r;
}

std::wstring append_run(const std::wstring& path, const RunRecord& r, std::uint64_t limit)
{
    const std::string line = format_run(r) + "\r\n";
    create_folders(path);
    LogLock lock(path);
    WIN32_FILE_ATTRIBUTE_DATA info{};
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &info)) {
        const std::uint64_t size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
        if (size > 0 && size + line.size() > limit &&
            !MoveFileExW(path.c_str(), (path + L".1").c_str(), MOVEFILE_REPLACE_EXISTING))
            return system_reason(L"cannot rotate the log " + path, GetLastError());
    }
    // Appending only: each write lands whole at the end, whoever else writes.
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | FILE_APPEND_DATA, share_all, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return system_reason(L"cannot open the log " + path, GetLastError());
    // A line cut short (a full disk, a process ended while writing) must not swallow this one.
    std::string bytes = line;
    char last = '\n';
    DWORD got = 0;
    if (SetFilePointerEx(h, LARGE_INTEGER{.QuadPart = -1}, nullptr, FILE_END) && ReadFile(h, &last, 1, &got, nullptr) &&
        got == 1 && last != '\n')
        bytes.insert(0, "\r\n");
    DWORD written = 0;
    const bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
    const DWORD error = GetLastError();
    CloseHandle(h);
    return ok ? L"" : system_reason(L"cannot write the log " + path, error);
}

std::vector<RunRecord> last_runs(const std::wstring& path, std::size_t count)
{
    std::deque<RunRecord> runs;
    for (const std::wstring& file : {path + L".1", path}) {
        const std::string bytes = read_all(file);
        std::size_t at = 0;
        while (at < bytes.size()) {
            std::size_t end = bytes.find('\n', at);
            if (end == std::string::npos)
                end = bytes.size();
            std::string line = bytes.substr(at, end - at);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (std::optional<RunRecord> r = parse_run(line)) {
                runs.push_back(std::move(*r));
                if (runs.size() > count)
                    runs.pop_front();
            }
            at = end + 1;
        }
    }
    return {runs.begin(), runs.end()};
}

} // namespace qmx::tool
