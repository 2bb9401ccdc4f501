// The events between the controller's reader thread and the application: the reader
// pushes, the application (or the controller's callback thread) pops. Win32-free; any
// thread.
//
// The reader must never wait for the application, or a slow application would leave
// the host's writes unread and make it drop its messages. So the queue does not block
// the pusher: past its capacity it drops the oldest status, stats, other or frame size
// event (each status states the current state and each frame size the current one, so the
// newest ones are the ones that matter), or the oldest listing that nobody asked for. The
// pipe opening, host_ready, the unfinished line, a fault, the exit and every listing that
// answers a request are never dropped: each comes once, or once per request of the
// application's.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>

#include "host_event.h"

class EventQueue {
public:
    explicit EventQueue(size_t capacity);

    // Status, stats, other and frame size events may be dropped, every other kind is kept.
    void Push(HostEvent event);
    // An event that may be dropped whatever its kind: a listing nobody asked for.
    void PushDroppable(HostEvent event);
    // Waits at most timeoutMs (kWaitForever: no limit) for an event. False when none came,
    // or when the queue is closed and empty.
    bool Pop(HostEvent& event, unsigned timeoutMs);
    // Wakes every waiter; what is queued can still be taken.
    void Close();
    // Closed and empty: no event will come any more.
    bool Drained() const;

    size_t dropped() const;

private:
    struct Queued {
        HostEvent event;
        bool droppable;
    };

    void Add(HostEvent event, bool droppable);
    void DropOldestDroppable();  // under mutex_

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Queued> events_;
    size_t capacity_;
    size_t dropped_ = 0;
    bool closed_ = false;
};
