// Waiting without leaving senders waiting. An application's event callback may hand each
// event to its user-interface thread with SendMessage, and that same thread may be the
// one that waits in the controller for the host's end: if the wait did not take the sent
// messages, the callback would wait for the waiter and the waiter for the callback. Any
// thread.
#pragma once

#include <windows.h>

// WaitForMultipleObjects(any) with `timeoutMs` (INFINITE allowed) that dispatches the
// messages other threads send to this thread's windows meanwhile. Posted messages and
// input stay queued for the application's own loop. Returns what the wait returned:
// WAIT_OBJECT_0 + i, WAIT_TIMEOUT or WAIT_FAILED.
DWORD WaitTakingSentMessages(DWORD count, const HANDLE* handles, DWORD timeoutMs);
