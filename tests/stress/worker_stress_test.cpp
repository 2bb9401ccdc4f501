// The receiver's worker, its deferred start, the command gate and the bounded thread under
// the writer, the listing and the reader, natively: rows that pin the rules down, and stress
// groups that race a start, a stop and the teardown against a run whose hang ends at any
// moment.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bounded_thread.h"
#include "command_gate.h"
#include "source_receiver.h"
#include "stress_log.h"
#include "stress_support.h"
#include "worker_thread.h"

namespace {

using Result = WorkerThread::StartResult;
using stress::EventLog;
using stress::Gate;
using stress::WaitFor;

// Counts bodies alive at once.
struct Overlap {
    std::atomic<int> alive{0};
    std::atomic<int> most{0};
    void Enter() {
        const int now = alive.fetch_add(1) + 1;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
    }
    void Leave() { alive.fetch_sub(1); }
};

// A body that runs until stopped, in short pauses.
struct Looping {
    WorkerThread* worker = nullptr;
    Overlap overlap;
    std::atomic<int> started{0};
    static void Body(void* context) {
        auto* self = static_cast<Looping*>(context);
        self->overlap.Enter();
        self->started.fetch_add(1);
        while (self->worker->Pause(2)) {
        }
        self->overlap.Leave();
    }
};

TEST(WorkerThreadRows, ConcurrentStartsAndStopsKeepOneWorker) {
    WorkerThread worker(3000);
    Looping looping;
    looping.worker = &worker;
    auto starter = [&] {
        for (int i = 0; i < 200; ++i) {
            worker.Start(&Looping::Body, &looping);
        }
    };
    auto stopper = [&] {
        for (int i = 0; i < 200; ++i) {
            worker.Stop();
        }
    };
    std::thread a(starter), b(stopper), c(starter);
    a.join();
    b.join();
    c.join();
    EXPECT_TRUE(worker.Stop());
    EXPECT_GT(looping.started.load(), 0);
    EXPECT_EQ(looping.overlap.most.load(), 1);
    EXPECT_EQ(looping.overlap.alive.load(), 0);
    EXPECT_FALSE(worker.Stuck());
}

// Bodies that ignore the stop flag until the test releases them; each start names the
// target it runs for.
struct Held {
    Overlap overlap;
    Gate release;
    std::atomic<bool> entered{false};
    std::atomic<int> runsOf[4] = {};
    struct Target {
        Held* held;
        int id;
    };
    static void Body(void* context) {
        auto* target = static_cast<Target*>(context);
        Held& self = *target->held;
        self.overlap.Enter();
        self.runsOf[target->id].fetch_add(1);
        self.entered.store(true);
        self.release.Pass();
        self.overlap.Leave();
    }
    int Runs() const { return runsOf[1] + runsOf[2] + runsOf[3]; }
};

// A start while the worker hangs waits for it: the newest target runs by itself, once,
// when the hanging run returns, never beside it, unless a stop cancelled it meanwhile.
TEST(WorkerThreadRows, AStartWhileAWorkerHangsRunsTheNewestTargetOnceItHasEndedUnlessStopped) {
    struct Case {
        const char* what;
        int secondTarget;  // the target of the second deferred start
        bool stopMeanwhile;
        int runsOf[4];  // by target, the hanging run (1) included
    } cases[] = {
        {"deferred start runs by itself", 2, false, {0, 1, 1, 0}},
        {"a stop cancels the deferred start", 2, true, {0, 1, 0, 0}},
        {"a later deferred start replaces the waiting one", 3, false, {0, 1, 0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WorkerThread worker(100);
        Held held;
        Held::Target targets[4] = {{&held, 0}, {&held, 1}, {&held, 2}, {&held, 3}};
        ASSERT_EQ(worker.Start(&Held::Body, &targets[1]), Result::Started);
        ASSERT_TRUE(WaitFor([&] { return held.entered.load(); }));
        EXPECT_FALSE(worker.Stop());  // gives up after its 100 ms
        EXPECT_TRUE(worker.Stuck());
        EXPECT_EQ(worker.Start(&Held::Body, &targets[2]), Result::Deferred);
        EXPECT_EQ(worker.Start(&Held::Body, &targets[c.secondTarget]), Result::Deferred);
        if (c.stopMeanwhile) {
            EXPECT_FALSE(worker.Stop());  // looks, does not wait again
        }
        EXPECT_EQ(held.overlap.alive.load(), 1);
        int expectedRuns = 0;
        for (int runs : c.runsOf) {
            expectedRuns += runs;
        }
        held.release.Open();
        ASSERT_TRUE(
            WaitFor([&] { return held.Runs() == expectedRuns && held.overlap.alive.load() == 0; }));
        EXPECT_TRUE(worker.Stop());
        EXPECT_FALSE(worker.Stuck());
        for (int id = 1; id < 4; ++id) {
            EXPECT_EQ(held.runsOf[id].load(), c.runsOf[id]) << "target " << id;
        }
        EXPECT_EQ(held.overlap.most.load(), 1);
        EXPECT_EQ(worker.Start(&Held::Body, &targets[1]), Result::Started);  // ends by itself
        EXPECT_TRUE(worker.Stop());
    }
}

// A thread held past its wait: waited for in full once, then only looked at, one at a time;
// what it uses stays until it ends, even when its owner has gone.
TEST(BoundedThreadRows, AThreadThatOutlastsItsWaitKeepsWhatItUsesAndIsOnlyLookedAt) {
    for (const bool ownerGoes : {false, true}) {
        SCOPED_TRACE(ownerGoes ? "the owner goes first" : "the owner looks again");
        Gate release;
        auto used = std::make_shared<int>(0);
        const std::weak_ptr<int> watch = used;
        int* raw = used.get();
        auto thread = std::make_unique<BoundedThread>();
        ASSERT_TRUE(thread->Start(used, [raw, &release] {
            release.Pass();
            *raw = 1;  // after its owner has let go
        }));
        EXPECT_FALSE(thread->Join(20));
        EXPECT_FALSE(thread->Start(used, [] {}));
        const auto before = std::chrono::steady_clock::now();
        EXPECT_FALSE(thread->Join(20000));
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(10));
        used.reset();
        if (ownerGoes) {
            thread.reset();
        }
        release.Open();
        EXPECT_TRUE(WaitFor([&] { return watch.expired(); }));
        if (!ownerGoes) {
            EXPECT_TRUE(WaitFor([&] { return thread->Join(0); }));
            EXPECT_FALSE(thread->Started());
        }
    }
}

// A receiver whose Start and Stop drive a WorkerThread, as the hosts' do.
class LoopingReceiver : public ReceiverCommands {
public:
    LoopingReceiver() : worker_(3000) { looping.worker = &worker_; }
    bool Start(const std::string&, int) override {
        starts.fetch_add(1);
        return worker_.Start(&Looping::Body, &looping) == Result::Started;
    }
    void Stop() override { worker_.Stop(); }
    void SetQuality(int) override {}

    Looping looping;
    std::atomic<int> starts{0};

private:
    WorkerThread worker_;
};

TEST(WorkerThreadRows, NoSetSourceStartsAWorkerAfterTheTeardownsStop) {
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        LoopingReceiver receiver;
        CommandGate gate(receiver, {});
        std::atomic<bool> reading{true};
        std::atomic<int> commands{0};
        // The reader thread handling "set_source" lines as fast as they come.
        std::thread reader([&] {
            while (reading.load()) {
                gate.Stop();
                gate.Start("A", 100);
                commands.fetch_add(1);
            }
        });
        // The close meets the commands at a different point each round.
        ASSERT_TRUE(WaitFor([&] { return receiver.looping.started.load() > 0; }));
        std::this_thread::sleep_for(std::chrono::milliseconds(round));
        gate.CloseAndStop();
        const int startsAtClose = receiver.starts.load();
        const int commandsAtClose = commands.load();
        EXPECT_EQ(receiver.looping.overlap.alive.load(), 0);
        // Judge the gate on a good number of commands that came after the close.
        ASSERT_TRUE(WaitFor([&] { return commands.load() >= commandsAtClose + 50; }));
        EXPECT_EQ(receiver.starts.load(), startsAtClose);
        EXPECT_EQ(receiver.looping.overlap.alive.load(), 0);
        reading.store(false);
        reader.join();
        EXPECT_EQ(receiver.looping.overlap.most.load(), 1);
    }
}

// --- stress: a start, a stop and the teardown against a hang that ends at any moment ----

// The bodies of one iteration, each started for a target of its own. A body "begins live"
// when the worker was running as it began: it then acts on its target. One that begins
// after a stop (a deferred start taken just before that stop) ends at once and does
// nothing, so only live beginnings count.
struct Targets {
    struct Target {
        Targets* owner;
        int id;
    };
    WorkerThread* worker = nullptr;
    EventLog log;
    Overlap overlap;
    Gate hang;  // the first target hangs until it opens
    std::deque<Target> targets;

