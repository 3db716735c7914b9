// The settle wait with the real clock and message queue: messages are dispatched, a quit
// request survives for the host's own loop, and the wait ends on time.
#include "core/clicker.h"
#include "windows/platform.h"
#include "core/scanner/settle_delay.h"
#include "support/fake_platform.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace qmx {
namespace {

constexpr UINT call_in = WM_APP + 1;
Clicker* target = nullptr;
int handled = 0;

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == call_in) {
        ++handled;
        if (target)
            target->put_get_barcode(static_cast<std::int16_t>(w)); // a host calling in mid-wait
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

class RealPump : public ::testing::Test {
protected:
    void SetUp() override
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = window_proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"qmx-pump-test";
        RegisterClassW(&wc);
        window = CreateWindowExW(0, L"qmx-pump-test", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(window, nullptr);
        handled = 0;
    }
    void TearDown() override
    {
        target = nullptr;
        DestroyWindow(window);
    }
    HWND window = nullptr;
};

TEST_F(RealPump, MessagesPostedBeforeTheWaitAreDispatchedDuringIt)
{
    test::FakePlatform fake;
    Win32Clock clock;
    Win32MessagePump pump;
    Clicker clicker{Platform{fake.scanner, clock, pump, fake.directory}};
    target = &clicker;
    PostMessageW(window, call_in, 42, 0);

    ULONGLONG start = GetTickCount64();
    SettleDelay(clock, pump);
    ULONGLONG elapsed = GetTickCount64() - start;

    EXPECT_EQ(handled, 1);
    EXPECT_EQ(clicker.get_get_barcode(), 42);
    EXPECT_GE(elapsed, 990u) << "the whole-second reading must advance by two";
}

TEST_F(RealPump, AQuitRequestIsLeftForTheHost)
{
    Win32Clock clock;
    Win32MessagePump pump;
    PostQuitMessage(7);
    PostMessageW(window, call_in, 0, 0);
    SettleDelay(clock, pump);

    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 7u);
}

int failed_waits = 0;

DWORD WINAPI failing_wait(DWORD, const HANDLE*, DWORD, DWORD, DWORD)
{
    ++failed_waits;
    SetLastError(ERROR_INVALID_PARAMETER);
    return WAIT_FAILED;
}

// The settle wait asks again until the second is over: a wait that returned at once
// would have it spin at full processor use for up to two seconds.
TEST(PumpWait, AFailingWaitSleepsOutTheTimeInstead)
{
    failed_waits = 0;
    Win32MessagePump pump(failing_wait);
    ULONGLONG start = GetTickCount64();
    pump.wait(300);
    ULONGLONG elapsed = GetTickCount64() - start;
    EXPECT_EQ(failed_waits, 1);
    EXPECT_GE(elapsed, 250u);
}

} // namespace
} // namespace qmx
