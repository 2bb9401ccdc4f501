// The host window: a borderless, non-activating, fully transparent popup without a
// taskbar button, the swap chain's output. Created, pumped and destroyed on the main
// thread; other threads only post to it.
#pragma once

#include <windows.h>

#include "host_kind.h"

// The frame notification, consumed by the message loop before dispatch.
constexpr UINT kFrameNotification = WM_USER + 1;
// The pipe reader's quit request, answered by the message loop with its own quit.
constexpr UINT kQuitRequest = WM_APP + 1;
// The controller's window_size command, taken to the main thread: wParam 1 keeps the
// window's size, 0 lets it follow the frames again.
constexpr UINT kWindowSizingRequest = WM_APP + 2;

bool CreateHostWindow(HINSTANCE instance, const HostTraits& traits, int width, int height,
                      HWND& window);
void DestroyHostWindow(HWND& window);
LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
