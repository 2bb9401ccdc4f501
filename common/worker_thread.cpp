#include "worker_thread.h"

WorkerThread::WorkerThread(unsigned stopWaitMs)
    : wake_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), stopWaitMs_(stopWaitMs) {}

WorkerThread::~WorkerThread() {
    Stop();
}

DWORD WINAPI WorkerThread::ThreadMain(LPVOID self) {
    auto* worker = static_cast<WorkerThread*>(self);
    worker->body_(worker->context_);
    return 0;
}

bool WorkerThread::EndWorker() {
    running_.exchange(false);
    if (wake_) {
        SetEvent(wake_.Get());
    }
    if (!thread_) {
        return true;
    }
    if (WaitForSingleObject(thread_.Get(), outlasted_ ? 0 : stopWaitMs_) != WAIT_OBJECT_0) {
        outlasted_ = true;
        return false;
    }
    thread_.Reset();
    outlasted_ = false;
    return true;
}

bool WorkerThread::Start(Body body, void* context) {
    ScopedLock lock(guard_);
    if (!EndWorker()) {
        return false;
    }
    if (wake_) {
        ResetEvent(wake_.Get());
    }
    body_ = body;
    context_ = context;
    running_.exchange(true);
    thread_.Reset(CreateThread(nullptr, 0, &WorkerThread::ThreadMain, this, 0, nullptr));
    if (!thread_) {
        running_.exchange(false);
        return false;
    }
    return true;
}

bool WorkerThread::Stop() {
    ScopedLock lock(guard_);
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
    ScopedLock lock(guard_);
    if (!thread_ || !outlasted_) {
        return false;
    }
    if (WaitForSingleObject(thread_.Get(), 0) != WAIT_OBJECT_0) {
        return true;
    }
    thread_.Reset();
    outlasted_ = false;
    return false;
}
