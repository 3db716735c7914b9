#include "lib/output_file.h"

#include "lib/component.h"
#include "lib/system.h"

#include <windows.h>

#include <objbase.h>

#include <algorithm>
#include <cwchar>
#include <utility>

namespace qmx::tool {

namespace {

[[noreturn]] void fail(const std::wstring& what, const std::wstring& path, DWORD error)
{
    throw ToolError{Outcome::output, what + L" " + path + L": " + system_message(error)};
}

struct Handle {
    HANDLE h;
    ~Handle()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};

// Unique across processes and PCs writing one shared folder: a process id alone is not.
std::wstring temporary_name(const std::wstring& path)
{
    GUID guid{};
    CoCreateGuid(&guid);
    wchar_t text[40];
    std::swprintf(text, 40, L".%08lx%04x%04x.tmp", static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3);
    return path + text;
}

} // namespace

void write_durably(const std::wstring& path, const std::string& bytes)
{
    const std::wstring temporary = temporary_name(path);
    {
        Handle file{CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                nullptr)};
        if (file.h == INVALID_HANDLE_VALUE)
            fail(L"cannot write", path, GetLastError());
        std::size_t done = 0;
        DWORD error = ERROR_SUCCESS;
        while (done < bytes.size() && error == ERROR_SUCCESS) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
            if (!WriteFile(file.h, bytes.data() + done, chunk, &written, nullptr) || written == 0)
                error = GetLastError();
            done += written;
        }
        if (error == ERROR_SUCCESS && !FlushFileBuffers(file.h))
            error = GetLastError();
        if (error != ERROR_SUCCESS) {
            CloseHandle(std::exchange(file.h, INVALID_HANDLE_VALUE));
            DeleteFileW(temporary.c_str());
            fail(L"cannot write", path, error);
        }
    }
    // WRITE_THROUGH: the call returns once the rename itself is on the disk.
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(temporary.c_str());
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED)
            throw ToolError{Outcome::output, L"cannot replace " + path + L": another program has it open (" +
                                                 system_message(error) +
                                                 L"); close it there, e.g. in the spreadsheet, and run again"};
        fail(L"cannot replace", path, error);
    }
}

std::optional<std::string> read_file(const std::wstring& path)
{
    Handle file{CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr)};
    if (file.h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND)
            return std::nullopt;
        fail(L"cannot read", path, error);
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.h, buffer, sizeof buffer, &got, nullptr))
            fail(L"cannot read", path, GetLastError());
        if (got == 0)
            return bytes;
        bytes.append(buffer, got);
    }
}

bool file_exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void create_folders(const std::wstring& folder)
{
    if (folder.empty() || file_exists(folder))
        return;
    const auto slash = folder.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 0 && folder[slash - 1] != L':' && folder[slash - 1] != L'\\')
        create_folders(folder.substr(0, slash));
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        fail(L"cannot create the folder", folder, GetLastError());
}

FileLock::FileLock(const std::wstring& path, unsigned wait_seconds)
{
    const std::wstring name = path + L".lock";
    for (ULONGLONG waited = 0, start = GetTickCount64();; waited = GetTickCount64() - start) {
        const HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h != INVALID_HANDLE_VALUE) {
            handle_ = h;
            return;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED)
            fail(L"cannot write", path, error);
        if (waited >= wait_seconds * 1000ull)
            throw ToolError{Outcome::busy, L"another visit is writing " + path + L" (it holds " + name +
                                               L"); nothing was changed, run again when it is done"};
        Sleep(200);
    }
}

FileLock::~FileLock()
{
    CloseHandle(handle_);
}

ScannerLock::ScannerLock(unsigned wait_seconds, const std::function<void(const std::wstring&)>& waiting)
{
    mutex_ = CreateMutexW(nullptr, FALSE, L"Global\\QMXClicker.Scanner");
    if (!mutex_)
        mutex_ = CreateMutexW(nullptr, FALSE, L"Local\\QMXClicker.Scanner");
    if (!mutex_)
        throw ToolError{Outcome::busy, L"cannot make the scanner's lock: " + system_message(GetLastError())};
    DWORD got = WaitForSingleObject(mutex_, 0);
    if (got == WAIT_TIMEOUT && wait_seconds > 0) {
        if (waiting)
            waiting(L"another visit is using the scanner; waiting up to " + std::to_wstring(wait_seconds) + L" s ...");
        got = WaitForSingleObject(mutex_, wait_seconds * 1000u);
    }
    if (got != WAIT_OBJECT_0 && got != WAIT_ABANDONED) {
        CloseHandle(mutex_);
        throw ToolError{Outcome::busy, L"another visit (the console tool, the window or a scheduled run) has been "
                                       L"using the scanner for " +
                                           std::to_wstring(wait_seconds) + L" s; nothing was done, run again later"};
    }
}

ScannerLock::~ScannerLock()
{
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
}

} // namespace qmx::tool
