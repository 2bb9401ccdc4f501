// The pipe writer and its outbox against a reader that stops and starts at any moment,
// natively: statuses, stats, a listing's lines and host_ready posted from threads of their
// own while the pipe stalls and resumes. What the reader gets is judged line by line: none cut,
// none twice, ordered lines all and in order, the newest state never lost, and after a stall that
// the writer noticed the current state within one line of what was in flight.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "pipe_writer.h"
#include "stress_log.h"
#include "stress_support.h"
#include "write_channel.h"

namespace {

using stress::EventLog;
using stress::WaitFor;

// A pipe whose reader takes the write in flight in pieces of random size, unless stalled.
// It notes in the log when the writer has counted the pipe stalled: at the writer's next
// step after a write that timed out unfinished.
class FakePipe : public WriteChannel {
public:
    // cancelHidesTaken: a cancel reports nothing taken although the reader may have taken
    // part of the line, as a cancelled write on a named pipe can.
    FakePipe(EventLog& log, uint64_t seed, bool cancelHidesTaken)
        : log_(log), rng_(seed), cancelHidesTaken_(cancelHidesTaken) {
        reader_ = std::thread([this] { ReadLoop(); });
    }
    ~FakePipe() override {
        {
            std::lock_guard<std::mutex> lock(lock_);
            quit_ = true;
            changed_.notify_all();
        }
        reader_.join();
    }

    // Test thread. Both note themselves in the log under the pipe's lock, so that the log
    // orders them exactly against what the reader and the writer do.
    void Stall() {
        std::lock_guard<std::mutex> lock(lock_);
        stalled_ = true;
        log_.Add("stall");
    }
    // Notes "resume <bytes read so far>": a status logged as posted before that line was
    // posted before the reader took anything more.
    void Resume() {
        std::lock_guard<std::mutex> lock(lock_);
        log_.Add("resume " + std::to_string(received_.size()));
        stalled_ = false;
        changed_.notify_all();
    }
    std::string Received() {
        std::lock_guard<std::mutex> lock(lock_);
        return received_;
    }

    bool Begin(const char* data, size_t size) override {
        std::lock_guard<std::mutex> lock(lock_);
        NoteStall(true);
        data_ = data;
        size_ = size;
        taken_ = 0;
        inFlight_ = true;
        changed_.notify_all();
        return true;
    }
    Outcome Await(unsigned boundMs, size_t& taken) override {
        std::unique_lock<std::mutex> lock(lock_);
        NoteStall(taken_ < size_);
        const bool ended = changed_.wait_for(lock, std::chrono::milliseconds(boundMs),
                                             [this] { return interrupted_ || taken_ == size_; });
        if (taken_ == size_) {
            inFlight_ = false;
            taken = taken_;
            return Outcome::Written;
        }
        if (ended) {
            return Outcome::Stopped;
        }
        stallPending_ = true;
        return Outcome::TimedOut;
    }
    void Cancel(size_t& taken) override {
        std::lock_guard<std::mutex> lock(lock_);
        inFlight_ = false;
        taken = cancelHidesTaken_ ? 0 : taken_;
        if (taken_ == size_) {
            stallPending_ = false;
        }
    }
    void Interrupt() override {
        std::lock_guard<std::mutex> lock(lock_);
        interrupted_ = true;
        changed_.notify_all();
    }

private:
    // Under lock_, at the writer's next step: it has then counted the pipe stalled, and
    // goes on counting it so until a write ends (not while the reader is stalled).
    void NoteStall(bool writeUnfinished) {
        if (stallPending_ && writeUnfinished) {
            log_.Add("stall marked");
        }
        stallPending_ = false;
    }
    void ReadLoop() {
        std::unique_lock<std::mutex> lock(lock_);
        for (;;) {
            changed_.wait(lock,
                          [this] { return quit_ || (inFlight_ && !stalled_ && taken_ < size_); });
            if (quit_) {
                return;
            }
            const size_t piece = std::min(size_ - taken_, static_cast<size_t>(1 + rng_() % 24));
            received_.append(data_ + taken_, piece);
            taken_ += piece;
            changed_.notify_all();
            const unsigned pause = static_cast<unsigned>(rng_() % 8);
            if (pause == 0) {
                lock.unlock();
                std::this_thread::sleep_for(std::chrono::microseconds(rng_() % 300));
                lock.lock();
            } else if (pause < 3) {
                lock.unlock();
                std::this_thread::yield();
                lock.lock();
            }
        }
    }

