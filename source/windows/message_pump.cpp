#include "windows/platform.h"

#include <windows.h>

namespace qmx {

void Win32MessagePump::dispatch_pending()
{
    if (quit_seen_)
        return;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(message.wParam));
            quit_seen_ = true;
            return;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

void Win32MessagePump::wait(std::int64_t timeout_ms)
{
    if (timeout_ms <= 0)
        return;
    // The host is quitting, or the wait itself failed: only the time is left to pass,
    // without the caller spinning on a wait that returns at once.
    if (quit_seen_ ||
        wait_(0, nullptr, static_cast<DWORD>(timeout_ms), QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_FAILED)
        Sleep(static_cast<DWORD>(timeout_ms));
}

} // namespace qmx
