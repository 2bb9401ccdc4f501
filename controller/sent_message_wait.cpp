#include "sent_message_wait.h"

DWORD WaitTakingSentMessages(DWORD count, const HANDLE* handles, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        // Dispatches every message sent to this thread so far and removes nothing else.
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        DWORD left = INFINITE;
        if (timeoutMs != INFINITE) {
            ULONGLONG spent = GetTickCount64() - start;
            left = spent >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - spent);
        }
        DWORD woken = MsgWaitForMultipleObjectsEx(count, handles, left, QS_SENDMESSAGE, 0);
        if (woken != WAIT_OBJECT_0 + count) {
            return woken;
        }
    }
}
