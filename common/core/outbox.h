// The host's outgoing messages between the threads that produce them and the one thread
// that writes them to the pipe. What it keeps while the controller does not read is
// bounded by kind, and the newest state is never what is dropped:
//
// - Ordered lines (host_ready and other replies) are all kept, in order.
// - A newer stats replaces an unsent older one; so does a newer frame size.
// - Statuses: at most kMaxQueuedStatuses wait; beyond that the oldest waiting one goes.
//   While the pipe is stalled (a write has waited out its bound) only the latest waits,
//   ahead of the stats that waits behind it, so that the current state is the first line
//   written once the pipe takes writes again, right after what was already in the pipe.
//
// Lines that stay keep the order they were produced in, but for that one status that goes
// ahead of a stats while stalled. Win32-free and not thread-safe: the pipe writer guards it
// with its own lock.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

enum class MessageKind { Ordered, Status, Stats, FrameSize };

class Outbox {
public:
    static constexpr size_t kMaxQueuedStatuses = 8;

    void Push(MessageKind kind, std::string line);
    // A line taken with Take that the pipe did not accept at all: it goes back in front,
    // under the same rules (a newer stats or enough newer statuses make it go).
    void PutBack(MessageKind kind, std::string line);
    // The oldest line; false when there is none.
    bool Take(MessageKind& kind, std::string& line);

    void SetStalled(bool stalled);
    bool Empty() const { return queue_.empty(); }
    void Clear();

private:
    struct Message {
        MessageKind kind;
        std::string line;
    };

    void Trim();
    size_t& Count(MessageKind kind);
    void EraseFirst(MessageKind kind);

    std::deque<Message> queue_;
    size_t ordered_ = 0;
    size_t statuses_ = 0;
    size_t stats_ = 0;
    size_t frameSizes_ = 0;
    bool stalled_ = false;
};
