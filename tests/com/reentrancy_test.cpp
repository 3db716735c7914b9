// Host calls that arrive while a member waits: the settle waits dispatch the host's
// window messages, and a message handler may call into the same object or let go of it.
#include "com_host.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <functional>

namespace qmx::test {
namespace {

constexpr UINT host_message = WM_APP + 7;
std::function<void()> on_host_message;

LRESULT CALLBACK host_window(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == host_message) {
        if (on_host_message)
            on_host_message();
        return 0;
    }
    return DefWindowProcW(window, message, w, l);
}

class Reentrancy : public ServerSuite {
protected:
    void SetUp() override
    {
        use_scenario("");
        WNDCLASSW wc{};
        wc.lpfnWndProc = host_window;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"qmx-host-window";
        RegisterClassW(&wc);
        window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(window, nullptr);
    }
    void TearDown() override
    {
        on_host_message = nullptr;
        DestroyWindow(window);
    }

    // Posted before the call, so the member's first settle wait dispatches it.
    void post_host_message() { PostMessageW(window, host_message, 0, 0); }

    HWND window = nullptr;
};

TEST_F(Reentrancy, AHostLettingGoDuringAWaitDoesNotDestroyTheObjectUnderTheMember)
{
    ASSERT_EQ(dll->can_unload_now(), S_OK);
    _Clicker* clicker = dll->create().release(); // the host's only reference
    ASSERT_NE(clicker, nullptr);
    VARIANT port = v_i2(3);
    ASSERT_EQ(clicker->put_startport(&port), S_OK);

    bool released = false;
    on_host_message = [&] {
        clicker->Release();
        released = true;
        EXPECT_EQ(dll->can_unload_now(), S_FALSE) << "the running member still holds the object";
    };
    post_host_message();
    EXPECT_EQ(clicker->open_clicker(), S_OK);
    EXPECT_TRUE(released);
    EXPECT_EQ(dll->can_unload_now(), S_OK) << "released once the member returned";
}

TEST_F(Reentrancy, AlldataCalledAgainFromAWaitCompletesAndTheOuterCallFinishes)
{
    ComPtr<_Clicker> clicker = dll->create();
    VARIANT port = v_i2(3);
    ASSERT_EQ(clicker->put_startport(&port), S_OK);

    std::wstring inner;
    int calls = 0;
    on_host_message = [&] {
        if (calls++ > 0)
            return;
        inner = alldata(clicker.get());
    };
    post_host_message();
    const std::wstring outer = alldata(clicker.get());

    ASSERT_EQ(calls, 1);
    ASSERT_EQ(inner.size(), 36u + 6 * 32);
    ASSERT_EQ(outer.size(), inner.size());
    EXPECT_EQ(outer.substr(32), inner.substr(32)) << "the same count and records";
    EXPECT_EQ(inner.substr(19, 1), L"H");
    // The inner call released the port; the outer reading then finds a scanner that
    // writes nothing into the clock buffer: twelve zero digits with the flag H.
    EXPECT_EQ(outer.substr(19, 13), L"H000000000000");
    short comport = 0;
    EXPECT_EQ(clicker->get_comport(&comport), S_OK);
    EXPECT_EQ(comport, 3);
}

TEST_F(Reentrancy, ACallDuringEmptyScannersWaitSeesAndChangesTheFieldsAsTheyStand)
{
    ComPtr<_Clicker> clicker = dll->create();
    VARIANT port = v_i2(3);
    ASSERT_EQ(clicker->put_startport(&port), S_OK);
    on_host_message = [&] {
        OwnedVariant other{v_text(L"not a port")};
        EXPECT_EQ(clicker->put_startport(&other), S_OK);
        EXPECT_EQ(clicker->put_get_barcode(42), S_OK);
    };
    post_host_message();
    EXPECT_EQ(clicker->EmptyScanner(), S_OK) << "the port was converted before the wait";
    short entry = 0;
    EXPECT_EQ(clicker->get_get_barcode(&entry), S_OK);
    EXPECT_EQ(entry, 42);
    EXPECT_EQ(clicker->getdate(), type_mismatch) << "the changed port is seen by the next member";
}

} // namespace
} // namespace qmx::test