    Target* Make() {
        targets.push_back({this, static_cast<int>(targets.size())});
        return &targets.back();
    }
    static void Body(void* context) {
        auto* target = static_cast<Target*>(context);
        Targets& self = *target->owner;
        self.overlap.Enter();
        const std::string id = std::to_string(target->id);
        WorkerThread& worker = *self.worker;
        self.log.AddIf([&worker] { return worker.running(); }, "begin " + id);
        if (target->id == 0) {
            self.hang.Pass();
        } else {
            while (self.worker->Pause(1)) {
            }
        }
        self.overlap.Leave();
    }
};

// What a later call may not find: a target that begins live once a later start or stop has
// returned, a target that begins twice, a newest target that never begins, and any live
// beginning after a final stop.
void CheckTargets(const std::vector<std::string>& log, int calls, bool lastIsStop) {
    const std::string text = EventLog::Text(log);
    for (int id = 0; id < calls; ++id) {
        const std::string begin = "begin " + std::to_string(id);
        const size_t at = EventLog::Find(log, begin);
        if (at == log.size()) {
            continue;
        }
        EXPECT_EQ(EventLog::Find(log, begin, at + 1), log.size()) << begin << " twice\n" << text;
        for (int later = id + 1; later < calls; ++later) {
            EXPECT_GT(EventLog::Find(log, "ret " + std::to_string(later)), at)
                << begin << " after call " << later << " had returned\n"
                << text;
        }
    }
    const std::string last = std::to_string(calls - 1);
    if (lastIsStop) {
        for (size_t i = EventLog::Find(log, "ret " + last); i < log.size(); ++i) {
            EXPECT_NE(log[i].rfind("begin ", 0), 0u) << "after the last stop\n" << text;
        }
    } else {
        EXPECT_LT(EventLog::Find(log, "begin " + last), log.size())
            << "the newest target never began\n"
            << text;
    }
}

TEST(WorkerStress, AStartOrStopWhileARunHangsLeavesOnlyTheNewestTarget) {
    stress::Run("worker deferred start", {3000, 3.0}, [](int, std::mt19937_64& rng) {
        WorkerThread worker(static_cast<unsigned>(stress::Between(rng, 0, 2)));
        Targets t;
        t.worker = &worker;
        ASSERT_EQ(worker.Start(&Targets::Body, t.Make()), Result::Started);
        t.log.Add("ret 0");
        ASSERT_TRUE(WaitFor([&] { return t.log.Has("begin 0"); }));
        // The hang ends at a random moment near the calls below.
        const int releaseUs = stress::Between(rng, 0, 4000);
        std::thread releaser([&t, releaseUs] {
            std::this_thread::sleep_for(std::chrono::microseconds(releaseUs));
            t.hang.Open();
        });
        const int calls = stress::Between(rng, 1, 4);
        bool lastIsStop = false;
        for (int i = 0; i < calls; ++i) {
            lastIsStop = stress::Between(rng, 0, 3) == 0;
            Targets::Target* target = t.Make();
            const std::string id = std::to_string(target->id);
            if (lastIsStop) {
                worker.Stop();
            } else {
                worker.Start(&Targets::Body, target);
            }
            t.log.Add("ret " + id);
            stress::SleepUpTo(rng, 500);
        }
        releaser.join();
        const int total = calls + 1;
        if (!lastIsStop) {
            ASSERT_TRUE(WaitFor([&] { return t.log.Has("begin " + std::to_string(total - 1)); }))
                << EventLog::Text(t.log.Events());
        }
        ASSERT_TRUE(WaitFor([&] { return worker.Stop(); }));
        EXPECT_EQ(t.overlap.alive.load(), 0);
        EXPECT_EQ(t.overlap.most.load(), 1);
        CheckTargets(t.log.Events(), total, lastIsStop);
    });
}

// --- stress: the receiver's "Receiver busy" ---------------------------------------------

// A receiver whose attempt reports "connecting" and then receives until stopped; an attempt
// on a source named "hang-*" first waits for that source's gate, whatever the stop flag
// says, as a library call that hangs does.
class FakeReceiver final : public SourceReceiver {
public:
    static std::shared_ptr<FakeReceiver> Create(unsigned stopWaitMs) {
        return std::shared_ptr<FakeReceiver>(new FakeReceiver(stopWaitMs));
    }
    bool Start(const std::string& source) { return StartReceiving(source, 100); }
    // Logs each attempt that begins while the worker runs: one that acts on its source.
    void LogAttempts(EventLog* log) { attempts_ = log; }
    // The gate the attempt on `source` waits for once; it must outlive the receiver's runs.
    void Hang(const std::string& source, Gate* gate) {
        std::lock_guard<std::mutex> lock(lock_);
        hangs_.push_back({source, gate});
    }

private:
    explicit FakeReceiver(unsigned stopWaitMs) : SourceReceiver("[Fake]", stopWaitMs) {}

