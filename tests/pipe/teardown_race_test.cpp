// Start and Stop from the pipe reader and the main thread at once: the worker helper
// never runs two workers or closes a handle twice, and the command gate never lets a
// worker start after the teardown's Stop.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "command_gate.h"
#include "timing.h"
#include "worker_thread.h"

namespace {

// Counts workers alive at once; each worker runs until stopped, in short pauses.
struct WorkerCount {
    std::atomic<int> alive{0};
    std::atomic<int> most{0};
    std::atomic<int> started{0};
    WorkerThread* worker = nullptr;

    static void Body(void* context) {
        auto* self = static_cast<WorkerCount*>(context);
        int now = self->alive.fetch_add(1) + 1;
        self->started.fetch_add(1);
        int most = self->most.load();
        while (now > most && !self->most.compare_exchange_weak(most, now)) {
        }
        while (self->worker->Pause(2)) {
        }
        self->alive.fetch_sub(1);
    }
};

// Opens and checks fresh handles while the race runs: a handle value closed twice is
// soon reused, and the second close then takes one of these away from under us.
class HandleCanary {
public:
    HandleCanary() : thread_(CreateThread(nullptr, 0, &Main, this, 0, nullptr)) {}
    ~HandleCanary() { Finish(); }
    int Finish() {
        running_.store(false);
        if (thread_) {
            WaitForSingleObject(thread_.Get(), INFINITE);
            thread_.Reset();
        }
        return lost_.load();
    }

private:
    static DWORD WINAPI Main(LPVOID context) {
        auto* self = static_cast<HandleCanary*>(context);
        while (self->running_.load()) {
            HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
            Sleep(0);
            if (WaitForSingleObject(event, 0) == WAIT_FAILED || !CloseHandle(event)) {
                self->lost_.fetch_add(1);
            }
        }
        return 0;
    }

