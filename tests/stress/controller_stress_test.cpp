// Stress groups of the controller library's thread logic, natively: a handle destroyed
// while every other call runs on other threads, from inside its callback and from inside a
// message; the event queue full with every kind of event between several producers and
// pollers; source listings asked for while one is running or ending, with the end arriving
// mid-listing. The handle is the C interface's own lifetime logic (HandleLifetime) over a
// fake host made of the real core pieces (event queue, callback runner, listing waiters).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "callback_runner.h"
#include "event_queue.h"
#include "handle_lifetime.h"
#include "listing_waiters.h"
#include "schedule_point.h"
#include "source_gatherer.h"
#include "stress_support.h"
#include "thread_wait.h"
#include "thread_wait_posix.h"

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define STRESS_DEATH_CALLBACK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define STRESS_DEATH_CALLBACK 1
#endif
#endif
#ifdef STRESS_DEATH_CALLBACK
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

constexpr stress::Budget kBudget{20000, 2.0};

std::atomic<const char*> runningGroup{""};
std::atomic<int> runningIteration{-1};

#ifdef STRESS_DEATH_CALLBACK
// A sanitizer that ends the program on a report says where the group was.
void SayWhereOnDeath() {
    std::fprintf(stderr, "%s: ended in iteration %d; replay with STRESS_SEED=%llu\n",
                 runningGroup.load(), runningIteration.load(),
                 static_cast<unsigned long long>(stress::Seed()));
}
#endif

// Ends the test program with the seed when an iteration makes no progress: a deadlock is
// one of the faults these groups look for, and it should say so rather than hang.
class Watchdog {
public:
    explicit Watchdog(const char* group) : group_(group), thread_([this] { Watch(); }) {
        runningGroup = group;
#ifdef STRESS_DEATH_CALLBACK
        __sanitizer_set_death_callback(&SayWhereOnDeath);
#endif
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(lock_);
            done_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    void Progress(int iteration) {
        runningIteration = iteration;
        std::lock_guard<std::mutex> lock(lock_);
        iteration_ = iteration;
        changed_.notify_all();
    }

private:
    void Watch() {
        std::unique_lock<std::mutex> lock(lock_);
        while (!done_) {
            int seen = iteration_;
            if (!changed_.wait_for(lock, std::chrono::seconds(90),
                                   [&] { return done_ || iteration_ != seen; })) {
                std::fprintf(stderr, "%s: iteration %d never ended; replay with STRESS_SEED=%llu\n",
                             group_, seen, static_cast<unsigned long long>(stress::Seed()));
                std::abort();
            }
        }
    }

    const char* group_;
    std::mutex lock_;
    std::condition_variable changed_;
    int iteration_ = -1;
    bool done_ = false;
    std::thread thread_;
};

// Threads of the fake library (reader, callback) that have not yet finished.
std::atomic<int> libraryThreads{0};
std::atomic<int> handlesFreed{0};

void AwaitLibraryThreads() {
    while (libraryThreads.load() != 0) {
        std::this_thread::yield();
    }
}

template <typename Body>
void StartLibraryThread(Body body) {
    ++libraryThreads;
    std::thread([body] {
        body();
        --libraryThreads;
    }).detach();
}

// The host behind a fake handle, shared with its threads as HostProcess::State is.
struct FakeHost {
    explicit FakeHost(size_t capacity) : queue(capacity) {}

    EventQueue queue;
    ListingWaiters listings;
    Signal ready;
    Signal readingEnded;
    Signal stopRequested;
    std::unique_ptr<CallbackRunner> callbacks;
};

HostEvent Event(HostEventType type, int value = 0) {
    HostEvent event;
    event.type = type;
    event.width = value;
    return event;
}

// The reader: the pipe opening, host_ready unless told otherwise, a few reports and
// listings, then nothing until End; then the end of reading and the exit.
void RunFakeReader(const std::shared_ptr<FakeHost>& host, bool becomesReady, int lines,
                   bool listingsToo) {
    host->queue.Push(Event(HostEventType::PipeOpened));
    if (becomesReady) {
        host->queue.Push(Event(HostEventType::Ready));
        host->ready.Set();
    }
    for (int i = 0; i < lines && !host->stopRequested.IsSet(); ++i) {
        schedule::Point("fake reader: line");
        if (listingsToo && i % 3 == 2) {
            HostEvent listing = Event(HostEventType::Sources, i);
            listing.names = {"L" + std::to_string(i)};
            host->listings.Close(listing);
            host->queue.Push(std::move(listing));
        } else {
            host->queue.Push(Event(i % 2 ? HostEventType::Stats : HostEventType::Status, i));
        }
    }
    host->stopRequested.Wait(kWaitForever);
    schedule::Point("fake reader: host gone");
    host->readingEnded.Set();
    host->queue.Push(Event(HostEventType::Exited));
    host->queue.Close();
}

enum class Outcome { Ok, Ended, TimedOut, Destroyed };

// A handle of the C interface's lifetime over a fake host. Its calls take the same shape
// as the C functions: one HandleLifetime::Call each, waits that take sent messages.
class FakeHandle : public HandleLifetime {
public:
    // `returned` counts the calls just before they return.
    explicit FakeHandle(std::atomic<int>* returned = nullptr)
        : host_(std::make_shared<FakeHost>(static_cast<size_t>(4))), returned_(returned) {}
    ~FakeHandle() override {
        EndTheHost();
        StopCallbacks();
        ++handlesFreed;
    }

