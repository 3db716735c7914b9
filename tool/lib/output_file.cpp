#include "lib/output_file.h"

#include "lib/component.h"
#include "lib/system.h"

#include <windows.h>

#include <algorithm>
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

} // namespace

void write_durably(const std::wstring& path, const std::string& bytes)
{
    const std::wstring temporary = path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp";
    {
        Handle file{CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                nullptr)};
        if (file.h == INVALID_HANDLE_VALUE)
            fail(L"cannot write", path, GetLastError());
        std::size_t done = 0;
        while (done < bytes.size()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
            if (!WriteFile(file.h, bytes.data() + done, chunk, &written, nullptr) || written == 0) {
                const DWORD error = GetLastError();
                CloseHandle(std::exchange(file.h, INVALID_HANDLE_VALUE));
                DeleteFileW(temporary.c_str());
                fail(L"cannot write", path, error);
            }
            done += written;
        }
        if (!FlushFileBuffers(file.h)) {
            const DWORD error = GetLastError();
            CloseHandle(std::exchange(file.h, INVALID_HANDLE_VALUE));
            DeleteFileW(temporary.c_str());
            fail(L"cannot write", path, error);
        }
    }
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        DeleteFileW(temporary.c_str());
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

} // namespace qmx::tool
