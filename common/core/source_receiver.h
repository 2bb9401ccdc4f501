// What the three receivers share: one worker at a time with a bounded stop, the source
// name and quality under one lock, the reconnect request, the status and stats callbacks
// with one tagged NotifyStatus, and the cycle of attempts with its reports and pauses.
// A receiver derives from it and supplies only its attempt (open a connection, receive
// until it ends, close it), its "connected" rule, its limits and its stop bound.
//
// Threads: the main thread constructs, assigns the callbacks, stops and destroys; the pipe
// reader thread starts and stops through command handling and sets the quality; the worker
// runs ReceiveLoop, the receiver's RunAttempt and every callback. The lock guards only the
// source and the quality and is never held during a callback or a library call.
//
// A receiver is only ever owned through a ReceiverHandle, and its worker holds the
// receiver too while it runs: a worker that outlasts its stop bound (a library call that
// hangs) keeps the receiver, and with it the library, the callbacks and every object the
// worker uses, until it ends; the receiver is then released on the worker's thread. So a
// receiver's destructor never runs beside its worker. What the callbacks reach (the frame
// slot, the pipe) belongs to their owners.
//
// Win32-free: the hosts' receivers derive from it, and the stress tests drive it natively
// with an attempt of their own.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "receiver_callbacks.h"
#include "stats_interval.h"
#include "worker_thread.h"

// How one attempt of a receiver ended; it decides what follows it.
enum class AttemptEnd {
    OpenFailed,       // the receiver reported its error: 1000 ms
    ConnectionEnded,  // a connection ran and ended: "reconnecting" while still running, 500 ms
    Stopped,          // stopped before a connection was made: nothing
};

constexpr unsigned kNoSourcePauseMs = 100;
constexpr unsigned kOpenFailedPauseMs = 1000;
constexpr unsigned kConnectionEndedPauseMs = 500;

class SourceReceiver : public std::enable_shared_from_this<SourceReceiver>, private RunReports {
public:
    SourceReceiver(const SourceReceiver&) = delete;
    SourceReceiver& operator=(const SourceReceiver&) = delete;

    // Ends the worker, waiting at most the receiver's stop bound.
    void Stop();
    // True while a worker that outlasted its stop bound may still be running.
    bool Stuck();

    void SetStatusCallback(StatusCallback callback) { statusCallback_ = std::move(callback); }
    void SetStatsCallback(StatsCallback callback) { statsCallback_ = std::move(callback); }

protected:
    // The values an attempt works with, copied under the lock at its start.
    struct Settings {
        std::string source;
        int quality = 100;
    };

    // Frame counts of one connection of a pixel receiver.
    struct FrameCounts {
        explicit FrameCounts(int emptyIntervalLimit) : empty(emptyIntervalLimit) {}
        StatsInterval interval;
        EmptyIntervals empty;
        int width = 0;
        int height = 0;
    };

    // tag: the log tag ("[NDI]"); stopWaitMs: the bound of Stop.
    SourceReceiver(const char* tag, unsigned stopWaitMs);
    // No worker runs any more when this runs (see above).
    virtual ~SourceReceiver() = default;

    // Stops the old worker (within one stop bound in all), stores the settings and starts a
    // new worker. An old worker that has still not ended is reported as "error" "Receiver
    // busy", once while it hangs and before its final "disconnected", and the newest
    // settings are received as soon as it has ended, with no further call; a Stop
    // meanwhile cancels that. False when no worker was started now.
    bool StartReceiving(const std::string& source, int quality);

    // Worker: one attempt on settings.source (never empty).
    virtual AttemptEnd RunAttempt(const Settings& settings) = 0;
    // Whether a worker would have anything to call (the library is bound).
    virtual bool CanReceive() const { return true; }

    void StoreQuality(int quality);
    int Quality();
    // Asks the worker to close its connection and attempt again.
    void RequestReconnect() { reconnectRequested_.exchange(true); }

    // Worker side.
    bool Running() const { return worker_.running(); }
    // The connection goes on: running, and no reconnect requested.
    bool Receiving() const { return worker_.running() && !reconnectRequested_.load(); }
    bool Pause(unsigned milliseconds) { return worker_.Pause(milliseconds); }
    void NotifyStatus(const char* state, const char* source);
    void ReportStats(float framesPerSecond, int width, int height);
    // A video frame of this connection counted, and its size taken.
    static void CountFrame(FrameCounts& counts, int width, int height);
    // After every receive call: a stats report once an interval of a second has closed,
    // and "reconnecting" plus a reconnect request at the limit of empty intervals.
    void CloseInterval(FrameCounts& counts, const char* source);

private:
    void ReceiveLoop();
    // Under the worker's run lock (see worker_thread.h): "Receiver busy" once for a worker
    // that holds a start back, and the end of each run, in their order with the runs.
    void StartDeferred() override;
    void RunEnded() override;
    // The settings for the next attempt, unless the worker has been told to stop. Asked
    // under the lock that StartReceiving stores new settings under once it has stopped the
    // worker, so a worker that outlasts that stop never opens an attempt on the settings
    // meant for the next one.
    bool CopySettingsWhileRunning(Settings& settings);

    const char* tag_;
    std::mutex lock_;
    Settings settings_;  // under lock_
    std::atomic<bool> reconnectRequested_{false};
    StatusCallback statusCallback_;
    StatsCallback statsCallback_;
    WorkerThread worker_;
};

// The owner's hold on a receiver: stops the worker when it goes. A worker that outlasts
// that stop keeps the receiver alive until it ends.
template <typename Receiver>
class ReceiverHandle {
public:
    ReceiverHandle() = default;
    explicit ReceiverHandle(std::shared_ptr<Receiver> receiver) : receiver_(std::move(receiver)) {}
    ReceiverHandle(ReceiverHandle&&) noexcept = default;
    ReceiverHandle& operator=(ReceiverHandle&& other) noexcept {
        if (this != &other) {
            reset();
            receiver_ = std::move(other.receiver_);
        }
        return *this;
    }
    ~ReceiverHandle() { reset(); }

    Receiver* operator->() const { return receiver_.get(); }
    Receiver& operator*() const { return *receiver_; }
    Receiver* get() const { return receiver_.get(); }
    void reset() {
        if (receiver_) {
            receiver_->Stop();
            receiver_.reset();
        }
    }

private:
    std::shared_ptr<Receiver> receiver_;
};
