// The worker thread shape the three receivers share: at most one worker at a time, a
// bounded stop, the thread handle closed exactly once, and pauses that a stop cuts short.
//
// Start and Stop may be called from the pipe reader thread and the main thread at once;
// an internal lock serialises them. The worker itself only reads running() and Pause().
//
// A worker that outlasts its stop wait is "stuck": it is waited for once, in full, and
// after that every Stop or Start only looks whether it has ended (no second wait), so a
// caller never waits more than one stop bound for the same worker. No second worker runs
// beside it.
#pragma once

#include <atomic>

#include "win_types.h"

class WorkerThread {
public:
    using Body = void (*)(void* context);

    explicit WorkerThread(unsigned stopWaitMs);
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Stops a running worker first, then runs body(context) on a new thread. False when
    // the thread cannot be created or when the previous worker has not ended (Stuck()
    // then tells the two apart).
    bool Start(Body body, void* context);
    // The same, running owner->*Loop() (the receivers' ReceiveLoop).
    template <typename Owner, void (Owner::*Loop)()>
    bool Start(Owner* owner) {
        return Start([](void* self) { (static_cast<Owner*>(self)->*Loop)(); }, owner);
    }

    // Clears the running flag and waits at most stopWaitMs for the worker (not at all
    // when it already outlasted one such wait). True when no worker is left.
    bool Stop();

    // Worker side: the loop condition, and a sleep that ends early once Stop is called.
    // Pause returns running() after the wait.
    bool running() const { return running_.load(); }
    bool Pause(unsigned milliseconds);

    // True while a worker that outlasted its stop wait may still be running. Its owner
    // must then not release what the worker uses (library, device, itself).
    bool Stuck();

    unsigned stopWaitMs() const { return stopWaitMs_; }

private:
    static DWORD WINAPI ThreadMain(LPVOID self);
    // Under guard_: asks the worker to end and waits for it as the rules above say.
    bool EndWorker();

    CriticalSection guard_;
    std::atomic<bool> running_{false};
    UniqueHandle thread_;
    UniqueHandle wake_;       // manual-reset; set by Stop to end a pause
    bool outlasted_ = false;  // under guard_: thread_ outlasted a full stop wait
    Body body_ = nullptr;
    void* context_ = nullptr;
    unsigned stopWaitMs_;
};
