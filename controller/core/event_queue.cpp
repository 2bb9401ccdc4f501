#include "event_queue.h"

#include <chrono>
#include <utility>

#include "schedule_point.h"

namespace {

bool IsReport(HostEventType type) {
    return type == HostEventType::Status || type == HostEventType::Stats ||
           type == HostEventType::Other || type == HostEventType::FrameSize;
}

}  // namespace

EventQueue::EventQueue(size_t capacity) : capacity_(capacity > 0 ? capacity : 1) {}

void EventQueue::DropOldestDroppable() {
    for (auto it = events_.begin(); it != events_.end(); ++it) {
        if (it->droppable) {
            events_.erase(it);
            ++dropped_;
            return;
        }
    }
}

void EventQueue::Push(HostEvent event) {
    bool droppable = IsReport(event.type);
    Add(std::move(event), droppable);
}

void EventQueue::PushDroppable(HostEvent event) {
    Add(std::move(event), true);
}

void EventQueue::Add(HostEvent event, bool droppable) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (events_.size() >= capacity_) {
            DropOldestDroppable();
        }
        events_.push_back(Queued{std::move(event), droppable});
    }
    schedule::Point("queue: pushed");
    arrived_.notify_all();
}

bool EventQueue::Pop(HostEvent& event, unsigned timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [this] { return !events_.empty() || closed_; };
    if (timeoutMs == kWaitForever) {
        arrived_.wait(lock, ready);
    } else if (!arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return false;
    }
    if (events_.empty()) {
        return false;
    }
    event = std::move(events_.front().event);
    events_.pop_front();
    return true;
}

void EventQueue::Close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    arrived_.notify_all();
}

bool EventQueue::Drained() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return closed_ && events_.empty();
}

size_t EventQueue::dropped() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return dropped_;
}
