// The worker thread shape the three receivers share: at most one worker at a time, a
// bounded stop, the thread handle closed exactly once, and pauses that a stop cuts short.
//
// Start and Stop may be called from the pipe reader thread and the main thread at once;
// an internal lock serialises them. The worker itself only reads running() and Pause().
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
    // the thread cannot be created or when the previous worker outlasted its stop wait
    // twice (a second worker never runs beside it).
    bool Start(Body body, void* context);
    // The same, running owner->*Loop() (the receivers' ReceiveLoop).
    template <typename Owner, void (Owner::*Loop)()>
    bool Start(Owner* owner) {
        return Start([](void* self) { (static_cast<Owner*>(self)->*Loop)(); }, owner);
    }

    // Clears the running flag and waits at most stopWaitMs for the worker. A worker that
    // ended has its handle closed; one that did not is kept as stuck (see Stuck).
    void Stop();

    // Worker side: the loop condition, and a sleep that ends early once Stop is called.
    // Pause returns running() after the wait.
    bool running() const { return running_.load(); }
    bool Pause(unsigned milliseconds);

    // True while a worker that outlasted its stop wait may still be running. Its owner
    // must then not release what the worker uses (library, device, itself).
    bool Stuck();

private:
    static DWORD WINAPI ThreadMain(LPVOID self);
    bool WaitForExit(unsigned milliseconds);  // under guard_

    CriticalSection guard_;
    std::atomic<bool> running_{false};
    UniqueHandle thread_;
    UniqueHandle wake_;  // manual-reset; set by Stop to end a pause
    Body body_ = nullptr;
    void* context_ = nullptr;
    unsigned stopWaitMs_;
};
