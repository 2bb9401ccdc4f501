// The callback thread of a host: it hands the application's callback each event of the
// queue, one at a time and in order, and tells whoever wants to wait for it whether that
// could mean waiting for oneself. The thread itself is made by the caller (a Win32 thread
// on Windows, a std::thread natively) and runs Run. Win32-free; any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "event_queue.h"
#include "host_event.h"
#include "thread_wait.h"

class CallbackRunner {
public:
    using Deliver = std::function<void(const HostEvent&)>;

    CallbackRunner(EventQueue& queue, Deliver deliver);
    CallbackRunner(const CallbackRunner&) = delete;
    CallbackRunner& operator=(const CallbackRunner&) = delete;

    // The callback thread's whole work: every event to `deliver`, until Stop or the
    // queue's end.
    void Run();
    // No callback begins after this; one in progress goes on. Any thread.
    void Stop();

    enum class Awaited {
        Ended,     // Run has returned
        TimedOut,  // Run still runs
        MustNot,   // this thread must not wait for it (see InsideCallback); nothing waited
    };
    // Waits at most timeoutMs (kWaitForever: no limit), taking sent messages, for Run to
    // return, except where InsideCallback().
    Awaited AwaitEnd(unsigned timeoutMs);
    // True where waiting for the callback thread could mean waiting for oneself: on the
    // callback thread, in a message that another wait of this host dispatched on this
    // thread, and in any message sent to this thread while a callback runs (its sender may
    // be that callback, handing its event over with SendMessage).
    bool InsideCallback();

    // While one lives, the calling thread counts as waiting inside this host, where the
    // messages it takes may be the callback's.
    class Waiting {
    public:
        explicit Waiting(CallbackRunner* runner);  // null: no callback, nothing to note
        ~Waiting();
        Waiting(const Waiting&) = delete;
        Waiting& operator=(const Waiting&) = delete;

    private:
        CallbackRunner* runner_;
    };

private:
    EventQueue& queue_;
    Deliver deliver_;
    std::mutex lock_;
    uint64_t thread_ = 0;            // under lock_: the callback thread's mark, once it runs
    bool inCallback_ = false;        // under lock_
    bool stopped_ = false;           // under lock_
    std::vector<uint64_t> waiters_;  // under lock_: threads inside a wait of this host
    Signal ended_;                   // set once Run has returned
};
