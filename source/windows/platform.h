// The Windows implementations of the platform interfaces.
#pragma once

#include "core/platform/clock.h"
#include "core/platform/directory.h"
#include "core/platform/message_pump.h"

#include <string>
#include <windows.h>

namespace qmx {

class Win32Clock final : public Clock {
public:
    LocalTime local_time() override;
    std::int64_t monotonic_ms() override;
};

// Serves the calling thread's queue as a modal loop would. A WM_QUIT taken from the
// queue is posted again for the host's own loop, and no further message is dispatched
// by this pump.
class Win32MessagePump final : public MessagePump {
public:
    using WaitFunction = DWORD(WINAPI*)(DWORD count, const HANDLE* handles, DWORD timeout_ms, DWORD wake_mask,
                                        DWORD flags);

    // wait_function: MsgWaitForMultipleObjectsEx, or a stand-in for tests.
    explicit Win32MessagePump(WaitFunction wait_function = MsgWaitForMultipleObjectsEx) : wait_(wait_function) {}

    void dispatch_pending() override;
    void wait(std::int64_t timeout_ms) override;

private:
    WaitFunction wait_;
    bool quit_seen_ = false;
};

class Win32Directory final : public Directory {
public:
    std::unique_ptr<FileNames> list(std::u16string_view pattern) override;
};

// The full path of a loaded module (nullptr: the program), however long; empty on failure.
std::wstring module_file_name(HMODULE module);
// The folder part of a path, without the last separator.
std::wstring folder_of(const std::wstring& path);

} // namespace qmx
