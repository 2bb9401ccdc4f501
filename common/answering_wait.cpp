#include "answering_wait.h"

#include <memory>

#include "host_window.h"
#include "win_types.h"

namespace {

DWORD WINAPI WorkMain(LPVOID context) {
    (*static_cast<const std::function<void()>*>(context))();
    return 0;
}

void AnswerMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == kFrameNotification || message.message == kQuitRequest ||
            message.message == WM_QUIT || message.message == WM_TIMER) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

bool RunWhileAnswering(const std::function<void()>& work, DWORD boundMs) {
    // The helper may outlive this call when it overruns: it gets a copy of its own.
    auto* job = new std::function<void()>(work);
    UniqueHandle thread(CreateThread(nullptr, 0, &WorkMain, job, 0, nullptr));
    if (!thread) {
        std::unique_ptr<std::function<void()>> owned(job);
        (*owned)();
        return true;
    }
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= boundMs) {
            return false;  // `job` stays with the running helper
        }
        HANDLE handle = thread.Get();
        DWORD result = MsgWaitForMultipleObjectsEx(1, &handle, boundMs - spent, QS_ALLINPUT,
                                                   MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0) {
            delete job;
            return true;
        }
        AnswerMessages();
    }
}
