// Helpers shared by the OMT tests: where the simulated library lives, a call log per
// test, and a thread-safe record of what a receiver reported. Recording happens on the
// receiver's worker; the test thread reads snapshots.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "omt_receiver.h"
#include "win_types.h"

// <test exe dir>\..\sim\ (with trailing separator); `variant` is a subfolder or "".
std::string SimDir(const std::string& variant = "");
std::string ReadTextFile(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);
std::string UniqueTempPath(const char* stem);

// Points SIM_OMT_LOG at a fresh file for the life of the object.
class SimCallLog {
public:
    SimCallLog();
    ~SimCallLog();
    std::vector<std::string> Lines() const { return ReadLines(path_); }
    // Lines starting with `prefix`.
    std::vector<std::string> Matching(const std::string& prefix) const;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct StatusEvent {
    std::string state;
    std::string source;
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
    int frameNumber;  // from the simulator's pixel 0
    int quality;      // from the simulator's pixel 1
};

class Recorder {
public:
    Recorder();
    void Attach(OmtReceiver& receiver);

    std::vector<StatusEvent> Statuses();
    std::vector<StatsEvent> Stats();
    std::vector<FrameEvent> Frames();
    int CountStatus(const std::string& state);
    void Clear();
    double NowMs() const;

private:
    CriticalSection lock_;
    std::vector<StatusEvent> statuses_;
    std::vector<StatsEvent> stats_;
    std::vector<FrameEvent> frames_;
    LARGE_INTEGER start_;
    LARGE_INTEGER frequency_;
};

// Polls `done` every 10 ms for at most `timeoutMs`; true once it holds.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);
