// Frame-rate arithmetic over statistics intervals, and the run of empty intervals after
// which a connection is given up.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "stats_interval.h"

namespace {

constexpr int64_t kFrequency = 10'000'000;  // the usual performance-counter rate

}  // namespace

TEST(StatsInterval, FramesPerSecondOverElapsedTime) {
    struct Case {
        const char* what;
        int frames;
        int64_t elapsedTicks;
        float fps;
    };
    const Case cases[] = {
        {"exactly one second", 30, kFrequency, 30.0f},
        {"longer interval divides by its length", 60, 2 * kFrequency, 30.0f},
        {"NTSC rate", 30, kFrequency * 1001 / 1000, 29.97003f},
        {"one tick past a second", 60, kFrequency + 1, 59.999994f},
        {"no frames", 0, kFrequency, 0.0f},
        {"late close of an empty interval", 0, 7 * kFrequency, 0.0f},
    };
    for (const Case& c : cases) {
        StatsInterval interval;
        interval.Begin(1000, kFrequency);
        for (int i = 0; i < c.frames; ++i) {
            interval.CountFrame();
        }
        float fps = -1.0f;
        bool hadFrames = false;
        ASSERT_TRUE(interval.Close(1000 + c.elapsedTicks, fps, hadFrames)) << c.what;
        EXPECT_NEAR(fps, c.fps, 1e-4) << c.what;
        EXPECT_EQ(hadFrames, c.frames != 0) << c.what;
    }
}

TEST(StatsInterval, StaysOpenUntilOneSecondHasPassed) {
    StatsInterval interval;
    interval.Begin(0, kFrequency);
    interval.CountFrame();
    float fps = -1.0f;
    bool hadFrames = false;
    EXPECT_FALSE(interval.Close(kFrequency - 1, fps, hadFrames));
    EXPECT_EQ(fps, -1.0f);
    EXPECT_EQ(interval.frames(), 1);
    EXPECT_TRUE(interval.Close(kFrequency, fps, hadFrames));
}

TEST(StatsInterval, NextIntervalStartsAtTheClose) {
    StatsInterval interval;
    interval.Begin(0, kFrequency);
    interval.CountFrame();
    float fps = 0.0f;
    bool hadFrames = false;
    ASSERT_TRUE(interval.Close(3 * kFrequency / 2, fps, hadFrames));
    EXPECT_EQ(interval.frames(), 0);
    // Measured from 1.5 s, not from the start: 2.4 s is too early to close again.
    EXPECT_FALSE(interval.Close(12 * kFrequency / 5, fps, hadFrames));
    interval.CountFrame();
    interval.CountFrame();
    ASSERT_TRUE(interval.Close(5 * kFrequency / 2, fps, hadFrames));
    EXPECT_NEAR(fps, 2.0f, 1e-5);
    EXPECT_TRUE(hadFrames);
}

TEST(StatsInterval, NonPositiveFrequencyDoesNotDivideByZero) {
    for (int64_t frequency : {int64_t{0}, int64_t{-5}}) {
        StatsInterval interval;
        interval.Begin(0, frequency);
        interval.CountFrame();
        float fps = 0.0f;
        bool hadFrames = false;
        ASSERT_TRUE(interval.Close(2, fps, hadFrames));
        EXPECT_NEAR(fps, 0.5f, 1e-6);
    }
}

TEST(EmptyIntervals, LimitReachedOnlyByConsecutiveEmptyIntervals) {
    struct Case {
        const char* what;
        int limit;
        const char* intervals;  // 'f' had frames, '-' empty
        const char* expected;   // '!' where Record returns true
    };
    const Case cases[] = {
        {"NDI gives up after two", 2, "--", ".!"},
        {"OMT gives up after three", 3, "---", "..!"},
        {"frames break the run", 2, "-f-f-", "....."},
        {"run restarts after frames", 3, "--f---", ".....!"},
        {"keeps reporting past the limit", 2, "----", ".!!!"},
        {"limit of one", 1, "f-f", ".!."},
    };
    for (const Case& c : cases) {
        EmptyIntervals empty(c.limit);
        std::string got;
        for (const char* p = c.intervals; *p; ++p) {
            got += empty.Record(*p == 'f') ? '!' : '.';
        }
        EXPECT_EQ(got, c.expected) << c.what;
    }
}

TEST(EmptyIntervals, ResetForgetsTheRun) {
    EmptyIntervals empty(2);
    EXPECT_FALSE(empty.Record(false));
    empty.Reset();
    EXPECT_EQ(empty.count(), 0);
    EXPECT_FALSE(empty.Record(false));
    EXPECT_TRUE(empty.Record(false));
}
