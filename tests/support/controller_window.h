// An ordinary visible top-level window in the controlling application's place, for tests
// that click, embed or message a host window. Made and destroyed on the test's thread.
#pragma once

#include <windows.h>

class ControllerWindow {
public:
    ControllerWindow() {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"TestControllerWindow";
        RegisterClassExW(&windowClass);  // a second registration fails harmlessly
        handle = CreateWindowExW(0, windowClass.lpszClassName, L"Controller",
                                 WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 800, 600, nullptr, nullptr,
                                 windowClass.hInstance, nullptr);
    }
    ~ControllerWindow() {
        if (handle != nullptr) {
            DestroyWindow(handle);
        }
    }
    ControllerWindow(const ControllerWindow&) = delete;
    ControllerWindow& operator=(const ControllerWindow&) = delete;

    HWND handle = nullptr;
};
