#include "bounded_thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

struct BoundedThread::End {
    std::mutex lock;
    std::condition_variable reached;
    bool ended = false;  // under lock
};

bool BoundedThread::Start(std::shared_ptr<void> keepAlive, std::function<void()> body) {
    if (end_) {
        return false;
    }
    auto end = std::make_shared<End>();
    try {
        std::thread([end, keepAlive = std::move(keepAlive), body = std::move(body)]() mutable {
            body();
            body = nullptr;
            keepAlive.reset();
            std::lock_guard<std::mutex> guard(end->lock);
            end->ended = true;
            end->reached.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    end_ = std::move(end);
    outlasted_ = false;
    return true;
}

bool BoundedThread::Join(unsigned waitMs) {
    if (!end_) {
        return true;
    }
    End& end = *end_;
    {
        std::unique_lock<std::mutex> guard(end.lock);
        if (!end.reached.wait_for(guard, std::chrono::milliseconds(outlasted_ ? 0 : waitMs),
                                  [&end] { return end.ended; })) {
            outlasted_ = true;
            return false;
        }
    }
    end_.reset();
    return true;
}