    std::atomic<bool> running_{true};
    std::atomic<int> lost_{0};
    UniqueHandle thread_;
};

template <typename Fn>
UniqueHandle RunThread(Fn* fn) {
    return UniqueHandle(CreateThread(
        nullptr, 0, [](LPVOID f) -> DWORD { return (*static_cast<Fn*>(f))(), 0u; }, fn, 0,
        nullptr));
}

TEST(TeardownRace, ConcurrentStartAndStopKeepOneWorkerAndCloseEachHandleOnce) {
    WorkerThread worker(3000);
    WorkerCount count;
    count.worker = &worker;
    HandleCanary canary;
    auto starter = [&] {
        for (int i = 0; i < 300; ++i) {
            worker.Start(&WorkerCount::Body, &count);
        }
    };
    auto stopper = [&] {
        for (int i = 0; i < 300; ++i) {
            worker.Stop();
        }
    };
    UniqueHandle a = RunThread(&starter);
    UniqueHandle b = RunThread(&stopper);
    UniqueHandle c = RunThread(&starter);
    HANDLE threads[] = {a.Get(), b.Get(), c.Get()};
    ASSERT_EQ(WaitForMultipleObjects(3, threads, TRUE, 60000), WAIT_OBJECT_0);
    worker.Stop();
    EXPECT_GT(count.started.load(), 0);
    EXPECT_EQ(count.most.load(), 1);
    EXPECT_EQ(count.alive.load(), 0);
    EXPECT_FALSE(worker.Stuck());
    EXPECT_EQ(canary.Finish(), 0);
}

// A worker that ignores the stop flag until the test releases it.
struct HeldWorker {
    std::atomic<int> alive{0};
    std::atomic<int> most{0};
    std::atomic<int> runs{0};
    UniqueHandle entered{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    static void Body(void* context) {
        auto* self = static_cast<HeldWorker*>(context);
        int now = self->alive.fetch_add(1) + 1;
        self->most.store(now > self->most.load() ? now : self->most.load());
        self->runs.fetch_add(1);
        SetEvent(self->entered.Get());
        WaitForSingleObject(self->release.Get(), 30000);
        self->alive.fetch_sub(1);
    }
};

using Result = WorkerThread::StartResult;

// A start while the worker hangs waits for it: the body runs again on its own once the
// hanging run returns, never beside it, unless a stop cancelled it meanwhile.
TEST(TeardownRace, AStartWhileAWorkerHangsRunsOnceItHasEndedUnlessStopped) {
    struct Case {
        const char* what;
        bool stopMeanwhile;
        int runs;
    } cases[] = {
        {"deferred start runs by itself", false, 2},
        {"a stop cancels the deferred start", true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WorkerThread worker(100);
        HeldWorker held;
        ASSERT_EQ(worker.Start(&HeldWorker::Body, &held), Result::Started);
        ASSERT_EQ(WaitForSingleObject(held.entered.Get(), 5000), WAIT_OBJECT_0);
        EXPECT_FALSE(worker.Stop());  // gives up after its 100 ms
        EXPECT_TRUE(worker.Stuck());
        EXPECT_EQ(worker.Start(&HeldWorker::Body, &held), Result::Deferred);
        EXPECT_EQ(worker.Start(&HeldWorker::Body, &held), Result::Deferred);
        if (c.stopMeanwhile) {
            EXPECT_FALSE(worker.Stop());  // looks, does not wait again
        }
        EXPECT_EQ(held.alive.load(), 1);
        SetEvent(held.release.Get());
        ASSERT_TRUE(
            WaitUntil([&] { return held.runs.load() == c.runs && held.alive.load() == 0; }, 10000));
        EXPECT_TRUE(worker.Stop());
        EXPECT_FALSE(worker.Stuck());
        EXPECT_EQ(held.runs.load(), c.runs);
        EXPECT_EQ(held.most.load(), 1);
        EXPECT_EQ(worker.Start(&HeldWorker::Body, &held), Result::Started);  // ends by itself
        EXPECT_TRUE(worker.Stop());
    }
}

// A receiver whose Start and Stop drive a real WorkerThread, as the hosts' do.
class WorkerReceiver : public HostReceiver {
public:
    WorkerReceiver() : worker_(3000) { count.worker = &worker_; }
    bool Prepare(FramePresenter&, StartupProblem&) override { return true; }
    void InstallCallbacks(HWND, StatusCallback, StatsCallback) override {}
    void OnFrameNotification(FramePresenter&) override {}
    bool Start(const std::string&, int) override {
        starts.fetch_add(1);
        return worker_.Start(&WorkerCount::Body, &count) == WorkerThread::StartResult::Started;
    }
    void Stop() override { worker_.Stop(); }
    void SetQuality(int) override {}
    void ReleaseFrames() override {}
    bool Stuck() override { return worker_.Stuck(); }

    WorkerCount count;
    std::atomic<int> starts{0};

private:
    WorkerThread worker_;
};

TEST(TeardownRace, NoSetSourceStartsAWorkerAfterTheTeardownsStop) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        WorkerReceiver receiver;
        CommandGate gate(receiver, nullptr);
        std::atomic<bool> reading{true};
        std::atomic<int> commands{0};
        // The reader thread handling "set_source" lines as fast as they come.
        auto reader = [&] {
            while (reading.load()) {
                gate.Stop();
                gate.Start("A", 100);
                commands.fetch_add(1);
            }
        };
        UniqueHandle thread = RunThread(&reader);
        // The close meets the commands at a different point each round.
        ASSERT_TRUE(WaitUntil([&] { return receiver.count.started.load() > 0; }, 10000));
        Sleep(static_cast<DWORD>(round));
        gate.CloseAndStop();
        int startsAtClose = receiver.starts.load();
        int commandsAtClose = commands.load();
        EXPECT_EQ(receiver.count.alive.load(), 0);
        // Judge the gate on a good number of commands that came after the close.
        ASSERT_TRUE(WaitUntil([&] { return commands.load() >= commandsAtClose + 50; }, 10000));
        EXPECT_EQ(receiver.starts.load(), startsAtClose);
        EXPECT_EQ(receiver.count.alive.load(), 0);
        reading.store(false);
        ASSERT_EQ(WaitForSingleObject(thread.Get(), 10000), WAIT_OBJECT_0);
        EXPECT_EQ(receiver.count.most.load(), 1);
    }
}

}  // namespace
