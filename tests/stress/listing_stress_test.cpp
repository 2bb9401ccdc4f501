// The source listing natively: listings requested while one is running or ending, a
// discovery call slower than the listing's bound, a controller that stops reading now and
// then, and the teardown's stop at any moment. Every request is answered by a whole
// listing that ends after it, the finder is never called twice at once, the lines that wait
// for the controller stay bounded, and nothing is sent once the stop has returned.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <condition_variable>
#include <mutex>
#include <random>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "json.h"
#include "schedule_point.h"
#include "source_listing.h"
#include "stress_log.h"
#include "stress_support.h"

namespace {

using stress::EventLog;
using stress::WaitFor;

// Each call lists two names of its own ("a<call>", "b<call>") after a pause drawn for it,
// now and then longer than the listing's bound; every fifth call fails instead.
class FakeFinder : public SourceFinder {
public:
    FakeFinder(EventLog& log, std::vector<int> pausesUs)
        : log_(log), pausesUs_(std::move(pausesUs)) {}

    FoundSources Find() override {
        const int call = calls_.fetch_add(1);
        const bool alone = inside_.fetch_add(1) == 0;
        log_.Add(alone ? "find" : "find beside another");
        std::this_thread::sleep_for(
            std::chrono::microseconds(pausesUs_[static_cast<size_t>(call) % pausesUs_.size()]));
        inside_.fetch_sub(1);
        if (call % 5 == 4) {
            return {{}, "Cannot read sender list"};
        }
        const std::string id = std::to_string(call);
        return {{"a" + id, "b" + id}, ""};
    }

private:
    EventLog& log_;
    std::vector<int> pausesUs_;
    std::atomic<int> calls_{0};
    std::atomic<int> inside_{0};
};

// Each listing in the log is whole: its source lines, from one call, then a sources_done
// that counts them (0 with an error). The last one may be cut short by the stop. "Busy"
// comes only while a call that timed out is still inside the finder: right after a listing
// that timed out or was busy itself.
void CheckListings(const std::vector<std::string>& log) {
    const std::string text = EventLog::Text(log);
    std::vector<std::string> names;
    std::string lastError;
    for (const std::string& event : log) {
        EXPECT_NE(event, "find beside another") << text;
        if (event.rfind("line ", 0) != 0) {
            continue;
        }
        const JsonObject line = ParseJson(event.substr(5));
        if (line.Get("type") == "source") {
            names.push_back(line.Get("name"));
            continue;
        }
        ASSERT_EQ(line.Get("type"), "sources_done") << text;
        EXPECT_EQ(line.Get("count"), std::to_string(names.size())) << text;
        const std::string error = line.Get("error");
        if (!error.empty()) {
            EXPECT_TRUE(names.empty()) << text;
        }
        if (error == "Source listing busy") {
            EXPECT_TRUE(lastError == "Source listing timed out" || lastError == error)
                << "busy with no call outstanding\n"
                << text;
        }
        lastError = error;
        for (const std::string& name : names) {
            EXPECT_EQ(name.substr(1), names.front().substr(1)) << "names of two calls\n" << text;
        }
        names.clear();
    }
}

// The writer as the listing sees it: lines sent wait until a drain thread writes them, one
// at a time, while the controller reads, and the controller stops reading now and then.
// Each line written is logged as "read <line>".
class FakeOutput {
public:
    FakeOutput(EventLog& log, uint64_t seed) : log_(log), rng_(seed) {
        drain_ = std::thread([this] { Drain(); });
    }
    ~FakeOutput() {
        quit_.store(true);
        drain_.join();
    }
    void Sent(const std::string& line) {
        std::lock_guard<std::mutex> lock(lock_);
        unsent_.push_back(line);
        most_ = std::max(most_, unsent_.size());
    }
    bool Waiting() {
        std::lock_guard<std::mutex> lock(lock_);
        return !unsent_.empty();
    }
    // The most lines that ever waited at once.
    size_t Most() {
        std::lock_guard<std::mutex> lock(lock_);
        return most_;
    }

private:
    void Drain() {
        while (!quit_.load()) {
            const bool reading = rng_() % 2 == 0;
            const auto until =
                std::chrono::steady_clock::now() + std::chrono::microseconds(rng_() % 2000);
            while (!quit_.load() && std::chrono::steady_clock::now() < until) {
                if (reading) {
                    std::lock_guard<std::mutex> lock(lock_);
                    if (!unsent_.empty()) {
                        log_.Add("read " + unsent_.front());
                        unsent_.pop_front();
                    }
                }
                std::this_thread::sleep_for(std::chrono::microseconds(rng_() % 100));
            }
        }
    }