    // hc_start: the host's threads begin.
    void Start(CallbackRunner::Deliver callback, bool becomesReady, int lines, bool listings) {
        if (callback) {
            host_->callbacks = std::make_unique<CallbackRunner>(host_->queue, std::move(callback));
            std::shared_ptr<FakeHost> host = host_;
            StartLibraryThread([host] { host->callbacks->Run(); });
        }
        std::shared_ptr<FakeHost> host = host_;
        StartLibraryThread([host, becomesReady, lines, listings] {
            RunFakeReader(host, becomesReady, lines, listings);
        });
    }

    Outcome WaitReady(unsigned timeoutMs, std::atomic<bool>* entered = nullptr) {
        Call call(*this);
        Mark(entered);
        const Signal* waits[2] = {&host_->ready, &host_->readingEnded};
        int woken = WaitAny(waits, 2, timeoutMs);
        return Result(call, woken == 0   ? Outcome::Ok
                            : woken == 1 ? Outcome::Ended
                                         : Outcome::TimedOut);
    }
    Outcome ListSources(unsigned timeoutMs, std::atomic<bool>* entered = nullptr) {
        Call call(*this);
        Mark(entered);
        ListingWaiters::Waiter waiter(host_->listings);
        auto outcome = waiter.Await(host_->readingEnded, timeoutMs);
        call.record().listed = waiter.names;
        return Result(call, outcome == ListingWaiters::Waiter::Outcome::Answered ? Outcome::Ok
                            : outcome == ListingWaiters::Waiter::Outcome::ReadingEnded
                                ? Outcome::Ended
                                : Outcome::TimedOut);
    }
    Outcome NextEvent(unsigned timeoutMs, std::atomic<bool>* entered = nullptr) {
        Call call(*this);
        Mark(entered);
        if (host_->callbacks) {
            return Result(call, Outcome::Ended);
        }
        bool taken = host_->queue.Pop(call.record().polled, timeoutMs);
        return Result(call, taken ? Outcome::Ok : Outcome::TimedOut);
    }
    Outcome SetSource(std::atomic<bool>* entered = nullptr) {
        Call call(*this);
        Mark(entered);
        call.record().error = host_->readingEnded.IsSet() ? "the host has ended" : "";
        return Result(call, Outcome::Ok);
    }
    Outcome End(std::atomic<bool>* entered = nullptr) {
        Call call(*this);
        Mark(entered);
        EndTheHost();
        return Result(call, Outcome::Ok);
    }

private:
    static void Mark(std::atomic<bool>* entered) {
        if (entered) {
            entered->store(true);
        }
    }
    Outcome Result(Call&, Outcome outcome) {
        if (returned_) {
            ++*returned_;
        }
        return Destroying() ? Outcome::Destroyed : outcome;
    }
    bool MustNotWait() override { return host_->callbacks && host_->callbacks->InsideCallback(); }
    void EndHost() override {
        EndTheHost();
        StopCallbacks();
    }
    // HostProcess::End's steps: the host asked to go and gone, its events delivered.
    void EndTheHost() {
        host_->stopRequested.Set();
        host_->readingEnded.Wait(kWaitForever);
        if (host_->callbacks) {
            host_->callbacks->AwaitEnd(60000);
        }
    }
    void StopCallbacks() {
        if (host_->callbacks) {
            host_->callbacks->Stop();
            host_->queue.Close();
            host_->callbacks->AwaitEnd(kWaitForever);
        }
    }