    AttemptEnd RunAttempt(const Settings& settings) override {
        if (attempts_ != nullptr) {
            attempts_->AddIf([this] { return Running(); }, "attempt " + settings.source);
        }
        NotifyStatus("connecting", settings.source.c_str());
        if (Gate* gate = TakeHang(settings.source)) {
            gate->Pass();
        }
        while (Receiving()) {
            Pause(1);
        }
        return AttemptEnd::Stopped;
    }
    Gate* TakeHang(const std::string& source) {
        std::lock_guard<std::mutex> lock(lock_);
        for (auto& hang : hangs_) {
            if (hang.first == source && hang.second != nullptr) {
                return std::exchange(hang.second, nullptr);
            }
        }
        return nullptr;
    }

    std::mutex lock_;
    std::vector<std::pair<std::string, Gate*>> hangs_;
    EventLog* attempts_ = nullptr;
};

// One iteration's calls on a receiver: each a start on a source of its own ("hang-<i>" or
// "plain-<i>") or a stop.
struct Call {
    enum Kind { Hang, Plain, Stop } kind;
    std::string source;
};

const std::string kBusy = "status error Receiver busy";

std::string StatusOf(const std::string& state, const std::string& source) {
    return "status " + state + " " + source;
}

// "Receiver busy" comes before the reports of the source it held back, once for each run
// that hangs, and never leaves a later hang unreported.
void CheckBusyReports(const std::vector<std::string>& log, const std::vector<Call>& calls) {
    const std::string text = EventLog::Text(log);
    for (size_t at = 0; at < log.size(); ++at) {
        if (log[at] != kBusy) {
            continue;
        }
        size_t call = at;
        while (call > 0 && log[call].rfind("call ", 0) != 0) {
            --call;
        }
        ASSERT_EQ(log[call].rfind("call ", 0), 0u) << "a busy report outside any call\n" << text;
        const Call& held = calls[static_cast<size_t>(std::stoi(log[call].substr(5)))];
        EXPECT_GT(EventLog::Find(log, StatusOf("connecting", held.source), call), at)
            << "busy after the reports of " << held.source << ", the source it held back\n"
            << text;
    }
    // Every start that returned false after a hanging run began and before its hang ended
    // was deferred behind that run (one deferred behind the run before it would have
    // replaced the hanging run's source, which then never runs): together they report one
    // busy.
    for (size_t hang = 0; hang < calls.size(); ++hang) {
        const size_t began = EventLog::Find(log, StatusOf("connecting", calls[hang].source));
        if (calls[hang].kind != Call::Hang || began == log.size()) {
            continue;  // replaced or cancelled before it ran
        }
        const size_t released = EventLog::Find(log, "released " + calls[hang].source);
        int deferred = 0;
        int busy = 0;
        for (size_t i = hang + 1; i < calls.size(); ++i) {
            const size_t from = EventLog::Find(log, "call " + std::to_string(i));
            const size_t to = EventLog::Find(log, "ret " + std::to_string(i) + " 0", from);
            if (to >= released) {
                continue;
            }
            ++deferred;
            for (size_t j = from; j < to; ++j) {
                busy += log[j] == kBusy;
            }
        }
        if (deferred > 0) {
            EXPECT_EQ(busy, 1) << deferred << " starts deferred behind the hang of "
                               << calls[hang].source << "\n"
                               << text;
        }
    }
}

TEST(ReceiverStress, ReceiverBusyComesOnceForEachHangAndBeforeTheSourceItHeldBack) {
    stress::Run("receiver busy", {2000, 3.0}, [](int, std::mt19937_64& rng) {
        auto receiver = FakeReceiver::Create(static_cast<unsigned>(stress::Between(rng, 0, 3)));
        EventLog log;
        receiver->SetStatusCallback(
            [&log](const char* state, const char* source) { log.Add(StatusOf(state, source)); });
        // The plan: the first call hangs, then starts and stops in any order.
        std::vector<Call> calls(static_cast<size_t>(stress::Between(rng, 3, 6)));
        std::deque<Gate> gates;
        std::vector<int> releaseUs;
        for (size_t i = 0; i < calls.size(); ++i) {
            const int roll = i == 0 ? 0 : stress::Between(rng, 0, 5);
            Call& call = calls[i];
            call.kind = roll < 3 ? Call::Hang : roll < 5 ? Call::Plain : Call::Stop;
            call.source = (call.kind == Call::Hang ? "hang-" : "plain-") + std::to_string(i);
            if (call.kind == Call::Hang) {
                gates.emplace_back();
                receiver->Hang(call.source, &gates.back());
                releaseUs.push_back(stress::Between(rng, 0, 3000));
            }
        }
        auto issue = [&](size_t i) {
            const std::string id = std::to_string(i);
            log.Add("call " + id);
            if (calls[i].kind == Call::Stop) {
                receiver->Stop();
                log.Add("ret " + id + " stop");
            } else {
                log.Add("ret " + id + (receiver->Start(calls[i].source) ? " 1" : " 0"));
            }
        };
        issue(0);
        ASSERT_TRUE(WaitFor([&] { return log.Has(StatusOf("connecting", "hang-0")); }));
        // Each hang ends at a random moment after its own call.
        std::atomic<size_t> issued{1};
        std::thread releaser([&] {
            size_t gate = 0;
            for (size_t i = 0; i < calls.size(); ++i) {
                if (calls[i].kind != Call::Hang) {
                    continue;
                }
                WaitFor([&] { return issued.load() > i; });
                std::this_thread::sleep_for(std::chrono::microseconds(releaseUs[gate]));
                log.Add("released " + calls[i].source);
                gates[gate++].Open();
            }
        });
        for (size_t i = 1; i < calls.size(); ++i) {
            stress::SleepUpTo(rng, 500);
            issue(i);
            issued.store(i + 1);
        }
        releaser.join();
        // Settled: the newest source runs, or the last stop has ended every run. The
        // controller's last report is then the true state.
        const Call& last = calls.back();
        const std::string truth = last.kind == Call::Stop ? StatusOf("disconnected", "")
                                                          : StatusOf("connecting", last.source);
        ASSERT_TRUE(WaitFor([&] { return !receiver->Stuck(); }));
        if (last.kind != Call::Stop) {
            const std::string lastCall = "call " + std::to_string(calls.size() - 1);
            ASSERT_TRUE(WaitFor([&] {
                const auto events = log.Events();
                return EventLog::Find(events, truth, EventLog::Find(events, lastCall)) <
                       events.size();
            })) << EventLog::Text(log.Events());
        }
        std::vector<std::string> events = log.Events();
        size_t lastStatus = events.size();
        while (lastStatus > 0 && events[lastStatus - 1].rfind("status ", 0) != 0) {
            --lastStatus;
        }
        ASSERT_GT(lastStatus, 0u);
        EXPECT_EQ(events[lastStatus - 1], truth) << EventLog::Text(events);
        CheckBusyReports(events, calls);
        receiver->Stop();
        ASSERT_TRUE(WaitFor([&] { return !receiver->Stuck(); }));
    });
}

// The receiver behind a command gate, as the hosts have it.
class GatedReceiver : public ReceiverCommands {
public:
    explicit GatedReceiver(std::shared_ptr<FakeReceiver> receiver)
        : receiver_(std::move(receiver)) {}
    bool Start(const std::string& source, int) override { return receiver_->Start(source); }
    void Stop() override { receiver_->Stop(); }
    void SetQuality(int) override {}

private:
    std::shared_ptr<FakeReceiver> receiver_;
};

// The teardown's stop while the reader's commands keep coming and a hang ends at any
// moment: no attempt begins once it has returned, and the last report is "disconnected".
TEST(ReceiverStress, TheTeardownCancelsADeferredStartAndStartsNothing) {
    stress::Run("teardown cancels", {2000, 2.0}, [](int, std::mt19937_64& rng) {
        auto receiver = FakeReceiver::Create(static_cast<unsigned>(stress::Between(rng, 0, 3)));
        EventLog log;
        receiver->LogAttempts(&log);
        receiver->SetStatusCallback(
            [&log](const char* state, const char* source) { log.Add(StatusOf(state, source)); });
        GatedReceiver commands(receiver);
        CommandGate gate(commands, {[&log] { log.Add("wake"); }, nullptr});
        Gate hang;
        receiver->Hang("hang-0", &hang);
        gate.Start("hang-0", 100);
        ASSERT_TRUE(WaitFor([&] { return log.Has(StatusOf("connecting", "hang-0")); }));
        const int releaseUs = stress::Between(rng, 0, 3000);
        const int closeUs = stress::Between(rng, 0, 3000);
        const int commandCount = stress::Between(rng, 1, 5);
        std::vector<int> pausesUs;
        for (int i = 0; i < commandCount; ++i) {
            pausesUs.push_back(stress::Between(rng, 0, 600));
        }
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(releaseUs));
            hang.Open();
        });
        std::thread reader([&] {
            for (int i = 0; i < commandCount; ++i) {
                if (i % 3 == 2) {
                    gate.Stop();
                } else {
                    gate.Start("plain-" + std::to_string(i), 100);
                }
                std::this_thread::sleep_for(std::chrono::microseconds(pausesUs[i]));
            }
        });
        std::this_thread::sleep_for(std::chrono::microseconds(closeUs));
        gate.CloseAndStop();
        log.Add("closed");
        reader.join();
        releaser.join();
        ASSERT_TRUE(WaitFor([&] { return !receiver->Stuck(); }));
        const std::vector<std::string> events = log.Events();
        const size_t closed = EventLog::Find(events, "closed");
        for (size_t i = closed; i < events.size(); ++i) {
            EXPECT_NE(events[i].rfind("attempt ", 0), 0u) << EventLog::Text(events);
        }
        size_t lastStatus = events.size();
        while (lastStatus > 0 && events[lastStatus - 1].rfind("status ", 0) != 0) {
            --lastStatus;
        }
        ASSERT_GT(lastStatus, 0u);
        EXPECT_EQ(events[lastStatus - 1], StatusOf("disconnected", "")) << EventLog::Text(events);
    });
}

}  // namespace
