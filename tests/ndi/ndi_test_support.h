// Helpers shared by the NDI tests: where the simulated runtime lives, temporary folders,
// the simulator's call log, and a thread-safe record of what a receiver reported.
// Recording happens on the receiver's worker; the test thread reads snapshots.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ndi_receiver.h"
#include "win_types.h"

std::string ExeDir();  // with trailing separator
// <test exe dir>\..\sim\ (with trailing separator); `variant` is a subfolder or "".
std::string SimDir(const std::string& variant = "");
std::string UniqueTempPath(const char* stem);
std::vector<std::string> ReadLines(const std::string& path);
bool Contains(const std::string& text, const std::string& part);

// A fresh folder under %TEMP%, emptied and removed again with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }  // with trailing separator
    bool CopyIn(const std::string& file, const std::string& name);

private:
    std::string path_;
};

// Points SIM_NDI_LOG at a fresh file for the life of the object.
class SimCallLog {
public:
    SimCallLog();
    ~SimCallLog();
    std::vector<std::string> Lines() const { return ReadLines(path_); }
    std::vector<std::string> Matching(const std::string& prefix) const;
    int Count(const std::string& prefix) const { return static_cast<int>(Matching(prefix).size()); }

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
    long frameNumber;  // from the simulator's first pixel
};

class Recorder {
public:
    Recorder();
    // Installs frame, stats and status callbacks that record into this object.
    void Attach(NdiReceiver& receiver);

    std::vector<StatusEvent> Statuses();
    std::vector<StatsEvent> Stats();
    std::vector<FrameEvent> Frames();
    int CountStatus(const std::string& state);
    // Time of the n-th (0-based) report of `state`, or a negative value.
    double TimeOf(const std::string& state, int n);
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

// Makes the simulated runtime in `dir` the one a bare-name load finds, for this process.
void UseRuntimeFrom(const std::string& dir);