    EventLog& log_;
    std::mt19937_64 rng_;  // drain thread
    std::atomic<bool> quit_{false};
    std::mutex lock_;
    std::deque<std::string> unsent_;
    size_t most_ = 0;
    std::thread drain_;
};

// Whether the controller read the end of a listing here.
bool IsReadDone(const std::string& event) {
    return event.rfind("read ", 0) == 0 && ParseJson(event.substr(5)).Get("type") == "sources_done";
}

// Every request was followed by the controller reading the end of a listing: its own, the
// one under way, or one whose end still waited in the outbox.
bool AllAnswered(const std::vector<std::string>& log) {
    bool waiting = false;
    for (const std::string& event : log) {
        if (event.rfind("request", 0) == 0) {
            waiting = true;
        } else if (IsReadDone(event)) {
            waiting = false;
        }
    }
    return !waiting;
}

TEST(ListingStress, EveryRequestIsAnsweredByAWholeListingAndNothingFollowsTheStop) {
    stress::Run("listing", {2000, 3.0}, [](int, std::mt19937_64& rng) {
        EventLog log;
        std::vector<int> pausesUs;
        for (int i = 0; i < 8; ++i) {
            pausesUs.push_back(stress::Between(rng, 0, 3) == 0 ? stress::Between(rng, 0, 5000)
                                                               : stress::Between(rng, 0, 300));
        }
        FakeOutput output(log, rng());
        // A second reader asks again the moment a listing's end goes out.
        std::mutex endLock;
        std::condition_variable endSent;
        int ends = 0;
        auto send = [&](const std::string& json) {
            log.Add("line " + json);
            output.Sent(json);
            if (ParseJson(json).Get("type") == "sources_done") {
                std::lock_guard<std::mutex> lock(endLock);
                ++ends;
                endSent.notify_all();
            }
        };
        SourceListing listing(
            std::make_unique<FakeFinder>(log, pausesUs), send,
            [&output] { return output.Waiting(); },
            static_cast<unsigned>(stress::Between(rng, 1, 3)));
        // The teardown either waits until every request is answered or stops at any moment.
        const bool stopAnywhere = stress::Between(rng, 0, 2) == 0;
        // Requests in bursts and apart, so that some meet a listing as it ends.
        const int requests = stress::Between(rng, 1, 12);
        std::vector<int> gapsUs;
        for (int i = 0; i < requests; ++i) {
            gapsUs.push_back(stress::Between(rng, 0, stress::Between(rng, 0, 1) == 0 ? 100 : 1500));
        }
        const int stopUs = stress::Between(rng, 0, 4000);
        std::thread reader([&] {
            for (int i = 0; i < requests; ++i) {
                log.Add("request");
                listing.Request();
                std::this_thread::sleep_for(std::chrono::microseconds(gapsUs[i]));
            }
        });
        const int echoes = stress::Between(rng, 0, 3);
        std::thread echo([&] {
            for (int i = 0; i < echoes; ++i) {
                std::unique_lock<std::mutex> lock(endLock);
                if (!endSent.wait_for(lock, std::chrono::milliseconds(20),
                                      [&] { return ends > i; })) {
                    return;
                }
                lock.unlock();
                log.Add("request again");
                listing.Request();
            }
        });
        if (stopAnywhere) {
            std::this_thread::sleep_for(std::chrono::microseconds(stopUs));
        } else {
            reader.join();
            echo.join();
            EXPECT_TRUE(WaitFor([&] { return AllAnswered(log.Events()); }))
                << "a request never answered\n"
                << EventLog::Text(log.Events());
        }
        log.Add("stop");
        const bool ended = listing.Stop();
        log.Add("stopped");
        if (reader.joinable()) {
            reader.join();
            echo.join();
        }
        if (!ended) {
            EXPECT_TRUE(WaitFor([&] { return listing.Stop(); }));
        }
        const std::vector<std::string> events = log.Events();
        CheckListings(std::vector<std::string>(
            events.begin(), events.begin() + static_cast<long>(EventLog::Find(events, "stop"))));
        // What waits for a controller that does not read: the end of one listing and the
        // next listing (two names and its end) at most.
        EXPECT_LE(output.Most(), 4u) << EventLog::Text(events);
        for (size_t i = EventLog::Find(events, "stopped"); i < events.size(); ++i) {
            EXPECT_NE(events[i].rfind("line ", 0), 0u) << "sent after the stop\n"
                                                       << EventLog::Text(events);
        }
    });
}

// The finder thread held for a moment after it has handed over a call that returned in
// time: the next listing, asked meanwhile, waits for the finder instead of finding the
// returned call still outstanding.
std::atomic<bool> holdAfterStore{false};
void HoldOnceAfterStore(const char* point) {
    if (std::string(point) == "listing.stored" && holdAfterStore.exchange(false)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
}

TEST(ListingStress, AListingRightAfterACallThatReturnedInTimeIsNeverBusy) {
    EventLog log;
    std::vector<std::string> lines;
    std::mutex linesLock;
    SourceListing listing(std::make_unique<FakeFinder>(log, std::vector<int>{0}),
                          [&](const std::string& json) {
                              std::lock_guard<std::mutex> lock(linesLock);
                              lines.push_back(json);
                          },
                          {});
    auto ends = [&] {
        std::lock_guard<std::mutex> lock(linesLock);
        return std::count_if(lines.begin(), lines.end(), [](const std::string& line) {
            return ParseJson(line).Get("type") == "sources_done";
        });
    };
    holdAfterStore.store(true);
    schedule::SetHook(&HoldOnceAfterStore);
    listing.Request();
    ASSERT_TRUE(WaitFor([&] { return ends() == 1; }));
    listing.Request();
    ASSERT_TRUE(WaitFor([&] { return ends() == 2; }));
    schedule::SetHook(nullptr);
    EXPECT_TRUE(listing.Stop());
    std::lock_guard<std::mutex> lock(linesLock);
    EXPECT_EQ(ParseJson(lines.back()).Get("error"), "") << lines.back();
}

}  // namespace
