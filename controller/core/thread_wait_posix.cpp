// The native waits: every signal and every thread's inbox share one lock and one
// condition variable. Signals change a handful of times in a host's life and only the
// native tests hand tasks between threads, so one of each is plenty.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "host_event.h"
#include "thread_wait.h"
#include "thread_wait_posix.h"

namespace {

std::mutex& Lock() {
    static std::mutex lock;
    return lock;
}

std::condition_variable& Changed() {
    static std::condition_variable changed;
    return changed;
}

}  // namespace

struct Signal::State {
    bool set = false;  // under Lock()
};

struct ThreadInbox {
    struct Task {
        std::function<void()> run;
        Signal* done = nullptr;  // a SendAndWait's: its sender waits for it
    };
    std::deque<Task> tasks;  // under Lock()
    bool ended = false;      // under Lock(): its thread has gone
};

namespace {

thread_local int handlingBlocked = 0;

// Closes the thread's inbox when the thread ends: senders still waiting are let go.
struct InboxOwner {
    std::shared_ptr<ThreadInbox> inbox = std::make_shared<ThreadInbox>();
    ~InboxOwner() {
        std::deque<ThreadInbox::Task> left;
        {
            std::lock_guard<std::mutex> lock(Lock());
            inbox->ended = true;
            left.swap(inbox->tasks);
        }
        for (ThreadInbox::Task& task : left) {
            if (task.done) {
                task.done->Set();
            }
        }
    }
};

InboxOwner& Owner() {
    thread_local InboxOwner owner;
    return owner;
}

void Push(ThreadInbox& inbox, ThreadInbox::Task task) {
    {
        std::lock_guard<std::mutex> lock(Lock());
        if (!inbox.ended) {
            inbox.tasks.push_back(std::move(task));
            task.done = nullptr;
        }
    }
    if (task.done) {
        task.done->Set();  // its thread has gone: nothing will run it
    }
    Changed().notify_all();
}

}  // namespace

Signal::Signal() : state_(std::make_unique<State>()) {}

Signal::~Signal() = default;

bool Signal::Valid() const {
    return true;
}

void Signal::Set() {
    {
        std::lock_guard<std::mutex> lock(Lock());
        state_->set = true;
    }
    Changed().notify_all();
}

void Signal::Reset() {
    std::lock_guard<std::mutex> lock(Lock());
    state_->set = false;
}

bool Signal::IsSet() const {
    std::lock_guard<std::mutex> lock(Lock());
    return state_->set;
}

int WaitAny(const Signal* const* signals, size_t count, unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    ThreadInbox& inbox = *Owner().inbox;
    std::unique_lock<std::mutex> lock(Lock());
    for (;;) {
        // As Windows does, the tasks handed to this thread first, then the signals.
        if (!inbox.tasks.empty()) {
            ThreadInbox::Task task = std::move(inbox.tasks.front());
            inbox.tasks.pop_front();
            lock.unlock();
            handlingBlocked += task.done != nullptr;
            task.run();
            handlingBlocked -= task.done != nullptr;
            if (task.done) {
                task.done->Set();
            }
            lock.lock();
            continue;
        }
        for (size_t i = 0; i < count; ++i) {
            if (signals[i]->state_->set) {
                return static_cast<int>(i);
            }
        }
        if (timeoutMs == kWaitForever) {
            Changed().wait(lock);
        } else if (Changed().wait_until(lock, deadline) == std::cv_status::timeout) {
            for (size_t i = 0; i < count; ++i) {
                if (signals[i]->state_->set) {
                    return static_cast<int>(i);
                }
            }
            return -1;
        }
    }
}

bool HandlingBlockedSender() {
    return handlingBlocked > 0;
}

std::shared_ptr<ThreadInbox> ThisThreadInbox() {
    return Owner().inbox;
}

void SendAndWait(const std::shared_ptr<ThreadInbox>& inbox, const std::function<void()>& task) {
    Signal done;
    Push(*inbox, ThreadInbox::Task{task, &done});
    done.Wait(kWaitForever);
}

bool SentMessageWaiting() {
    ThreadInbox& inbox = *Owner().inbox;
    std::lock_guard<std::mutex> lock(Lock());
    for (const ThreadInbox::Task& task : inbox.tasks) {
        if (task.done) {
            return true;
        }
    }
    return false;
}

struct NoteReceiver::State {
    std::shared_ptr<ThreadInbox> inbox;
    // Cleared on the receiver's own thread when it goes, and read only there.
    std::shared_ptr<bool> alive;
    OnNote onNote;
    void* context;
};

NoteReceiver::NoteReceiver(OnNote onNote, void* context)
    : state_(new State{Owner().inbox, std::make_shared<bool>(true), onNote, context}) {}

NoteReceiver::~NoteReceiver() {
    *state_->alive = false;
}

bool NoteReceiver::Valid() const {
    return true;
}

void NoteReceiver::Send(uint64_t note) {
    std::shared_ptr<bool> alive = state_->alive;
    OnNote onNote = state_->onNote;
    void* context = state_->context;
    Push(*state_->inbox, ThreadInbox::Task{[alive, onNote, context, note] {
                                               if (*alive) {
                                                   onNote(context, note);
                                               }
                                           },
                                           nullptr});
}
