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
    // While stalled the newest status goes ahead of a stats that waits last, so that it is
    // the first line written once the pipe takes writes again.
    auto at = queue_.end();
    if (kind == MessageKind::Status && stalled_ && !queue_.empty() &&
        queue_.back().kind == MessageKind::Stats) {
        --at;
    }
    queue_.insert(at, {kind, std::move(line)});
    ++Count(kind);
    Trim();
}

void Outbox::PutBack(MessageKind kind, std::string line) {
    if (ReplacesOlder(kind) && Count(kind) > 0) {
        return;  // a newer one waits
    }
    queue_.push_front({kind, std::move(line)});
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
    ordered_ = statuses_ = stats_ = frameSizes_ = 0;
}

void Outbox::SetStalled(bool stalled) {
    stalled_ = stalled;
    Trim();
}

void Outbox::Trim() {
    const size_t limit = stalled_ ? 1 : kMaxQueuedStatuses;
    while (statuses_ > limit) {
        EraseFirst(MessageKind::Status);
    }
}

size_t& Outbox::Count(MessageKind kind) {
    switch (kind) {
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
