// The worker thread shape the three receivers share: at most one worker at a time, a
// bounded stop, and pauses that a stop cuts short. Win32-free: standard threads, a mutex
// and condition variables, so that the same code runs in the hosts and natively under the
// sanitizers.
//
// Start and Stop may be called from the pipe reader thread and the main thread at once;
// an internal lock serialises them. The worker itself only reads running() and Pause().
//
// A worker that outlasts its stop wait is "stuck": it is waited for once, in full, and
// after that every Stop or Start only looks whether it has ended (no second wait), so a
// caller never waits more than one stop bound for the same worker. No second worker runs
// beside it: a Start meanwhile is deferred, and the stuck thread runs the body again as
// soon as its current run returns; a later Start replaces the deferred body and context,
// and a Stop cancels it. A worker whose body has returned counts as ended even before its
// thread has left the system's exit path, so a Start right after its last report is obeyed.
//
// The thread holds the keep-alive given to Start until it ends: an owner that cannot wait
// for a stuck worker hands it what the worker uses, instead of freeing it under it.
//
// What the owner reports about the runs (RunReports) is told under the run's lock, where
// the deferred start and the end of a run are decided: so "busy" is said once for each run
// that holds a start back, and before that run's end is reported, and a run's end is
// reported before the start it held back begins.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

class RunReports {
public:
    virtual ~RunReports() = default;
    // A start was deferred behind a run that has not ended; once for each such run.
    virtual void StartDeferred() = 0;
    // The body has returned, before a deferred start is taken and before the worker counts
    // as ended.
    virtual void RunEnded() = 0;
};

class WorkerThread {
public:
    using Body = void (*)(void* context);

    enum class StartResult {
        Started,   // a new worker runs
        Deferred,  // the previous worker is stuck; the body runs once it has returned
        Failed,    // no thread could be made
    };

    // `reports` (none: nothing is reported) must outlive every run: the keep-alive given
    // to Start holds it when the owner may go before a stuck worker.
    explicit WorkerThread(unsigned stopWaitMs, RunReports* reports = nullptr);
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

    static void ThreadMain(std::shared_ptr<Run> run);
    // Worker thread, under the run's lock, when a deferred start is taken.
    void Rearm();
    // Under guard_, with the run's lock held: the running flag goes down and pauses end.
    void Disarm();
    // Under guard_: asks the worker to end and waits for it as the rules above say.
    bool EndWorker();
    // Under guard_: the body has returned for good within waitMs; forgets the run then.
    bool Ended(unsigned waitMs);

    std::mutex guard_;  // serialises Start, Stop and Stuck; held while waiting
    std::atomic<bool> running_{false};
    std::mutex pauseLock_;  // taken alone, only to wake a pause
    std::condition_variable pauseWake_;
    std::shared_ptr<Run> run_;  // under guard_: the thread's shared state
    unsigned stopWaitMs_;
    RunReports* reports_;
};
