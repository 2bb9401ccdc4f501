// Tells a view when the application's window that holds it moves, changes its size, its
// place in the z-order or its visibility, so that an owned host window stays over its
// rectangle. Wine sends no window events (SetWinEventHook hears nothing there), and a
// subclass can only be installed on the window's own thread, so this is a hook on that
// thread's messages (WH_CALLWNDPROCRET), which any thread of the process may install: one
// per thread, shared by every view on it.
//
// Threads: Watch and Unwatch from any thread. The callback runs on the window's thread,
// after its window procedure has handled the change; it must not call Watch or Unwatch.
#pragma once

#include <functional>
#include <memory>

#include <windows.h>

class ViewFollower {
public:
    struct Entry;
    using Token = std::shared_ptr<Entry>;

    // `changed` runs after every WM_WINDOWPOSCHANGED of `container` or of one of its
    // ancestors. Null when the hook cannot be installed.
    static Token Watch(HWND container, std::function<void()> changed);
    // No call of the callback runs or starts after this returns, except one on this
    // very thread that is running now (the callback itself may end the watch).
    static void Unwatch(Token& token);
};
