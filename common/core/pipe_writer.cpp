#include "pipe_writer.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>

#include "log.h"
#include "schedule_point.h"

struct PipeWriter::Shared {
    std::mutex lock;
    std::condition_variable changed;  // a post, a drained outbox, a stop, the thread's end
    Outbox outbox;                    // under lock
    bool failed = true;     // under lock; until Start nothing is kept for a pipe never opened
    bool stopping = false;  // under lock
    bool inFlight = false;  // under lock: a line was taken and its write has not ended
    std::shared_ptr<WriteChannel> channel;
    std::atomic<unsigned> writeBoundMs{kWriteBoundMs};
    // Writer thread only: the line in flight and how much of it the pipe has taken.
    MessageKind kind = MessageKind::Ordered;
    std::string line;
    size_t sent = 0;

    void Run();
    // Waits for the next line; false on stop.
    bool TakeLine();
    // Writes the line taken, to its end unless stopped; false on stop.
    bool WriteLine();
    // One write of what is left of the line; false on stop.
    bool WriteRest();
    void Fail();
    void SetStalled(bool stalled);
    bool Drained() const { return failed || (outbox.Empty() && !inFlight); }
};

PipeWriter::PipeWriter() : shared_(std::make_shared<Shared>()) {}

bool PipeWriter::Start(std::shared_ptr<WriteChannel> channel) {
    if (thread_.Started() || !channel) {
        return false;
    }
    Shared& s = *shared_;
    std::lock_guard<std::mutex> lock(s.lock);
    s.channel = std::move(channel);
    Shared* shared = shared_.get();
    if (!thread_.Start(shared_, [shared] { shared->Run(); })) {
        s.channel.reset();
        return false;
    }
    s.failed = false;
    started_ = true;
    return true;
}

void PipeWriter::Post(MessageKind kind, std::string line) {
    line.push_back('\n');
    Shared& s = *shared_;
    schedule::Point("writer.post");
    std::lock_guard<std::mutex> lock(s.lock);
    if (s.failed) {
        return;
    }
    s.outbox.Push(kind, std::move(line));
    s.changed.notify_all();
}

bool PipeWriter::Waiting(MessageKind kind) {
    Shared& s = *shared_;
    std::lock_guard<std::mutex> lock(s.lock);
    return s.outbox.Waiting(kind) > 0;
}

bool PipeWriter::Stop(unsigned drainMs) {
    Shared& s = *shared_;
    if (started_) {
        started_ = false;
        std::unique_lock<std::mutex> lock(s.lock);
        if (drainMs > 0) {
            s.changed.wait_for(lock, std::chrono::milliseconds(drainMs),
                               [&s] { return s.Drained(); });
        }
        s.stopping = true;
        s.changed.notify_all();
        lock.unlock();
        s.channel->Interrupt();
    }
    // A writer that outlasted one full wait is only looked at again; until it has ended it
    // keeps the channel and the shared state.
    const bool ended = thread_.Join(kJoinMs);
    std::lock_guard<std::mutex> lock(s.lock);
    if (ended) {
        s.channel.reset();
    }
    s.failed = true;
    s.outbox.Clear();
    return ended;
}

void PipeWriter::SetWriteBoundForTesting(unsigned milliseconds) {
    shared_->writeBoundMs.store(milliseconds);
}

void PipeWriter::Shared::Run() {
    while (TakeLine() && WriteLine()) {
    }
}

bool PipeWriter::Shared::TakeLine() {
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        if (stopping) {
            return false;
        }
        if (outbox.Take(kind, line)) {
            sent = 0;
            inFlight = true;
            return true;
        }
        inFlight = false;
        changed.notify_all();  // drained
        changed.wait(guard, [this] { return stopping || !outbox.Empty(); });
    }
}

bool PipeWriter::Shared::WriteLine() {
    while (sent < line.size()) {
        if (!WriteRest()) {
            return false;
        }
    }
    std::lock_guard<std::mutex> guard(lock);
    inFlight = false;
    return true;
}

bool PipeWriter::Shared::WriteRest() {
    const size_t size = line.size() - sent;
    if (!channel->Begin(line.data() + sent, size)) {
        Fail();
        return true;
    }
    const unsigned boundMs = writeBoundMs.load();
    bool stalled = false;
    for (;;) {
        size_t count = 0;
        const WriteChannel::Outcome outcome = channel->Await(boundMs, count);
        schedule::Point("writer.write-waited");
        switch (outcome) {
            case WriteChannel::Outcome::Written:
                sent += count;
                SetStalled(false);
                return true;
            case WriteChannel::Outcome::Failed:
                Fail();
                return true;
            case WriteChannel::Outcome::Stopped:
                // Only a stop cancels a write: a cancel can leave the reader part of a line.
                channel->Cancel(count);
                sent += count;
                return false;
            case WriteChannel::Outcome::TimedOut:
                if (!stalled) {
                    HostLog("[Pipe] WARNING: a write has waited %u ms; the pipe counts as stalled",
                            boundMs);
                    stalled = true;
                    SetStalled(true);
                }
                break;  // the same write, waited for again
        }
    }
}

void PipeWriter::Shared::Fail() {
    HostLog("[Pipe] ERROR: the pipe is gone; nothing more is written");
    line.clear();
    sent = 0;
    std::lock_guard<std::mutex> guard(lock);
    failed = true;
    outbox.Clear();
    changed.notify_all();
}

void PipeWriter::Shared::SetStalled(bool stalled) {
    std::lock_guard<std::mutex> guard(lock);
    outbox.SetStalled(stalled);
}
