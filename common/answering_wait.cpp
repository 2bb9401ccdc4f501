#include "answering_wait.h"

#include <memory>

#include "host_window.h"
#include "win_types.h"

namespace {

// The helper owns its copy of the work, so that one that overruns its bound keeps it.
DWORD WINAPI WorkMain(LPVOID context) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(context));
    (*work)();
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
    auto job = std::make_unique<std::function<void()>>(work);
    UniqueHandle thread(CreateThread(nullptr, 0, &WorkMain, job.get(), 0, nullptr));
    if (!thread) {
        (*job)();
        return true;
    }
    job.release();  // the helper's now
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - start;
        if (spent >= boundMs) {
            return false;
        }
        HANDLE handle = thread.Get();
        DWORD result = MsgWaitForMultipleObjectsEx(1, &handle, boundMs - spent, QS_ALLINPUT,
                                                   MWMO_INPUTAVAILABLE);
        if (result == WAIT_OBJECT_0) {
            return true;
        }
        AnswerMessages();
    }
}
