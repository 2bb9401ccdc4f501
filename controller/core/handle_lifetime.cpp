#include "handle_lifetime.h"

#include "schedule_point.h"

HandleLifetime::Call::Call(HandleLifetime& handle) : handle_(&handle) {
    std::lock_guard<std::mutex> lock(handle.lock_);
    record_ = &handle.threads_[std::this_thread::get_id()];
    ++record_->depth;
    if (handle.calls_++ == 0) {
        handle.idle_.Reset();
    }
}

HandleLifetime::Call::~Call() {
    bool free = false;
    {
        std::lock_guard<std::mutex> lock(handle_->lock_);
        --record_->depth;
        if (--handle_->calls_ == 0) {
            handle_->idle_.Set();
            schedule::Point("call: idle signalled");
            free = handle_->freeWithLastCall_;
        }
    }
    if (free) {
        handle_->Free();
    }
}

bool HandleLifetime::Call::Destroying() const {
    std::lock_guard<std::mutex> lock(handle_->lock_);
    return handle_->destroying_;
}

void HandleLifetime::Destroy(HandleLifetime* handle) {
    bool nested = false;
    {
        std::lock_guard<std::mutex> lock(handle->lock_);
        if (handle->destroying_) {
            return;
        }
        handle->destroying_ = true;
        auto self = handle->threads_.find(std::this_thread::get_id());
        nested = self != handle->threads_.end() && self->second.depth > 0;
        if (handle->calls_++ == 0) {
            handle->idle_.Reset();
        }
    }
    // Calls on other threads may be waiting for this one (the callback thread, or the
    // thread whose message this one is handling): they must be let go, not waited for.
    bool mayWait = !nested && !handle->MustNotWait();
    handle->EndHost();
    bool freeNow = false;
    {
        std::lock_guard<std::mutex> lock(handle->lock_);
        if (--handle->calls_ == 0) {
            handle->idle_.Set();
            freeNow = true;
        } else if (!mayWait) {
            handle->freeWithLastCall_ = true;
        }
    }
    if (mayWait && !freeNow) {
        schedule::Point("destroy: waiting for the calls");
        handle->idle_.Wait(kWaitForever);
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

void HandleLifetime::Free() {
    delete this;
}
