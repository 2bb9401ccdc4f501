#include "outbox.h"

#include <algorithm>
#include <utility>

namespace {

// Only the newest of these matters: each one states the current value whole.
bool ReplacesOlder(MessageKind kind) {
    return kind == MessageKind::Stats || kind == MessageKind::FrameSize;
}

}  // namespace

void Outbox::Push(MessageKind kind, std::string line) {
    if (ReplacesOlder(kind)) {
        EraseFirst(kind);
    }
    auto at = queue_.end();
    if (kind == MessageKind::Status && stalled_) {
        // Only the newest waits while stalled, first in line.
        while (statuses_ > 0) {
            EraseFirst(MessageKind::Status);
        }
        at = Front();
    }
    queue_.insert(at, {kind, std::move(line)});
    ++Count(kind);
    Trim();
}

bool Outbox::Take(MessageKind& kind, std::string& line) {
    if (queue_.empty()) {
        return false;
    }
    kind = queue_.front().kind;
    line = std::move(queue_.front().line);
    queue_.pop_front();
    --Count(kind);
    return true;
}

void Outbox::Clear() {
    queue_.clear();
    hostReady_ = ordered_ = statuses_ = stats_ = frameSizes_ = 0;
}

void Outbox::SetStalled(bool stalled) {
    if (stalled == stalled_) {
        return;
    }
    stalled_ = stalled;
    Trim();
    if (stalled_ && statuses_ == 1) {
        auto status = std::find_if(queue_.begin(), queue_.end(),
                                   [](const Message& m) { return m.kind == MessageKind::Status; });
        Message newest = std::move(*status);
        queue_.erase(status);
        queue_.insert(Front(), std::move(newest));
    }
}

size_t Outbox::Waiting(MessageKind kind) const {
    return const_cast<Outbox*>(this)->Count(kind);  // reads only
}

std::deque<Outbox::Message>::iterator Outbox::Front() {
    return std::find_if(queue_.begin(), queue_.end(),
                        [](const Message& m) { return m.kind != MessageKind::HostReady; });
}

void Outbox::Trim() {
    const size_t limit = stalled_ ? 1 : kMaxQueuedStatuses;
    while (statuses_ > limit) {
        EraseFirst(MessageKind::Status);
    }
}

size_t& Outbox::Count(MessageKind kind) {
    switch (kind) {
        case MessageKind::HostReady:
            return hostReady_;
        case MessageKind::Status:
            return statuses_;
        case MessageKind::Stats:
            return stats_;
        case MessageKind::FrameSize:
            return frameSizes_;
        default:
            return ordered_;
    }
}

void Outbox::EraseFirst(MessageKind kind) {
    auto it = std::find_if(queue_.begin(), queue_.end(),
                           [kind](const Message& m) { return m.kind == kind; });
    if (it != queue_.end()) {
        queue_.erase(it);
        --Count(kind);
    }
}
