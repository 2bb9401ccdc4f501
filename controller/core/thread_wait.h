// How the controller's logic waits. An application's thread may wait inside the library
// while another thread (the library's callback thread, handing an event over with
// SendMessage) waits for that very thread to take a message: if the wait took no
// messages, each would wait for the other. So on Windows every wait here dispatches the
// messages that other threads send to the waiting thread (posted messages and input stay
// queued), and natively the same waits run the tasks that other threads hand the waiting
// thread (thread_wait_posix.h), which is how the native tests play sent messages.
// The build picks the implementation: thread_wait_win.cpp or core/thread_wait_posix.cpp.
// Any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A flag that threads wait for: set, reset, waited for with a bound.
class Signal {
public:
    Signal();  // not set
    ~Signal();
    Signal(const Signal&) = delete;
    Signal& operator=(const Signal&) = delete;

    // False when the system could not make it (Windows: no event); it then never waits.
    bool Valid() const;
    void Set();
    void Reset();
    bool IsSet() const;
    // Waits at most timeoutMs (kWaitForever: no limit) for it to be set; true when set.
    bool Wait(unsigned timeoutMs) const;

    struct State;

private:
    friend int WaitAny(const Signal* const* signals, size_t count, unsigned timeoutMs);

    std::unique_ptr<State> state_;
};

// Waits at most timeoutMs (kWaitForever: no limit) until one of the `count` signals is
// set; the index of one that is, or -1 on a timeout.
int WaitAny(const Signal* const* signals, size_t count, unsigned timeoutMs);

inline bool Signal::Wait(unsigned timeoutMs) const {
    const Signal* self = this;
    return WaitAny(&self, 1, timeoutMs) == 0;
}

// True while this thread handles a message that another thread sent it and waits for:
// the sender stays blocked until this thread's handling returns.
bool HandlingBlockedSender();
// True while a message that another thread sent and waits for is queued for this thread,
// not yet taken.
bool SentMessageWaiting();

// A thread's receiver of notes from other threads, taken in that thread's waits that take
// sent messages (SendMessage's own wait for its answer among them, on Windows). Made and
// destroyed on the thread it belongs to.
class NoteReceiver {
public:
    using OnNote = void (*)(void* context, uint64_t note);

    NoteReceiver(OnNote onNote, void* context);
    ~NoteReceiver();
    NoteReceiver(const NoteReceiver&) = delete;
    NoteReceiver& operator=(const NoteReceiver&) = delete;

    // False when the system could not make it (Windows: no window); notes then go nowhere.
    bool Valid() const;
    // Any thread, without waiting: onNote(context, note) runs on the receiver's thread the
    // next time that thread waits taking sent messages, if the receiver still exists then.
    void Send(uint64_t note);

    struct State;

private:
    std::unique_ptr<State> state_;
};
