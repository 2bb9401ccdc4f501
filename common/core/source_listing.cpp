#include "source_listing.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "bounded_thread.h"
#include "log.h"
#include "protocol.h"
#include "schedule_point.h"

namespace {

// The answer thread only posts its lines (it never waits for the pipe) and wakes at once
// when stopped; the finder thread may be inside a finder's own wait (about 1000 ms).
constexpr unsigned kAnswerJoinMs = 2500;
constexpr unsigned kFinderJoinMs = SourceListing::kStopBoundMs - kAnswerJoinMs;

const char kNotSupported[] = "Source listing not supported";
const char kTimedOut[] = "Source listing timed out";
const char kBusy[] = "Source listing busy";
const char kCannotStart[] = "Cannot start source listing";

}  // namespace

// Shared with the two threads, which hold it until they end.
struct SourceListing::Shared {
    Shared(std::unique_ptr<SourceFinder> sourceFinder, SendLine sendLine, LinesWaiting linesWaiting,
           unsigned boundMs)
        : finder(std::move(sourceFinder)),
          send(std::move(sendLine)),
          waiting(std::move(linesWaiting)),
          callBoundMs(boundMs) {}

    std::unique_ptr<SourceFinder> finder;
    SendLine send;
    LinesWaiting waiting;
    unsigned callBoundMs;

    std::mutex lock;
    std::condition_variable changed;  // any flag below
    bool stopped = false;             // under lock; set once, by Stop
    bool requested = false;           // under lock: a listing waits for the answer thread
    bool callRequested = false;       // under lock: a call waits for the finder thread
    bool found = false;               // under lock: the call handed over has returned
    bool underWay = false;            // under lock: requested and not yet answered
    FoundSources result;              // under lock: what the last call returned
    // Under lock: a call was handed to the finder thread and has not returned yet. Cleared
    // together with `found`, so that the answer thread, woken by a call that returned in
    // time, never finds it still set for the next listing.
    bool calling = false;
    BoundedThread answerThread;  // started under lock; joined by Stop once stopped
    BoundedThread finderThread;  // likewise

    bool StartThreads(const std::shared_ptr<Shared>& self);
    void AnswerLoop();
    void FinderLoop();
    FoundSources CallFinder();
    bool Stopping() {
        std::lock_guard<std::mutex> guard(lock);
        return stopped;
    }
};

// Under lock, at the first request: the threads of a host that never lists never exist.
// Each holds the shared state until it ends.
bool SourceListing::Shared::StartThreads(const std::shared_ptr<Shared>& self) {
    bool finderReady =
        !finder || finderThread.Started() || finderThread.Start(self, [this] { FinderLoop(); });
    return (answerThread.Started() || answerThread.Start(self, [this] { AnswerLoop(); })) &&
           finderReady;
}

void SourceListing::Shared::AnswerLoop() {
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(lock);
            changed.wait(guard, [this] { return stopped || requested; });
            if (stopped) {
                return;
            }
            requested = false;
        }
        const std::vector<std::string> lines = BuildListing(CallFinder());
        HostLog("[Listing] answering with %u lines", static_cast<unsigned>(lines.size()));
        for (size_t i = 0; i < lines.size(); ++i) {
            if (Stopping()) {
                return;
            }
            if (i + 1 == lines.size()) {
                // Before the closing line goes out: a request that comes once the controller
                // may have read it is answered anew, never taken for answered.
                std::lock_guard<std::mutex> guard(lock);
                underWay = false;
            }
            schedule::Point("listing.send");
            send(lines[i]);
        }
    }
}

FoundSources SourceListing::Shared::CallFinder() {
    if (!finder) {
        return {{}, kNotSupported};
    }
    std::unique_lock<std::mutex> guard(lock);
    if (calling) {
        return {{}, kBusy};  // the call that timed out is still inside the library
    }
    // Cleared before the call is handed over: the finder thread sets it only after it has
    // stored this call's result.
    found = false;
    calling = true;
    callRequested = true;
    changed.notify_all();
    const bool ended = changed.wait_for(guard, std::chrono::milliseconds(callBoundMs),
                                        [this] { return stopped || found; });
    if (stopped) {
        return {};  // stopping: nothing more is sent
    }
    if (!ended) {
        HostLog("[Listing] the finder did not return within %u ms", callBoundMs);
        return {{}, kTimedOut};
    }
    return std::move(result);
}

void SourceListing::Shared::FinderLoop() {
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(lock);
            changed.wait(guard, [this] { return stopped || callRequested; });
            if (stopped) {
                return;
            }
            callRequested = false;
        }
        FoundSources sources = finder->Find();
        schedule::Point("listing.found");
        {
            std::lock_guard<std::mutex> guard(lock);
            result = std::move(sources);
            found = true;
            calling = false;
            changed.notify_all();
        }
        schedule::Point("listing.stored");
    }
}

SourceListing::SourceListing(std::unique_ptr<SourceFinder> finder, SendLine send,
                             LinesWaiting waiting, unsigned callBoundMs)
    : shared_(std::make_shared<Shared>(std::move(finder), std::move(send), std::move(waiting),
                                       callBoundMs)) {}

SourceListing::~SourceListing() {
    if (Stop()) {
        // Both threads have ended: the finder goes here, on the owner's thread, before the
        // library it may use is unloaded. Otherwise a thread that still runs keeps it.
        shared_->finder.reset();
    }
}

void SourceListing::Request() {
    Shared& s = *shared_;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.stopped || s.underWay) {
            return;
        }
        // The end of an earlier listing that still waits in the outbox is read after this
        // request: it answers this one too, and nothing more piles up for a controller
        // that does not read. Asked under the lock, so that it sees every line the answer
        // thread has sent so far (it sends without this lock).
        if (s.waiting && s.waiting()) {
            return;
        }
        if (s.StartThreads(shared_)) {
            s.underWay = true;
            s.requested = true;
            s.changed.notify_all();
            return;
        }
    }
    HostLog("[Listing] cannot start its threads");
    s.send(BuildSourcesDone(0, kCannotStart));
}

bool SourceListing::Stop() {
    Shared& s = *shared_;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.stopped = true;
        s.changed.notify_all();
    }
    // Nothing starts a thread once stopped. A thread that outlasted one full wait is only
    // looked at again.
    const bool answerEnded = s.answerThread.Join(kAnswerJoinMs);
    return s.finderThread.Join(kFinderJoinMs) && answerEnded;
}