    EventLog& log_;
    std::mt19937_64 rng_;  // reader thread
    const bool cancelHidesTaken_;
    std::mutex lock_;
    std::condition_variable changed_;
    const char* data_ = nullptr;  // the write in flight, valid while inFlight_
    size_t size_ = 0;
    size_t taken_ = 0;
    bool inFlight_ = false;
    bool stalled_ = false;
    bool interrupted_ = false;
    bool stallPending_ = false;
    bool quit_ = false;
    std::string received_;
    std::thread reader_;
};

// The lines of one iteration: "R" (host_ready), "S<n>" statuses, "T<n>" stats, "O<n>"
// ordered lines (a listing's).
struct Posted {
    std::map<std::string, MessageKind> kinds;
    int lastStatus = -1;
    int lastStats = -1;
    int ordered = 0;
};

std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t lf = bytes.find('\n'); lf != std::string::npos; lf = bytes.find('\n', start)) {
        lines.push_back(bytes.substr(start, lf - start));
        start = lf + 1;
    }
    return lines;
}

int Number(const std::string& line) {
    return std::atoi(line.c_str() + 1);
}

// After each stall that the writer noticed: the newest status posted before the reader
// resumed (unless already read) is among the first line read afterwards and the one after
// it, host_ready not counted.
void CheckStalls(const std::vector<std::string>& log, const std::string& received) {
    const std::string text = EventLog::Text(log);
    bool noticed = false;
    int newest = -1;
    for (const std::string& event : log) {
        if (event == "stall") {
            noticed = false;
        } else if (event == "stall marked") {
            noticed = true;
        } else if (event.rfind("posted S", 0) == 0) {
            newest = std::atoi(event.c_str() + 8);
        } else if (event.rfind("resume ", 0) == 0 && noticed && newest >= 0) {
            const size_t offset = static_cast<size_t>(std::stoul(event.substr(7)));
            // The line that was cut by the resume counts as read afterwards.
            const size_t lineStart = received.rfind('\n', offset == 0 ? 0 : offset - 1);
            const size_t from = offset == 0 || lineStart == std::string::npos ? 0 : lineStart + 1;
            bool alreadyRead = false;
            for (const std::string& line : SplitLines(received.substr(0, from))) {
                alreadyRead = alreadyRead || (line[0] == 'S' && Number(line) >= newest);
            }
            if (alreadyRead) {
                continue;
            }
            std::vector<std::string> after;
            for (const std::string& line : SplitLines(received.substr(from))) {
                if (line != "R" || after.empty()) {
                    after.push_back(line);
                }
            }
            bool current = false;
            for (size_t i = 0; i < after.size() && i < 2; ++i) {
                current = current || (after[i][0] == 'S' && Number(after[i]) >= newest);
            }
            EXPECT_TRUE(current) << "S" << newest << " not within one line after the stall at "
                                 << event << "\nread: " << received << "\n"
                                 << text;
        }
    }
}

