// The lifetime of one handle of the C interface: the calls in progress on it, each
// calling thread's own results, and the handle's destruction, which waits for the calls
// in progress or, where it must not wait (inside the callback, or inside a message that
// another call's wait dispatched), leaves the freeing to the last of them. The handle's
// host sits behind two virtual functions, so that the same logic runs with the real host
// on Windows and with a fake natively. Win32-free; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host_event.h"
#include "thread_identity.h"
#include "thread_wait.h"

// One thread's results on a handle: what it was told by its last call, and the strings
// that its last polled event and its last listing point to. Its contents belong to that
// thread alone; they are kept for its next call, and go once the thread has ended.
struct ThreadRecord {
    std::weak_ptr<const ThreadMark> owner;  // expires when the thread ends
    int depth = 0;  // this thread's calls in progress (nested through dispatched messages)
    std::string error;
    unsigned long systemError = 0;
    HostEvent polled;
    std::vector<const char*> polledNames;  // the names of `polled`, as C strings
    std::vector<std::string> listed;       // the last listing
    std::vector<const char*> listedNames;  // the same, as C strings
};

class HandleLifetime {
public:
    HandleLifetime() = default;
    // Only through Destroy (or a call that Destroy left the freeing to), or for a handle
    // that no call has used.
    virtual ~HandleLifetime() = default;
    HandleLifetime(const HandleLifetime&) = delete;
    HandleLifetime& operator=(const HandleLifetime&) = delete;

    // One call on a handle, from its start to its return. The last call of a handle that
    // Destroy could not free frees it as it ends. Throws std::bad_alloc.
    class Call {
    public:
        explicit Call(HandleLifetime& handle);
        ~Call();
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

        ThreadRecord& record() { return *record_; }

    private:
        HandleLifetime* handle_;
        ThreadRecord* record_ = nullptr;
    };

    // Ends the host (EndHost), then frees the handle: at once when no other call is in
    // progress, after waiting for the calls in progress where this thread may wait, else
    // as the last of them returns. Once for a handle; a second Destroy returns at once.
    static void Destroy(HandleLifetime* handle);

    // True once Destroy has begun. A call in progress then returns no pointer into the
    // handle: the handle may be freed as the call returns (the destroy came from a message
    // that the call's own wait dispatched, say).
    bool Destroying() const;

    // How many threads' records the handle keeps: those of the threads that have called
    // it and have not ended, and of ended ones until the next thread's first call.
    size_t threadRecords() const;

protected:
    // True where the destroying thread must not wait, because what it would wait for may
    // be waiting for it: on the callback thread, or while it hands the callback's own
    // message. May wait for a callback in progress to decide.
    virtual bool MustNotWait() = 0;
    // Ends the host and its callbacks, waiting for them only where that cannot mean
    // waiting for this thread.
    virtual void EndHost() = 0;

private:
    ThreadRecord& RecordOfThisThread();  // under lock_
    void AwaitIdle();
    void Free();

    mutable std::mutex lock_;
    // By ThreadMark number, never reused. The map is changed under lock_; a record's
    // contents belong to its thread.
    std::map<uint64_t, ThreadRecord> threads_;
    int calls_ = 0;                  // under lock_: calls in progress, Destroy's included
    bool destroying_ = false;        // under lock_
    bool freeWithLastCall_ = false;  // under lock_
    Signal idle_;                    // set once calls_ has fallen to 0; a hint to look again
};