    std::shared_ptr<FakeHost> host_;
    std::atomic<int>* returned_;
};

// One call of each kind, chosen at random: those that wait end once the host has gone.
Outcome AnyCall(FakeHandle& handle, std::mt19937_64& rng, std::atomic<bool>* entered) {
    switch (stress::Between(rng, 0, 4)) {
        case 0:
            return handle.WaitReady(kWaitForever, entered);
        case 1:
            return handle.ListSources(static_cast<unsigned>(stress::Between(rng, 0, 2)), entered);
        case 2:
            return handle.NextEvent(static_cast<unsigned>(stress::Between(rng, 0, 1)), entered);
        case 3:
            return handle.SetSource(entered);
        default:
            return handle.End(entered);
    }
}

TEST(ControllerStress, DestroyRacesEveryOtherCallOnOtherThreads) {
    Watchdog watchdog("destroy racing calls");
    stress::Run("destroy racing calls", kBudget, [&](int iteration, std::mt19937_64& rng) {
        watchdog.Progress(iteration);
        const int freedBefore = handlesFreed.load();
        std::atomic<int> inCallback{0};
        std::atomic<bool> destroyReturned{false};
        std::atomic<bool> callbackAfterDestroy{false};
        CallbackRunner::Deliver callback;
        if (stress::Between(rng, 0, 1)) {
            callback = [&](const HostEvent&) {
                ++inCallback;
                schedule::Point("test callback: busy");
                callbackAfterDestroy = callbackAfterDestroy || destroyReturned;
                --inCallback;
            };
        }
        std::atomic<int> returned{0};
        auto* handle = new FakeHandle(&returned);
        handle->Start(callback, stress::Between(rng, 0, 1) == 1, stress::Between(rng, 0, 8), true);
        const int callers = stress::Between(rng, 1, 3);
        std::vector<std::atomic<bool>> entered(static_cast<size_t>(callers));
        std::vector<std::thread> threads;
        for (int i = 0; i < callers; ++i) {
            uint64_t seed = rng();
            threads.emplace_back([handle, seed, flag = &entered[static_cast<size_t>(i)]] {
                std::mt19937_64 own(seed);
                AnyCall(*handle, own, flag);
            });
        }
        for (std::atomic<bool>& flag : entered) {
            while (!flag.load()) {
                std::this_thread::yield();
            }
        }
        schedule::Point("test: destroy begins");
        HandleLifetime::Destroy(handle);
        destroyReturned = true;
        EXPECT_EQ(inCallback.load(), 0) << "a callback ran on after the destroy returned";
        EXPECT_EQ(handlesFreed.load(), freedBefore + 1)
            << "the destroy returned before the handle was freed";
        EXPECT_EQ(returned.load(), callers) << "the destroy returned before a call in progress";
        for (std::thread& thread : threads) {
            thread.join();
        }
        AwaitLibraryThreads();
        EXPECT_FALSE(callbackAfterDestroy.load()) << "a callback began after the destroy returned";
    });
}

// Where the destroy cannot wait: from inside the callback, inside a message that the
// callback or another thread sent to a thread inside its own call or its own loop.
enum class Where { InCallback, NestedInACall, CallbacksOwnMessage, AnotherThreadsMessage };

TEST(ControllerStress, DestroyFromTheCallbackOrFromAMessage) {
    Watchdog watchdog("destroy from callback or message");
    stress::Run("destroy from callback or message", kBudget,
                [&](int iteration, std::mt19937_64& rng) {
                    watchdog.Progress(iteration);
                    const Where where = static_cast<Where>(stress::Between(rng, 0, 3));
                    const int freedBefore = handlesFreed.load();
                    FakeHandle* handle = nullptr;
                    std::atomic<bool> destroyed{false};
                    std::atomic<int> inCallback{0};
                    std::atomic<bool> callbackBusyAtDestroyReturn{false};
                    Signal quit;  // ends the user-interface thread's loop
                    std::shared_ptr<ThreadInbox> ui;
                    Signal uiReady;
                    // A callback busy in plain code (no messages taken) until the gate opens.
                    std::mutex gateLock;
                    std::condition_variable gateChanged;
                    bool gateOpen = false;
                    std::atomic<bool> gateReached{false};

                    auto destroy = [&] {
                        HandleLifetime::Destroy(handle);
                        callbackBusyAtDestroyReturn = inCallback.load() > 0;
                        destroyed = true;
                    };
                    CallbackRunner::Deliver callback = [&](const HostEvent& event) {
                        ++inCallback;
                        bool first = event.type == HostEventType::Ready && !destroyed.load();
                        if (first && where == Where::InCallback) {
                            HandleLifetime::Destroy(handle);
                            destroyed = true;
                        } else if (first && where == Where::CallbacksOwnMessage) {
                            SendAndWait(ui, destroy);
                        } else if (first && where == Where::AnotherThreadsMessage) {
                            gateReached = true;
                            std::unique_lock<std::mutex> lock(gateLock);
                            gateChanged.wait(lock, [&] { return gateOpen; });
                        }
                        --inCallback;
                    };
                    Signal go;
                    std::atomic<bool> entered{false};
                    std::thread uiThread([&] {
                        ui = ThisThreadInbox();
                        uiReady.Set();
                        go.Wait(kWaitForever);
                        if (where == Where::NestedInACall) {
                            EXPECT_EQ(handle->WaitReady(kWaitForever, &entered), Outcome::Destroyed)
                                << "a call whose handle went while it ran returns without pointers";
                        } else {
                            quit.Wait(kWaitForever);
                        }
                    });
                    uiReady.Wait(kWaitForever);
                    handle = new FakeHandle();
                    handle->Start(callback, where != Where::NestedInACall, 3, false);
                    go.Set();
                    if (where == Where::NestedInACall) {
                        while (!entered.load()) {
                            std::this_thread::yield();
                        }
                        SendAndWait(ui, destroy);
                    } else if (where == Where::AnotherThreadsMessage) {
                        while (!gateReached.load()) {
                            std::this_thread::yield();
                        }
                        std::thread opener([&] {
                            schedule::Point("test: gate opens");
                            std::lock_guard<std::mutex> lock(gateLock);
                            gateOpen = true;
                            gateChanged.notify_all();
                        });
                        SendAndWait(ui, destroy);
                        opener.join();
                        EXPECT_FALSE(callbackBusyAtDestroyReturn.load())
                            << "the destroy returned while the callback still ran";
                    }
                    while (!destroyed.load()) {
                        std::this_thread::yield();
                    }
                    quit.Set();
                    uiThread.join();
                    AwaitLibraryThreads();
                    EXPECT_EQ(handlesFreed.load(), freedBefore + 1) << "freed exactly once";
                });
}

// A listing nobody asked for, pushed as such.
constexpr HostEventType kUnrequestedListing = static_cast<HostEventType>(100);

bool IsKept(HostEventType type) {
    return type != HostEventType::Status && type != HostEventType::Stats &&
           type != HostEventType::Other && type != kUnrequestedListing;
}

// Several producers push every kind of event into a small queue while several pollers
// take them: what is kept is taken once and in each producer's order, and every event is
// either taken or counted as dropped.
TEST(ControllerStress, AFullQueueKeepsWhatMustBeKept) {
    Watchdog watchdog("full event queue");
    const HostEventType kinds[] = {HostEventType::PipeOpened, HostEventType::Ready,
                                   HostEventType::Status,     HostEventType::Stats,
                                   HostEventType::Other,      HostEventType::Unterminated,
                                   HostEventType::Exited,     HostEventType::Fault,
                                   HostEventType::Sources,    kUnrequestedListing};
    stress::Run("full event queue", kBudget, [&](int iteration, std::mt19937_64& rng) {
        watchdog.Progress(iteration);
        EventQueue queue(static_cast<size_t>(stress::Between(rng, 1, 6)));
        const int producers = stress::Between(rng, 1, 3);
        const int pollers = stress::Between(rng, 1, 3);
        const int perProducer = stress::Between(rng, 1, 24);
        std::vector<std::vector<HostEventType>> plans(static_cast<size_t>(producers));
        for (auto& plan : plans) {
            for (int i = 0; i < perProducer; ++i) {
                plan.push_back(kinds[stress::Between(rng, 0, 9)]);
            }
        }
        std::vector<std::thread> threads;
        for (int p = 0; p < producers; ++p) {
            threads.emplace_back([&queue, &plans, p] {
                const auto& plan = plans[static_cast<size_t>(p)];
                for (size_t i = 0; i < plan.size(); ++i) {
                    bool unrequested = plan[i] == kUnrequestedListing;
                    HostEvent event =
                        Event(unrequested ? HostEventType::Sources : plan[i], static_cast<int>(i));
                    event.height = p;
                    if (unrequested) {
                        queue.PushDroppable(std::move(event));
                    } else {
                        queue.Push(std::move(event));
                    }
                }
            });
        }
        std::vector<std::vector<HostEvent>> taken(static_cast<size_t>(pollers));
        std::vector<std::thread> polling;
        for (int q = 0; q < pollers; ++q) {
            polling.emplace_back([&queue, &taken, q] {
                HostEvent event;
                while (!queue.Drained()) {
                    if (queue.Pop(event, 1)) {
                        taken[static_cast<size_t>(q)].push_back(event);
                    }
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        queue.Close();
        for (std::thread& thread : polling) {
            thread.join();
        }
        std::map<std::pair<int, int>, int> seen;  // (producer, index) -> times taken
        size_t total = 0;
        for (const auto& mine : taken) {
            std::map<int, int> last;  // per producer
            for (const HostEvent& e : mine) {
                ++seen[{e.height, e.width}];
                auto before = last.find(e.height);
                EXPECT_TRUE(before == last.end() || before->second < e.width)
                    << "out of its producer's order";
                last[e.height] = e.width;
                ++total;
            }
        }
        size_t pushed = 0;
        for (int p = 0; p < producers; ++p) {
            const auto& plan = plans[static_cast<size_t>(p)];
            for (size_t i = 0; i < plan.size(); ++i, ++pushed) {
                int times =
                    seen.count({p, static_cast<int>(i)}) ? seen[{p, static_cast<int>(i)}] : 0;
                EXPECT_LE(times, 1) << "taken twice";
                if (IsKept(plan[i])) {
                    EXPECT_EQ(times, 1)
                        << "a kept event of type " << static_cast<int>(plan[i]) << " was dropped";
                }
            }
        }
        EXPECT_EQ(total + queue.dropped(), pushed) << "every event taken or counted as dropped";
    });
}

std::string SourceLine(const std::string& name) {
    return "{\"type\":\"source\",\"name\":\"" + name + "\"}";
}

// Listings asked for while one is running or ending, the reading ending at any moment,
// mid-listing too: a call gets the first listing closed after it asked, or learns that the
// reading ended before one was; never an older listing, never nothing after a close.
TEST(ControllerStress, ListingsAskedForWhileOneRunsOrEnds) {
    Watchdog watchdog("listings while one runs or ends");
    stress::Run(
        "listings while one runs or ends", kBudget, [&](int iteration, std::mt19937_64& rng) {
            watchdog.Progress(iteration);
            ListingWaiters listings;
            Signal readingEnded;
            std::atomic<int> started{0};    // listings whose hand-over began
            std::atomic<int> completed{0};  // listings handed over
            const int lines = stress::Between(rng, 0, 12);
            std::thread reader([&] {
                SourceGatherer gatherer;
                int listing = 0;
                for (int i = 0; i < lines; ++i) {
                    HostEvent closedListing;
                    std::string line = i % 3 == 2 ? "{\"type\":\"sources_done\",\"count\":2}"
                                                  : SourceLine("L" + std::to_string(listing + 1));
                    if (gatherer.Take(line, closedListing) == SourceGatherer::Taken::Closed) {
                        ++listing;
                        closedListing.names.push_back(std::to_string(listing));
                        started = listing;
                        listings.Close(closedListing);
                        completed = listing;
                    }
                    schedule::Point("test reader: line");
                }
                readingEnded.Set();
            });
            const int askers = stress::Between(rng, 1, 3);
            std::vector<std::thread> threads;
            for (int a = 0; a < askers; ++a) {
                unsigned timeoutMs = stress::Between(rng, 0, 3) == 0 ? 0u : kWaitForever;
                threads.emplace_back([&, timeoutMs] {
                    schedule::Point("test asker: begins");
                    int before = completed.load();
                    ListingWaiters::Waiter waiter(listings);
                    int after = started.load();
                    auto outcome = waiter.Await(readingEnded, timeoutMs);
                    if (outcome == ListingWaiters::Waiter::Outcome::Answered) {
                        int number = std::stoi(waiter.names.back());
                        EXPECT_GT(number, before) << "a listing closed before the call asked";
                        EXPECT_LE(number, after + 1)
                            << "not the first listing after the call asked";
                    } else if (outcome == ListingWaiters::Waiter::Outcome::ReadingEnded) {
                        EXPECT_LE(completed.load(), after)
                            << "a listing closed after the call asked, "
                               "yet it learned only of the end";
                    } else {
                        EXPECT_NE(timeoutMs, kWaitForever);
                    }
                });
            }
            for (std::thread& thread : threads) {
                thread.join();
            }
            reader.join();
        });
}

}  // namespace
