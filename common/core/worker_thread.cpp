#include "worker_thread.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <utility>

#include "schedule_point.h"

// Shared by the thread and the WorkerThread that started it, so that the thread's last
// steps never touch an owner that may be gone. The lock is never held while the body runs:
// the running flag, a deferred start and the end of a run change together under it, so a
// start is never lost between a run and the thread's end.
struct WorkerThread::Run {
    std::mutex lock;
    std::condition_variable ended;  // signalled when `finished` is set
    WorkerThread* worker = nullptr;
    RunReports* reports = nullptr;
    Body body = nullptr;              // under lock
    void* context = nullptr;          // under lock
    bool deferred = false;            // under lock: run the body again once it returns
    bool outlasted = false;           // under lock: the current run outlasted a full stop wait
    bool deferralReported = false;    // under lock: the current run has held a start back
    bool finished = false;            // under lock: the thread runs no body any more
    std::shared_ptr<void> keepAlive;  // taken by the thread when it begins
};

WorkerThread::WorkerThread(unsigned stopWaitMs, RunReports* reports)
    : stopWaitMs_(stopWaitMs), reports_(reports) {}

WorkerThread::~WorkerThread() {
    Stop();
}

void WorkerThread::ThreadMain(std::shared_ptr<Run> run) {
    std::shared_ptr<void> keepAlive;
    {
        std::lock_guard<std::mutex> lock(run->lock);
        keepAlive = std::move(run->keepAlive);
    }
    for (;;) {
        Body body = nullptr;
        void* context = nullptr;
        {
            std::lock_guard<std::mutex> lock(run->lock);
            body = run->body;
            context = run->context;
        }
        body(context);
        schedule::Point("worker.body-returned");
        std::lock_guard<std::mutex> lock(run->lock);
        if (run->reports != nullptr) {
            run->reports->RunEnded();
        }
        if (!run->deferred) {
            run->finished = true;
            run->ended.notify_all();
            break;
        }
        run->deferred = false;
        run->outlasted = false;  // a fresh run: a stop waits for it in full again
        run->deferralReported = false;
        run->worker->Rearm();
    }
    // The keep-alive goes first and may end the owner; the run goes last.
    keepAlive.reset();
}

void WorkerThread::Rearm() {
    running_.store(true);
}

void WorkerThread::Disarm() {
    running_.store(false);
    // Through the pause's lock, so that a pause between its check and its wait still wakes.
    { std::lock_guard<std::mutex> wake(pauseLock_); }
    pauseWake_.notify_all();
}

bool WorkerThread::Ended(unsigned waitMs) {
    if (!run_) {
        return true;
    }
    {
        std::unique_lock<std::mutex> lock(run_->lock);
        if (!run_->ended.wait_for(lock, std::chrono::milliseconds(waitMs),
                                  [this] { return run_->finished; })) {
            return false;
        }
    }
    run_.reset();
    return true;
}

bool WorkerThread::EndWorker() {
    if (!run_) {
        return true;
    }
    bool outlasted = false;
    {
        std::lock_guard<std::mutex> lock(run_->lock);
        Disarm();
        run_->deferred = false;
        outlasted = run_->outlasted;
    }
    schedule::Point("worker.stop-asked");
    if (Ended(outlasted ? 0 : stopWaitMs_)) {
        return true;
    }
    std::lock_guard<std::mutex> lock(run_->lock);
    run_->outlasted = true;
    return false;
}

WorkerThread::StartResult WorkerThread::Start(Body body, void* context,
                                              std::shared_ptr<void> keepAlive) {
    std::lock_guard<std::mutex> guard(guard_);
    if (!EndWorker()) {
        schedule::Point("worker.start-deferring");
        std::lock_guard<std::mutex> lock(run_->lock);
        if (!run_->finished) {
            // The stuck thread holds its keep-alive already; it runs this once it returns.
            run_->body = body;
            run_->context = context;
            run_->deferred = true;
            if (!run_->deferralReported && run_->reports != nullptr) {
                run_->deferralReported = true;
                run_->reports->StartDeferred();
            }
            return StartResult::Deferred;
        }
    }
    Ended(0);  // a worker that finished while we looked is forgotten here
    auto run = std::make_shared<Run>();
    run->worker = this;
    run->reports = reports_;
    run->body = body;
    run->context = context;
    run->keepAlive = std::move(keepAlive);
    running_.store(true);
    try {
        std::thread(&WorkerThread::ThreadMain, run).detach();
    } catch (const std::system_error&) {
        running_.store(false);
        return StartResult::Failed;
    }
    run_ = std::move(run);
    return StartResult::Started;
}

bool WorkerThread::Stop() {
    std::lock_guard<std::mutex> guard(guard_);
    return EndWorker();
}

bool WorkerThread::Pause(unsigned milliseconds) {
    std::unique_lock<std::mutex> lock(pauseLock_);
    pauseWake_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                        [this] { return !running_.load(); });
    return running();
}

bool WorkerThread::Stuck() {
    std::lock_guard<std::mutex> guard(guard_);
    if (!run_) {
        return false;
    }
    bool outlasted = false;
    {
        std::lock_guard<std::mutex> lock(run_->lock);
        outlasted = run_->outlasted;
    }
    return outlasted && !Ended(0);
}
