// Waiting on the main thread without going deaf. A controlling application that made the
// host window a child of its own window waits in every message it sends to it, and its
// input is joined to ours: while the main thread waits for threads to end in the teardown,
// it must go on answering. Main thread only.
#pragma once

#include <functional>

#include <windows.h>

// Runs `work` on a helper thread while the main thread dispatches what arrives for its
// windows; frame notifications and quit requests are dropped meanwhile. Returns true when
// the work ended within `boundMs`, false when it is still running (it then keeps running
// and keeps what it refers to; the caller must not release any of it). Runs the work
// inline when no thread can be made.
bool RunWhileAnswering(const std::function<void()>& work, DWORD boundMs);
