#include "recorder.h"

#include <cstddef>
#include <mutex>

#include "timing.h"

Recorder::Recorder() : startMs_(::NowMs()) {}

double Recorder::NowMs() const {
    return ::NowMs() - startMs_;
}

void Recorder::OnFrame(const unsigned char* pixels, int width, int height, int strideBytes) {
    if (height > 0 && strideBytes > 0) {
        // Touch the last byte the host would copy: a short buffer shows up here.
        volatile unsigned char last =
            pixels[static_cast<size_t>(height) * static_cast<size_t>(strideBytes) - 1];
        (void)last;
    }
    long number = pixels[0] | pixels[1] << 8 | pixels[2] << 16;
    int quality = width > 1 ? pixels[4] : 0;
    std::lock_guard<std::mutex> lock(lock_);
    frames_.push_back(FrameEvent{width, height, strideBytes, number, quality});
}

void Recorder::OnStats(float framesPerSecond, int width, int height) {
    double at = NowMs();
    std::lock_guard<std::mutex> lock(lock_);
    stats_.push_back(StatsEvent{framesPerSecond, width, height, at});
}

void Recorder::OnStatus(const char* state, const char* source) {
    double at = NowMs();
    std::lock_guard<std::mutex> lock(lock_);
    statuses_.push_back(StatusEvent{state ? state : "(null)", source ? source : "(null)", at});
}

std::vector<StatusEvent> Recorder::Statuses() {
    std::lock_guard<std::mutex> lock(lock_);
    return statuses_;
}

std::vector<StatsEvent> Recorder::Stats() {
    std::lock_guard<std::mutex> lock(lock_);
    return stats_;
}

std::vector<FrameEvent> Recorder::Frames() {
    std::lock_guard<std::mutex> lock(lock_);
    return frames_;
}

int Recorder::CountStatus(const std::string& state) {
    std::lock_guard<std::mutex> lock(lock_);
    int count = 0;
    for (const StatusEvent& event : statuses_) {
        count += event.state == state ? 1 : 0;
    }
    return count;
}

double Recorder::TimeOf(const std::string& state, int n) {
    std::lock_guard<std::mutex> lock(lock_);
    for (const StatusEvent& event : statuses_) {
        if (event.state == state && n-- == 0) {
            return event.atMs;
        }
    }
    return -1.0;
}

void Recorder::Clear() {
    std::lock_guard<std::mutex> lock(lock_);
    statuses_.clear();
    stats_.clear();
    frames_.clear();
}
