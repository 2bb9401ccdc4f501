// The host's outgoing messages between the threads that produce them and the one thread
// that writes them to the pipe. What it keeps while the controller does not read is
// bounded by kind, and the newest state is never what is dropped:
//
// - host_ready is kept and goes first.
// - Ordered lines (a listing's lines) are all kept, in order; the source listing bounds
//   them (a listing asked for while an earlier one's lines wait is answered by that one).
// - A newer stats replaces an unsent older one; so does a newer frame size.
// - Statuses: at most kMaxQueuedStatuses wait; beyond that the oldest waiting one goes.
//   While the pipe is stalled (a write has waited out its bound) only the latest waits,
//   and it waits ahead of every other line but host_ready, so that the current state is
//   the first line written once the pipe takes writes again, right after the line that
//   was in flight.
//
// Lines otherwise keep the order they were produced in. Win32-free and not thread-safe:
// the pipe writer guards it with its own lock.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

enum class MessageKind { HostReady, Ordered, Status, Stats, FrameSize };

class Outbox {
public:
    static constexpr size_t kMaxQueuedStatuses = 8;

    void Push(MessageKind kind, std::string line);
    // The oldest line; false when there is none.
    bool Take(MessageKind& kind, std::string& line);

    void SetStalled(bool stalled);
    bool Empty() const { return queue_.empty(); }
    // How many lines of `kind` wait.
    size_t Waiting(MessageKind kind) const;
    void Clear();

private:
    struct Message {
        MessageKind kind;
        std::string line;
    };

    // Where a status goes while stalled: first, but behind host_ready.
    std::deque<Message>::iterator Front();
    void Trim();
    size_t& Count(MessageKind kind);
    void EraseFirst(MessageKind kind);

    std::deque<Message> queue_;
    size_t hostReady_ = 0;
    size_t ordered_ = 0;
    size_t statuses_ = 0;
    size_t stats_ = 0;
    size_t frameSizes_ = 0;
    bool stalled_ = false;
};
