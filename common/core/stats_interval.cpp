#include "stats_interval.h"

void StatsInterval::Begin(int64_t nowTicks, int64_t ticksPerSecond) {
    start_ = nowTicks;
    frequency_ = ticksPerSecond > 0 ? ticksPerSecond : 1;
    frames_ = 0;
}

bool StatsInterval::Close(int64_t nowTicks, float& framesPerSecond, bool& hadFrames) {
    double elapsed = static_cast<double>(nowTicks - start_) / static_cast<double>(frequency_);
    if (elapsed < 1.0) {
        return false;
    }
    framesPerSecond = static_cast<float>(static_cast<double>(frames_) / elapsed);
    hadFrames = frames_ != 0;
    frames_ = 0;
    start_ = nowTicks;
    return true;
}
