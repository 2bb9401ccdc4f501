// The worker thread shape the three receivers share: at most one worker at a time, a
// bounded stop, the thread handle closed exactly once, and pauses that a stop cuts short.
//
// Start and Stop may be called from the pipe reader thread and the main thread at once;
// an internal lock serialises them. The worker itself only reads running() and Pause().
//
// A worker that outlasts its stop wait is "stuck": it is waited for once, in full, and
// after that every Stop or Start only looks whether it has ended (no second wait), so a
// caller never waits more than one stop bound for the same worker. No second worker runs
// beside it: a Start meanwhile is deferred, and the stuck thread runs the body again as
// soon as its current run returns; a later Start replaces nothing but keeps it deferred,
// and a Stop cancels it. A worker whose body has returned counts as ended even before its
// thread has left the system's exit path, so a Start right after its last report is obeyed.
//
// The thread holds the keep-alive given to Start until it ends: an owner that cannot wait
// for a stuck worker hands it what the worker uses, instead of freeing it under it.
#pragma once

#include <atomic>
#include <memory>

#include "win_types.h"

class WorkerThread {
public:
    using Body = void (*)(void* context);

    enum class StartResult {
        Started,   // a new worker runs
        Deferred,  // the previous worker is stuck; the body runs once it has returned
        Failed,    // no thread could be made
    };

    explicit WorkerThread(unsigned stopWaitMs);
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Stops a running worker first, then runs body(context) on a new thread, or defers it
    // as above.
    StartResult Start(Body body, void* context, std::shared_ptr<void> keepAlive = nullptr);
    // The same, running owner->*Loop() (the receivers' ReceiveLoop).
    template <typename Owner, void (Owner::*Loop)()>
    StartResult Start(Owner* owner, std::shared_ptr<void> keepAlive = nullptr) {
        return Start([](void* self) { (static_cast<Owner*>(self)->*Loop)(); }, owner,
                     std::move(keepAlive));
    }

    // Clears the running flag, cancels a deferred start and waits at most stopWaitMs for
    // the worker (not at all when it already outlasted one such wait). True when no worker
    // is left.
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
    struct Run;  // one thread's life, shared with that thread

    static DWORD WINAPI ThreadMain(LPVOID run);
    // Worker thread, under the run's lock, when a deferred start is taken.
    void Rearm();
    // Under guard_: asks the worker to end and waits for it as the rules above say.
    bool EndWorker();
    // Under guard_: the thread has ended or its body has returned; forgets it then.
    bool Ended(DWORD waitMs);

    CriticalSection guard_;  // serialises Start, Stop and Stuck; held while waiting
    std::atomic<bool> running_{false};
    UniqueHandle wake_;         // manual-reset; set by Stop to end a pause
    UniqueHandle thread_;       // under guard_
    std::shared_ptr<Run> run_;  // under guard_: the thread's shared state
    unsigned stopWaitMs_;
};
