// A thread-safe record of what a receiver reported through its frame, stats and status
// callbacks. The receiver's worker records; the test thread reads snapshots.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "win_types.h"

struct StatusEvent {
    std::string state;
    std::string source;  // "(null)" when the receiver passed none
    double atMs;
};
struct StatsEvent {
    float framesPerSecond;
    int width;
    int height;
    double atMs;
};
struct FrameEvent {
    int width;
    int height;
    int strideBytes;
    long frameNumber;  // from the simulator's first pixel
    int quality;       // from the simulator's second pixel (0 for a one-pixel-wide frame)
};

class Recorder {
public:
    Recorder();

    // Installs frame, stats and status callbacks that record into this object; any
    // receiver with the three setters of receiver_callbacks.h.
    template <class Receiver>
    void Attach(Receiver& receiver) {
        receiver.SetFrameCallback(
            [this](const unsigned char* pixels, int width, int height, int strideBytes) {
                OnFrame(pixels, width, height, strideBytes);
            });
        receiver.SetStatsCallback([this](float framesPerSecond, int width, int height) {
            OnStats(framesPerSecond, width, height);
        });
        receiver.SetStatusCallback(
            [this](const char* state, const char* source) { OnStatus(state, source); });
    }

    void OnFrame(const unsigned char* pixels, int width, int height, int strideBytes);
    void OnStats(float framesPerSecond, int width, int height);
    void OnStatus(const char* state, const char* source);

    std::vector<StatusEvent> Statuses();
    std::vector<StatsEvent> Stats();
    std::vector<FrameEvent> Frames();
    int CountStatus(const std::string& state);
    // Time of the n-th (0-based) report of `state`, or a negative value.
    double TimeOf(const std::string& state, int n);
    void Clear();
    // Milliseconds since the recorder was made, the clock of every event's atMs.
    double NowMs() const;

private:
    std::mutex lock_;
    std::vector<StatusEvent> statuses_;
    std::vector<StatsEvent> stats_;
    std::vector<FrameEvent> frames_;
    double startMs_;
};