// What the reader got: whole lines that were posted, none twice, host_ready first, ordered
// lines all and in order, statuses and stats in order and the newest of each.
void CheckReceived(const std::string& received, const Posted& posted) {
    ASSERT_TRUE(received.empty() || received.back() == '\n') << "cut at the end: " << received;
    const std::vector<std::string> lines = SplitLines(received);
    std::map<std::string, int> seen;
    int status = -1;
    int stats = -1;
    int ordered = 0;
    for (const std::string& line : lines) {
        ASSERT_EQ(posted.kinds.count(line), 1u)
            << "a line never posted: " << line << "\nread: " << received;
        EXPECT_EQ(++seen[line], 1) << line << " twice\nread: " << received;
        if (line[0] == 'S') {
            EXPECT_GT(Number(line), status) << "statuses out of order\nread: " << received;
            status = Number(line);
        } else if (line[0] == 'T') {
            EXPECT_GT(Number(line), stats) << "stats out of order\nread: " << received;
            stats = Number(line);
        } else if (line[0] == 'O') {
            EXPECT_EQ(Number(line), ordered++) << "ordered lines out of order\nread: " << received;
        }
    }
    EXPECT_EQ(ordered, posted.ordered) << "ordered lines lost\nread: " << received;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "R") << "read: " << received;
    EXPECT_EQ(status, posted.lastStatus) << "the newest status was lost\nread: " << received;
    EXPECT_EQ(stats, posted.lastStats) << "the newest stats was lost\nread: " << received;
}

TEST(WriterStress, AStalledPipeGetsWholeLinesAndTheCurrentStateFirst) {
    stress::Run("writer stall", {3000, 3.0}, [](int, std::mt19937_64& rng) {
        EventLog log;
        const bool cancelHidesTaken = stress::Between(rng, 0, 1) == 1;
        auto pipe = std::make_shared<FakePipe>(log, rng(), cancelHidesTaken);
        PipeWriter writer;
        writer.SetWriteBoundForTesting(static_cast<unsigned>(stress::Between(rng, 1, 2)));
        ASSERT_TRUE(writer.Start(pipe));
        Posted posted;
        posted.kinds["R"] = MessageKind::HostReady;
        const int statuses = stress::Between(rng, 5, 30);
        const int stats = stress::Between(rng, 0, 20);
        for (int i = 0; i < statuses; ++i) {
            posted.kinds["S" + std::to_string(i)] = MessageKind::Status;
        }
        for (int i = 0; i < stats; ++i) {
            posted.kinds["T" + std::to_string(i)] = MessageKind::Stats;
        }
        posted.lastStatus = statuses - 1;
        posted.lastStats = stats - 1;
        posted.ordered = stress::Between(rng, 0, 12);
        for (int i = 0; i < posted.ordered; ++i) {
            posted.kinds["O" + std::to_string(i)] = MessageKind::Ordered;
        }
        const uint64_t statusSeed = rng();
        const uint64_t statsSeed = rng();
        const uint64_t orderedSeed = rng();
        writer.Post(MessageKind::HostReady, "R");
        std::thread statusPoster([&] {
            std::mt19937_64 own(statusSeed);
            for (int i = 0; i < statuses; ++i) {
                writer.Post(MessageKind::Status, "S" + std::to_string(i));
                log.Add("posted S" + std::to_string(i));
                stress::SleepUpTo(own, 400);
            }
        });
        std::thread statsPoster([&] {
            std::mt19937_64 own(statsSeed);
            for (int i = 0; i < stats; ++i) {
                writer.Post(MessageKind::Stats, "T" + std::to_string(i));
                stress::SleepUpTo(own, 600);
            }
        });
        // Listings: a few lines at once, now and then.
        std::thread orderedPoster([&] {
            std::mt19937_64 own(orderedSeed);
            for (int i = 0; i < posted.ordered; ++i) {
                writer.Post(MessageKind::Ordered, "O" + std::to_string(i));
                if (own() % 3 == 0) {
                    stress::SleepUpTo(own, 1500);
                }
            }
        });
        // The reader stops and starts meanwhile, now and then long enough for the writer to
        // notice.
        const int stalls = stress::Between(rng, 1, 5);
        for (int i = 0; i < stalls; ++i) {
            stress::SleepUpTo(rng, 2000);
            pipe->Stall();
            stress::SleepUpTo(rng, 6000);
            pipe->Resume();
        }
        statusPoster.join();
        statsPoster.join();
        orderedPoster.join();
        EXPECT_TRUE(writer.Stop(10000));
        CheckReceived(pipe->Received(), posted);
        CheckStalls(log.Events(), pipe->Received());
    });
}

}  // namespace
