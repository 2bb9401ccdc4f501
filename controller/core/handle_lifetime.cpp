#include "handle_lifetime.h"

#include "schedule_point.h"

HandleLifetime::Call::Call(HandleLifetime& handle) : handle_(&handle) {
    std::lock_guard<std::mutex> lock(handle.lock_);
    record_ = &handle.RecordOfThisThread();
    ++record_->depth;
    ++handle.calls_;
}

HandleLifetime::Call::~Call() {
    bool free = false;
    {
        std::lock_guard<std::mutex> lock(handle_->lock_);
        --record_->depth;
        if (--handle_->calls_ == 0) {
            // A destroy that wakes on this frees the handle, its lock included, only once
            // it has taken and released that lock itself: after this call's last touch.
            handle_->idle_.Set();
            schedule::Point("call: idle signalled");
            free = handle_->freeWithLastCall_;
        }
    }
    if (free) {
        handle_->Free();
    }
}

bool HandleLifetime::Destroying() const {
    std::lock_guard<std::mutex> lock(lock_);
    return destroying_;
}

void HandleLifetime::Destroy(HandleLifetime* handle) {
    bool nested = false;
    {
        std::lock_guard<std::mutex> lock(handle->lock_);
        if (handle->destroying_) {
            return;
        }
        handle->destroying_ = true;
        // A call of this thread in progress cannot end while this one waits.
        nested = handle->RecordOfThisThread().depth > 0;
        ++handle->calls_;
    }
    // Calls on other threads may be waiting for this one (the callback thread, or the
    // thread whose message this one is handling): they must be let go, not waited for.
    bool mayWait = !nested && !handle->MustNotWait();
    handle->EndHost();
    bool freeNow = false;
    {
        std::lock_guard<std::mutex> lock(handle->lock_);
        freeNow = --handle->calls_ == 0;
        handle->freeWithLastCall_ = !freeNow && !mayWait;
    }
    if (!freeNow && mayWait) {
        schedule::Point("destroy: waiting for the calls");
        handle->AwaitIdle();
        freeNow = true;
    }
    if (freeNow) {
        handle->Free();
    }
}

size_t HandleLifetime::threadRecords() const {
    std::lock_guard<std::mutex> lock(lock_);
    return threads_.size();
}

// A thread's first call makes its record; the records of threads that have ended go then,
// so that a handle that many short-lived threads call keeps no more than the living ones.
ThreadRecord& HandleLifetime::RecordOfThisThread() {
    const std::shared_ptr<const ThreadMark>& self = ThisThread();
    auto found = threads_.find(self->number);
    if (found != threads_.end()) {
        return found->second;
    }
    for (auto it = threads_.begin(); it != threads_.end();) {
        it = it->second.owner.expired() && it->second.depth == 0 ? threads_.erase(it) : ++it;
    }
    ThreadRecord& record = threads_[self->number];
    record.owner = self;
    return record;
}

// Until no call is in progress, looked at under the lock each time: the last call's
// signal may come late, after a newer call began.
void HandleLifetime::AwaitIdle() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (calls_ == 0) {
                return;
            }
            idle_.Reset();
        }
        idle_.Wait(kWaitForever);
    }
}

void HandleLifetime::Free() {
    delete this;
}
