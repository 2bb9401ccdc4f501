// What the threads of a stress iteration did, in the one order a lock gives them, and the
// small tools the host stress groups share: a gate a test opens at a moment of its
// choosing, and bounded waits for the end of an iteration.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace stress {

// Events in the order they happened; any thread adds.
class EventLog {
public:
    void Add(std::string event) {
        std::lock_guard<std::mutex> lock(lock_);
        events_.push_back(std::move(event));
    }
    // Adds `event` when `holds` is true, asked under the log's lock: an event that a thread
    // then adds after it changed what `holds` reads comes later in the log.
    void AddIf(const std::function<bool()>& holds, std::string event) {
        std::lock_guard<std::mutex> lock(lock_);
        if (holds()) {
            events_.push_back(std::move(event));
        }
    }
    // Whether `event` was added.
    bool Has(const std::string& event) {
        std::lock_guard<std::mutex> lock(lock_);
        return Find(events_, event) < events_.size();
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(lock_);
        return events_;
    }
    // Where `event` first appears at or after `from`; events.size() when it does not.
    static size_t Find(const std::vector<std::string>& events, const std::string& event,
                       size_t from = 0) {
        for (size_t i = from; i < events.size(); ++i) {
            if (events[i] == event) {
                return i;
            }
        }
        return events.size();
    }
    // The whole log, one event a line, for a failure message.
    static std::string Text(const std::vector<std::string>& events) {
        std::string text;
        for (const std::string& event : events) {
            text += "  " + event + "\n";
        }
        return text;
    }

private:
    std::mutex lock_;
    std::vector<std::string> events_;
};

// Closed until Open; Pass waits for it.
class Gate {
public:
    void Open() {
        std::lock_guard<std::mutex> lock(lock_);
        open_ = true;
        opened_.notify_all();
    }
    void Pass() {
        std::unique_lock<std::mutex> lock(lock_);
        opened_.wait(lock, [this] { return open_; });
    }

private:
    std::mutex lock_;
    std::condition_variable opened_;
    bool open_ = false;
};

// Polls `done` until it holds or `timeoutMs` has passed. The bounds given are far above
// what the awaited step takes on a busy machine: a wait that runs out is a fault (a thing
// that never happens), not a slow step.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
}

// Sleeps up to `maxUs` microseconds, drawn from `rng`: a random moment for a racing step.
template <typename Rng>
void SleepUpTo(Rng& rng, int maxUs) {
    std::this_thread::sleep_for(std::chrono::microseconds(static_cast<int>(rng() % (maxUs + 1))));
}

}  // namespace stress
