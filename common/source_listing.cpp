#include "source_listing.h"

#include <atomic>
#include <vector>

#include "log.h"
#include "protocol.h"
#include "win_types.h"

namespace {

// The answer thread only posts its lines (it never waits for the pipe) and wakes at once
// when stopped; the finder thread may be inside a finder's own wait (about 1000 ms).
constexpr DWORD kAnswerJoinMs = 2500;
constexpr DWORD kFinderJoinMs = SourceListing::kStopBoundMs - kAnswerJoinMs;

const char kNotSupported[] = "Source listing not supported";
const char kTimedOut[] = "Source listing timed out";
const char kBusy[] = "Source listing busy";
const char kCannotStart[] = "Cannot start source listing";

}  // namespace

struct SourceListing::Shared {
    Shared(std::unique_ptr<SourceFinder> sourceFinder, SendLine sendLine, DWORD boundMs)
        : finder(std::move(sourceFinder)), send(std::move(sendLine)), callBoundMs(boundMs) {}

    std::unique_ptr<SourceFinder> finder;
    SendLine send;
    DWORD callBoundMs;
    UniqueHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};  // set once, by Stop
    UniqueHandle requested{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    UniqueHandle callRequested{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    UniqueHandle found{CreateEventW(nullptr, TRUE, FALSE, nullptr)};  // the call returned
    UniqueHandle answerThread;  // Request (under lock) and Stop
    UniqueHandle finderThread;  // likewise
    bool outlasted = false;     // Stop: a thread outlasted one full wait

    CriticalSection lock;
    bool underWay = false;  // under lock: requested and not yet answered
    bool stopped = false;   // under lock
    FoundSources result;    // under lock: what the last call returned
    // A call was handed to the finder thread and has not returned yet.
    std::atomic<bool> calling{false};

    static DWORD WINAPI AnswerMain(LPVOID self);
    static DWORD WINAPI FinderMain(LPVOID self);
    bool StartThreads();
    void AnswerLoop();
    void FinderLoop();
    FoundSources CallFinder();
    bool Stopping() const { return WaitForSingleObject(stop.Get(), 0) == WAIT_OBJECT_0; }
};

DWORD WINAPI SourceListing::Shared::AnswerMain(LPVOID self) {
    static_cast<Shared*>(self)->AnswerLoop();
    return 0;
}

DWORD WINAPI SourceListing::Shared::FinderMain(LPVOID self) {
    static_cast<Shared*>(self)->FinderLoop();
    return 0;
}

// Under lock, at the first request: the threads of a host that never lists never exist.
bool SourceListing::Shared::StartThreads() {
    if (!stop || !requested || !callRequested || !found) {
        return false;
    }
    if (finder && !finderThread) {
        finderThread.Reset(CreateThread(nullptr, 0, &FinderMain, this, 0, nullptr));
    }
    if (!answerThread) {
        answerThread.Reset(CreateThread(nullptr, 0, &AnswerMain, this, 0, nullptr));
    }
    return answerThread && (finderThread || !finder);
}

void SourceListing::Shared::AnswerLoop() {
    HANDLE waits[2] = {stop.Get(), requested.Get()};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        const std::vector<std::string> lines = BuildListing(CallFinder());
        HostLog("[Listing] answering with %u lines", static_cast<unsigned>(lines.size()));
        for (size_t i = 0; i < lines.size(); ++i) {
            if (Stopping()) {
                return;
            }
            if (i + 1 == lines.size()) {
                // Before the closing line goes out: a request that comes once the controller
                // may have read it is answered anew, never taken for answered.
                ScopedLock guard(lock);
                underWay = false;
            }
            send(lines[i]);
        }
    }
}

FoundSources SourceListing::Shared::CallFinder() {
    if (!finder) {
        return {{}, kNotSupported};
    }
    if (calling.load()) {
        return {{}, kBusy};  // the call that timed out is still inside the library
    }
    // Reset before the call is handed over: the finder thread sets it only after it has
    // stored this call's result.
    ResetEvent(found.Get());
    calling.store(true);
    SetEvent(callRequested.Get());
    HANDLE waits[2] = {stop.Get(), found.Get()};
    switch (WaitForMultipleObjects(2, waits, FALSE, callBoundMs)) {
        case WAIT_OBJECT_0 + 1: {
            ScopedLock guard(lock);
            return std::move(result);
        }
        case WAIT_TIMEOUT:
            HostLog("[Listing] the finder did not return within %lu ms", callBoundMs);
            return {{}, kTimedOut};
        default:
            return {};  // stopping: nothing more is sent
    }
}

void SourceListing::Shared::FinderLoop() {
    HANDLE waits[2] = {stop.Get(), callRequested.Get()};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
        FoundSources sources = finder->Find();
        {
            ScopedLock guard(lock);
            result = std::move(sources);
        }
        // In this order: the answer thread hands over a new call only once `calling` is
        // clear, and resets `found` first, so a late call never wakes it for a new one.
        SetEvent(found.Get());
        calling.store(false);
    }
}

SourceListing::SourceListing(std::unique_ptr<SourceFinder> finder, SendLine send,
                             unsigned callBoundMs)
    : shared_(std::make_unique<Shared>(std::move(finder), std::move(send), callBoundMs)) {}

SourceListing::~SourceListing() {
    if (!Stop()) {
        // A thread may still use the shared state, the finder above all (a call inside the
        // library): it stays until the process ends.
        (void)shared_.release();
    }
}

void SourceListing::Request() {
    Shared& s = *shared_;
    {
        ScopedLock guard(s.lock);
        if (s.stopped || s.underWay) {
            return;
        }
        if (s.StartThreads()) {
            s.underWay = true;
            SetEvent(s.requested.Get());
            return;
        }
    }
    HostLog("[Listing] cannot start its threads");
    s.send(BuildSourcesDone(0, kCannotStart));
}

bool SourceListing::Stop() {
    Shared& s = *shared_;
    {
        ScopedLock guard(s.lock);
        s.stopped = true;
    }
    if (s.stop) {
        SetEvent(s.stop.Get());
    }
    // A thread that outlasted one full wait is only looked at again.
    const bool lookOnly = s.outlasted;
    auto join = [lookOnly](UniqueHandle& thread, DWORD waitMs) {
        if (thread && WaitForSingleObject(thread.Get(), lookOnly ? 0 : waitMs) == WAIT_OBJECT_0) {
            thread.Reset();
        }
    };
    join(s.answerThread, kAnswerJoinMs);
    join(s.finderThread, kFinderJoinMs);
    s.outlasted = s.answerThread || s.finderThread;
    return !s.outlasted;
}
