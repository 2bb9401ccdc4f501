// NdiReceiver: Tivane's receiving side. Binds the NDI runtime at start-up and runs one
// worker that connects to a named source, captures frames and reports status and stats.
//
// Threads: the main thread calls Initialize, the setters and the destructor; the pipe
// reader thread calls Start, SetBandwidth and Stop; the worker runs ReceiveLoop and every
// callback. `lock_` guards only the source name and the bandwidth setting.
#pragma once

#include <atomic>
#include <string>

#include "ndi_api.h"
#include "receiver_callbacks.h"
#include "win_types.h"
#include "worker_thread.h"

class NdiReceiver {
public:
    NdiReceiver() = default;
    ~NdiReceiver();
    NdiReceiver(const NdiReceiver&) = delete;
    NdiReceiver& operator=(const NdiReceiver&) = delete;

    // Loads and initialises the runtime. False when it is missing or unusable.
    bool Initialize();

    // Stops a running worker, then receives `source`; bandwidth 0 is lowest, any other
    // value highest. False only when no worker could be started.
    bool Start(const std::string& source, int bandwidth);
    // Stores the value; a running worker reconnects with it.
    void SetBandwidth(int bandwidth);
    // Ends the worker, waiting at most 3000 ms.
    void Stop();
    // True while a worker that outlasted its stop wait may still be running.
    bool Stuck();

    void SetFrameCallback(FrameCallback callback) { frameCallback_ = std::move(callback); }
    void SetStatusCallback(StatusCallback callback) { statusCallback_ = std::move(callback); }
    void SetStatsCallback(StatsCallback callback) { statsCallback_ = std::move(callback); }

    static constexpr unsigned kStopWaitMs = 3000;

private:
    struct Attempt {
        std::string source;
        int bandwidth = 100;
    };
    struct Connection;

    void ReceiveLoop();
    Attempt CopySettings();
    // One connection from create to destroy; false when the create failed.
    bool RunConnection(const Attempt& attempt);
    void CaptureOnce(const std::string& source, Connection& connection);
    void OnVideoFrame(const std::string& source, const ndi::VideoFrameV2& video,
                      Connection& connection);
    void StatsStep(const std::string& source, Connection& connection);
    void NotifyStatus(const char* state, const char* source);

    const ndi::ApiV5* table_ = nullptr;
    UniqueModule library_;
    ndi::RecvInstance instance_ = nullptr;  // worker only
    std::atomic<bool> reconnectRequested_{false};

    CriticalSection lock_;
    std::string sourceName_;  // guarded by lock_
    int bandwidth_ = 100;     // guarded by lock_

    // Destroyed in reverse order: stats, status, frame callback, then the source name.
    FrameCallback frameCallback_;
    StatusCallback statusCallback_;
    StatsCallback statsCallback_;

    // Last member, so destroyed first: its destructor's bounded stop runs while everything
    // the worker touches is still alive.
    WorkerThread worker_{kStopWaitMs};
};
