#include "host_window.h"

bool CreateHostWindow(HINSTANCE instance, const HostTraits& traits, int width, int height,
                      HWND& window) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = traits.windowClass;
    RegisterClassExW(&windowClass);  // a failure shows up as a failed creation

    // Made hidden and shown below without activation, which gives it WS_VISIBLE all the
    // same: Wine activates a process's first window made visible by CreateWindowExW,
    // whatever WS_EX_NOACTIVATE says, and a window manager then takes it as an application
    // window of its own (one maximised it to the whole screen and gave it the focus).
    window = CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_LAYERED | WS_EX_TOOLWINDOW,
                             traits.windowClass, traits.windowTitle, WS_POPUP, 0, 0, width, height,
                             nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        GetLastError();
        return false;
    }
    SetLayeredWindowAttributes(window, 0, 0, LWA_ALPHA);
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    return true;
}

void DestroyHostWindow(HWND& window) {
    if (window != nullptr) {
        DestroyWindow(window);  // fails harmlessly when destroyed from outside already
        window = nullptr;
    }
}

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_ERASEBKGND:
            return 1;  // never paint over the presented frame
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}
