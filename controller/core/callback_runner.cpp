#include "callback_runner.h"

#include <algorithm>
#include <utility>

#include "schedule_point.h"
#include "thread_identity.h"

CallbackRunner::CallbackRunner(EventQueue& queue, Deliver deliver)
    : queue_(queue), deliver_(std::move(deliver)) {}

void CallbackRunner::Run() {
    {
        std::lock_guard<std::mutex> lock(lock_);
        thread_ = ThisThread()->number;
    }
    HostEvent event;
    for (;;) {
        if (!queue_.Pop(event, kWaitForever)) {
            break;
        }
        {
            std::lock_guard<std::mutex> lock(lock_);
            if (stopped_) {
                break;
            }
            inCallback_ = true;
        }
        schedule::Point("callback: begins");
        deliver_(event);
        schedule::Point("callback: returned");
        std::lock_guard<std::mutex> lock(lock_);
        inCallback_ = false;
    }
    ended_.Set();
}

void CallbackRunner::Stop() {
    std::lock_guard<std::mutex> lock(lock_);
    stopped_ = true;
}

CallbackRunner::Awaited CallbackRunner::AwaitEnd(unsigned timeoutMs) {
    if (InsideCallback()) {
        return Awaited::MustNot;
    }
    Waiting waiting(this);
    return ended_.Wait(timeoutMs) ? Awaited::Ended : Awaited::TimedOut;
}

bool CallbackRunner::InsideCallback() {
    uint64_t self = ThisThread()->number;
    std::lock_guard<std::mutex> lock(lock_);
    return self == thread_ || std::find(waiters_.begin(), waiters_.end(), self) != waiters_.end() ||
           (inCallback_ && HandlingBlockedSender());
}

CallbackRunner::Waiting::Waiting(CallbackRunner* runner) : runner_(runner) {
    if (runner_) {
        std::lock_guard<std::mutex> lock(runner_->lock_);
        runner_->waiters_.push_back(ThisThread()->number);
    }
}

CallbackRunner::Waiting::~Waiting() {
    if (runner_) {
        std::lock_guard<std::mutex> lock(runner_->lock_);
        auto& waiters = runner_->waiters_;
        waiters.erase(std::find(waiters.begin(), waiters.end(), ThisThread()->number));
    }
}
