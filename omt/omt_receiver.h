// OmtReceiver: Parlex's receiving side. Owns libomt.dll (loaded at run time) and one
// worker whose ReceiveLoop connects to an OMT source by address, pulls BGRA video
// frames, and reports state and frame rate through the host's callbacks.
//
// Threads: the main thread (Initialize, callback setters, Stop at exit, destruction);
// the pipe reader thread through command handling (Start, SetQuality, Stop); the
// worker (ReceiveLoop and every callback). The lock guards only the address and quality.
#pragma once

#include <atomic>
#include <string>

#include "omt_api.h"
#include "receiver_callbacks.h"
#include "win_types.h"
#include "receive_cycle.h"
#include "worker_thread.h"

class OmtReceiver {
public:
    OmtReceiver();
    ~OmtReceiver();
    OmtReceiver(const OmtReceiver&) = delete;
    OmtReceiver& operator=(const OmtReceiver&) = delete;

    // Loads libomt.dll and looks up its entries. True when the library is loaded and
    // create, destroy and receive were found; the suggested-quality entry is optional.
    bool Initialize();

    // Stops a running worker, then receives from `address`. False only when no worker
    // could be started.
    bool Start(const std::string& address, int quality);
    // Stored only; a running worker passes it to the open connection before its next
    // receive call.
    void SetQuality(int quality);
    void Stop();

    // True while a worker that outlasted its stop wait may still run.
    bool Stuck();

    // Assigned before the first Start and not changed while a worker runs.
    void SetFrameCallback(FrameCallback callback) { frameCallback_ = std::move(callback); }
    void SetStatusCallback(StatusCallback callback) { statusCallback_ = std::move(callback); }
    void SetStatsCallback(StatsCallback callback) { statsCallback_ = std::move(callback); }

private:
    // Per-connection state, kept by the worker.
    struct Connection;

    void ReceiveLoop();
    AttemptEnd RunAttempt(std::string& source);
    void ReceiveOnConnection(Connection& connection);
    void ApplyQualityChange(Connection& connection);
    void TakeFrame(Connection& connection, const OmtMediaFrame* frame);
    void StatisticsStep(Connection& connection);
    void NotifyStatus(const char* state, const char* source);
    void SuggestQuality(OmtReceiveInstance* instance, int quality);

    UniqueModule library_;
    OmtReceiveCreateFn create_ = nullptr;
    OmtReceiveDestroyFn destroy_ = nullptr;
    OmtReceiveFn receive_ = nullptr;
    OmtReceiveSetSuggestedQualityFn setSuggestedQuality_ = nullptr;

    WorkerThread worker_;  // holds the running flag
    std::atomic<bool> reconnectRequested_{false};

    CriticalSection lock_;
    std::string address_;  // under lock_
    int quality_ = 100;    // under lock_

    FrameCallback frameCallback_;
    StatusCallback statusCallback_;
    StatsCallback statsCallback_;
};
