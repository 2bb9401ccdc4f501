// Frame-rate arithmetic over statistics intervals of at least one second, on
// performance-counter ticks. Win32-free; owned by one receiver worker.
#pragma once

#include <cstdint>

class StatsInterval {
public:
    void Begin(int64_t nowTicks, int64_t ticksPerSecond);
    void CountFrame() { ++frames_; }
    int frames() const { return frames_; }

    // When at least one second has passed: the interval's frames per second and whether
    // it had frames; the next interval begins at nowTicks. Otherwise false.
    bool Close(int64_t nowTicks, float& framesPerSecond, bool& hadFrames);

private:
    int64_t start_ = 0;
    int64_t frequency_ = 1;
    int frames_ = 0;
};

// Consecutive intervals without video; a connection is given up at `limit`.
class EmptyIntervals {
public:
    explicit EmptyIntervals(int limit) : limit_(limit) {}
    void Reset() { count_ = 0; }
    // True when this interval makes the run of empty ones reach the limit.
    bool Record(bool hadFrames) {
        count_ = hadFrames ? 0 : count_ + 1;
        return count_ >= limit_;
    }
    int count() const { return count_; }

private:
    int limit_;
    int count_ = 0;
};
