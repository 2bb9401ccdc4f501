// The callback thread of a host: it hands the application's callback each event of the
// queue, one at a time and in order, and tells whoever wants to wait for it whether that
// could mean waiting for oneself. The thread itself is made by the caller (a Win32 thread
// on Windows, a std::thread natively) and runs Run. Win32-free; any thread.
//
// Waiting for the callback thread would wait for oneself on that thread itself, and on a
// thread that handles a message which the callback sent it and is blocked on (a callback
// that hands its event to a user-interface thread with SendMessage, whose window
// procedure then ends the host). A message from anyone else (another thread, another
// process, the system) must not stop the wait, or the application would free what the
// callback still uses. The system does not say who sent a message, so the waiter asks the
// callback thread: it sends it a note, which that thread takes only inside a wait that
// takes sent messages (SendMessage's own wait for its answer among them). A callback that
// takes the note while this thread has no sent message queued is blocked on this thread's
// message; one busy in its own code takes it only after it has returned.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>

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
        MustNot,   // waiting would be waiting for this thread (see InsideCallback)
    };
    // Waits at most timeoutMs (kWaitForever: no limit), taking sent messages, for Run to
    // return; gives up as soon as it finds that the callback waits for this thread.
    Awaited AwaitEnd(unsigned timeoutMs);
    // True on the callback thread, and on a thread that handles a message which the
    // callback in progress sent it and is blocked on. While this thread handles another
    // thread's blocked message and a callback runs, it waits (taking sent messages) until
    // it knows: until that callback has returned, or has shown itself blocked.
    bool InsideCallback();

private:
    struct Probe;

    Awaited Watch(bool untilEnd, unsigned timeoutMs);
    static void OnNote(void* context, uint64_t note);

    EventQueue& queue_;
    Deliver deliver_;
    std::mutex lock_;
    uint64_t thread_ = 0;            // under lock_: the callback thread's mark, once it runs
    bool inCallback_ = false;        // under lock_
    uint64_t callback_ = 0;          // under lock_: the number of the callback in progress, or last
    bool stopped_ = false;           // under lock_
    bool finished_ = false;          // under lock_: Run has returned
    NoteReceiver* notes_ = nullptr;  // under lock_: the callback thread's, while Run runs
    uint64_t lastProbe_ = 0;         // under lock_
    std::map<uint64_t, Probe*> probes_;  // under lock_: notes sent and still waited for
    Signal busy_;                        // set while a callback runs
    Signal idle_;                        // set while none runs
    Signal ended_;                       // set once Run has returned
};
