// The host window as the three hosts create it, and how it ends a message loop.
#include <gtest/gtest.h>

#include <string>

#include <windows.h>

#include "controller_window.h"
#include "host_kind.h"
#include "host_window.h"
#include "platform.h"

namespace {

class HostWindow {
public:
    explicit HostWindow(HostKind kind) {
        CreateHostWindow(GetModuleHandleW(nullptr), TraitsOf(kind), 320, 180, handle);
    }
    ~HostWindow() {
        DestroyHostWindow(handle);
        MSG message;  // the quit request of the destruction must not reach a later loop
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }
    HWND handle = nullptr;
};

std::wstring ClassOf(HWND window) {
    wchar_t text[256] = {};
    GetClassNameW(window, text, 256);
    return text;
}

std::wstring TitleOf(HWND window) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

// Runs a message loop until WM_QUIT or the deadline; true with the quit's exit code.
bool RunLoopUntilQuit(DWORD timeoutMs, WPARAM& exitCode) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                exitCode = message.wParam;
                return true;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now),
                                  QS_ALLINPUT);
    }
}

// Activation is checked by the click test below, on Windows only: Wine activates a
// process's first visible window whatever its extended style says.
TEST(HostWindowTest, EachHostGetsATransparentNonActivatingPopupAtTheOrigin) {
    const HostKind kinds[] = {HostKind::Parlex, HostKind::Tivane, HostKind::Grelm};
    for (HostKind kind : kinds) {
        const HostTraits& traits = TraitsOf(kind);
        SCOPED_TRACE(traits.name);
        HostWindow window(kind);
        ASSERT_NE(window.handle, nullptr);

        EXPECT_EQ(ClassOf(window.handle), traits.windowClass);
        EXPECT_EQ(TitleOf(window.handle), traits.windowTitle);
        const LONG_PTR style = GetWindowLongPtrW(window.handle, GWL_STYLE);
        EXPECT_EQ(style & (WS_POPUP | WS_VISIBLE), WS_POPUP | WS_VISIBLE);
        EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_CHILD), 0);
        const LONG_PTR exStyle = GetWindowLongPtrW(window.handle, GWL_EXSTYLE);
        const LONG_PTR wanted = WS_EX_NOACTIVATE | WS_EX_LAYERED | WS_EX_TOOLWINDOW;
        EXPECT_EQ(exStyle & wanted, wanted);
        EXPECT_EQ(exStyle & WS_EX_APPWINDOW, 0) << "no taskbar button";

        COLORREF key = 1;
        BYTE alpha = 255;
        DWORD flags = 0;
        ASSERT_TRUE(GetLayeredWindowAttributes(window.handle, &key, &alpha, &flags));
        EXPECT_EQ(alpha, 0);
        EXPECT_EQ(flags, static_cast<DWORD>(LWA_ALPHA));

        RECT rect = {};
        GetWindowRect(window.handle, &rect);
        EXPECT_EQ(rect.left, 0);
        EXPECT_EQ(rect.top, 0);
        RECT client = {};
        GetClientRect(window.handle, &client);
        EXPECT_EQ(client.right - client.left, 320);
        EXPECT_EQ(client.bottom - client.top, 180);
        EXPECT_TRUE(IsWindowVisible(window.handle));

        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        ASSERT_TRUE(GetClassInfoExW(GetModuleHandleW(nullptr), traits.windowClass, &windowClass));
        EXPECT_EQ(windowClass.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
        EXPECT_EQ(windowClass.lpfnWndProc, &HostWindowProc);
        EXPECT_EQ(windowClass.hbrBackground, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        EXPECT_EQ(windowClass.hIcon, nullptr);

        // The background is never erased over a presented frame.
        HDC dc = GetDC(window.handle);
        EXPECT_EQ(SendMessageW(window.handle, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 1);
        ReleaseDC(window.handle, dc);
    }
}

TEST(HostWindowTest, CloseFromOutsideEndsTheMessageLoop) {
    HostWindow window(HostKind::Tivane);
    ASSERT_NE(window.handle, nullptr);
    PostMessageW(window.handle, WM_CLOSE, 0, 0);
    WPARAM exitCode = 99;
    ASSERT_TRUE(RunLoopUntilQuit(5000, exitCode));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_FALSE(IsWindow(window.handle));

    // The teardown's own destroy then finds it gone, which is harmless.
    DestroyHostWindow(window.handle);
    EXPECT_EQ(window.handle, nullptr);
    DestroyHostWindow(window.handle);
}

void PumpFor(DWORD milliseconds) {
    WPARAM ignored = 0;
    RunLoopUntilQuit(milliseconds, ignored);
}

// The foreground may only be taken by the process that had the last input: a key press
// of our own first makes it ours.
bool MakeForeground(HWND window) {
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = VK_MENU;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, keys, sizeof(INPUT));
    SetForegroundWindow(window);
    PumpFor(200);
    return GetForegroundWindow() == window;
}

bool ClickAt(POINT point) {
    INPUT clicks[2] = {};
    clicks[0].type = clicks[1].type = INPUT_MOUSE;
    clicks[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    clicks[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    return SetCursorPos(point.x, point.y) && SendInput(2, clicks, sizeof(INPUT)) == 2;
}

// As the hosts make it (fully transparent, so a click may fall through to what lies
// below) and made opaque, as a controller that shows the window might: either way the
// controller's window stays active and the host's never becomes the foreground.
TEST(HostWindowTest, ClickLeavesTheControllersWindowActive) {
    if (RunningUnderWine()) {
        GTEST_SKIP() << "needs Windows: Wine activates a process's first visible window "
                        "whatever its extended style says";
    }
    struct Case {
        const char* name;
        BYTE alpha;
    };
    const Case cases[] = {{"transparent, as created", 0}, {"made opaque", 255}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ControllerWindow controller;
        ASSERT_NE(controller.handle, nullptr);
        if (!MakeForeground(controller.handle)) {
            GTEST_SKIP() << "this session cannot make a window the foreground one "
                            "(no interactive desktop)";
        }
        HostWindow window(HostKind::Grelm);
        ASSERT_NE(window.handle, nullptr);
        SetLayeredWindowAttributes(window.handle, 0, c.alpha, LWA_ALPHA);
        SetWindowPos(window.handle, HWND_TOP, 0, 0, 0, 0, SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
        PumpFor(100);
        ASSERT_EQ(GetForegroundWindow(), controller.handle) << "showing the host took the focus";

        const POINT center = {160, 90};
        if (c.alpha == 255) {
            ASSERT_EQ(WindowFromPoint(center), window.handle) << "the click would miss the host";
        }
        if (!ClickAt(center)) {
            GTEST_SKIP() << "this session takes no synthesized input (no interactive desktop)";
        }
        PumpFor(300);
        EXPECT_EQ(GetForegroundWindow(), controller.handle);
        EXPECT_NE(GetActiveWindow(), window.handle);
    }
}

}  // namespace
