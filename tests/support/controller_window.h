// Windows in the controlling application's place, for tests that click, embed, show or
// message a host window. Made and destroyed on the test's thread.
#pragma once

#include <windows.h>

// A window of class `className`, registered at its first use (a second registration fails
// harmlessly), painted in `background` unless that is CLR_INVALID.
inline HWND MakeTestWindow(const wchar_t* className, const wchar_t* title, DWORD style, int x,
                           int y, int width, int height, HWND parent = nullptr,
                           COLORREF background = CLR_INVALID, WNDPROC procedure = &DefWindowProcW) {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = background == CLR_INVALID ? nullptr : CreateSolidBrush(background);
    windowClass.lpszClassName = className;
    if (!RegisterClassExW(&windowClass) && windowClass.hbrBackground != nullptr) {
        DeleteObject(windowClass.hbrBackground);
    }
    return CreateWindowExW(0, className, title, style, x, y, width, height, parent, nullptr,
                           windowClass.hInstance, nullptr);
}

// An ordinary visible top-level window.
class ControllerWindow {
public:
    ControllerWindow()
        : handle(MakeTestWindow(L"TestControllerWindow", L"Controller",
                                WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600)) {}
    ~ControllerWindow() {
        if (handle != nullptr) {
            DestroyWindow(handle);
        }
    }
    ControllerWindow(const ControllerWindow&) = delete;
    ControllerWindow& operator=(const ControllerWindow&) = delete;

    HWND handle = nullptr;
};
