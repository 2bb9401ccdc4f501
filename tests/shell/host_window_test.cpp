// The host window as the three hosts create it, and how it ends a message loop.
#include <gtest/gtest.h>

#include <string>

#include <windows.h>

#include "host_kind.h"
#include "host_window.h"

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

// Activation is not checked: Wine activates a process's first visible window whatever
// its extended style says.
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

}  // namespace
