#include "worker_thread.h"

#include <utility>

// Shared by the thread and the WorkerThread that started it, so that the thread's last
// steps never touch an owner that may be gone. The lock is never held while waiting: the
// running flag, a deferred start and the end of a run change together under it, so a
// start is never lost between a run and the thread's end.
struct WorkerThread::Run {
    CriticalSection lock;
    WorkerThread* worker = nullptr;
    Body body = nullptr;              // under lock
    void* context = nullptr;          // under lock
    bool deferred = false;            // under lock: run the body again once it returns
    bool outlasted = false;           // under lock: the current run outlasted a full stop wait
    bool finished = false;            // under lock: the thread runs no body any more
    std::shared_ptr<void> keepAlive;  // taken by the thread when it begins
};

WorkerThread::WorkerThread(unsigned stopWaitMs)
    : wake_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), stopWaitMs_(stopWaitMs) {}

WorkerThread::~WorkerThread() {
    Stop();
}

DWORD WINAPI WorkerThread::ThreadMain(LPVOID param) {
    std::shared_ptr<Run> run;
    {
        std::unique_ptr<std::shared_ptr<Run>> handedOver(static_cast<std::shared_ptr<Run>*>(param));
        run = std::move(*handedOver);
    }
    std::shared_ptr<void> keepAlive = std::move(run->keepAlive);
    for (;;) {
        Body body = nullptr;
        void* context = nullptr;
        {
            ScopedLock lock(run->lock);
            body = run->body;
            context = run->context;
        }
        body(context);
        ScopedLock lock(run->lock);
        if (!run->deferred) {
            run->finished = true;
            break;
        }
        run->deferred = false;
        run->outlasted = false;  // a fresh run: a stop waits for it in full again
        run->worker->Rearm();
    }
    // The keep-alive goes first and may end the owner; the run goes last.
    keepAlive.reset();
    return 0;
}

void WorkerThread::Rearm() {
    if (wake_) {
        ResetEvent(wake_.Get());
    }
    running_.exchange(true);
}

bool WorkerThread::Ended(DWORD waitMs) {
    if (!run_) {
        return true;
    }
    auto finished = [this] {
        ScopedLock lock(run_->lock);
        return run_->finished;
    };
    if (!finished() && WaitForSingleObject(thread_.Get(), waitMs) != WAIT_OBJECT_0 && !finished()) {
        return false;
    }
    thread_.Reset();
    run_.reset();
    return true;
}

bool WorkerThread::EndWorker() {
    if (!run_) {
        return true;
    }
    bool outlasted = false;
    {
        ScopedLock lock(run_->lock);
        running_.exchange(false);
        run_->deferred = false;
        if (wake_) {
            SetEvent(wake_.Get());
        }
        outlasted = run_->outlasted;
    }
    if (Ended(outlasted ? 0 : stopWaitMs_)) {
        return true;
    }
    ScopedLock lock(run_->lock);
    run_->outlasted = true;
    return false;
}

WorkerThread::StartResult WorkerThread::Start(Body body, void* context,
                                              std::shared_ptr<void> keepAlive) {
    ScopedLock guard(guard_);
    if (!EndWorker()) {
        ScopedLock lock(run_->lock);
        if (!run_->finished) {
            // The stuck thread holds its keep-alive already; it runs this once it returns.
            run_->body = body;
            run_->context = context;
            run_->deferred = true;
            return StartResult::Deferred;
        }
    }
    Ended(0);  // a worker that finished while we looked is forgotten here
    auto run = std::make_shared<Run>();
    run->worker = this;
    run->body = body;
    run->context = context;
    run->keepAlive = std::move(keepAlive);
    if (wake_) {
        ResetEvent(wake_.Get());
    }
    running_.exchange(true);
    auto* handedOver = new std::shared_ptr<Run>(run);
    thread_.Reset(CreateThread(nullptr, 0, &WorkerThread::ThreadMain, handedOver, 0, nullptr));
    if (!thread_) {
        delete handedOver;
        running_.exchange(false);
        return StartResult::Failed;
    }
    run_ = std::move(run);
    return StartResult::Started;
}

bool WorkerThread::Stop() {
    ScopedLock guard(guard_);
    return EndWorker();
}

bool WorkerThread::Pause(unsigned milliseconds) {
    if (wake_) {
        WaitForSingleObject(wake_.Get(), milliseconds);
    } else {
        Sleep(milliseconds);
    }
    return running();
}

bool WorkerThread::Stuck() {
    ScopedLock guard(guard_);
    if (!run_) {
        return false;
    }
    bool outlasted = false;
    {
        ScopedLock lock(run_->lock);
        outlasted = run_->outlasted;
    }
    return outlasted && !Ended(0);
}
