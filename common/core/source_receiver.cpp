#include "source_receiver.h"

#include "log.h"
#include "performance_counter.h"
#include "schedule_point.h"

SourceReceiver::SourceReceiver(const char* tag, unsigned stopWaitMs)
    : tag_(tag), worker_(stopWaitMs, this) {}

bool SourceReceiver::StartReceiving(const std::string& source, int quality) {
    // The old worker ends before the values change, so it never opens an attempt on the
    // new source; it is waited for here only if no Stop has waited for it yet.
    const bool ended = worker_.Stop();
    {
        std::lock_guard<std::mutex> lock(lock_);
        settings_.source = source;
        settings_.quality = quality;
    }
    if (ended && !CanReceive()) {
        return false;
    }
    reconnectRequested_.exchange(false);
    // The worker holds the receiver while it runs; without an owner's shared hold (a
    // receiver made outside ReceiverHandle) it runs without one.
    switch (worker_.Start<SourceReceiver, &SourceReceiver::ReceiveLoop>(this,
                                                                        weak_from_this().lock())) {
        case WorkerThread::StartResult::Started:
            return true;
        case WorkerThread::StartResult::Deferred:
            return false;  // "Receiver busy" was reported, once for the worker that hangs
        case WorkerThread::StartResult::Failed:
            break;
    }
    return false;
}

void SourceReceiver::Stop() {
    worker_.Stop();
}

bool SourceReceiver::Stuck() {
    return worker_.Stuck();
}

void SourceReceiver::StoreQuality(int quality) {
    std::lock_guard<std::mutex> lock(lock_);
    settings_.quality = quality;
}

int SourceReceiver::Quality() {
    std::lock_guard<std::mutex> lock(lock_);
    return settings_.quality;
}

bool SourceReceiver::CopySettingsWhileRunning(Settings& settings) {
    schedule::Point("receiver.copy-settings");
    std::lock_guard<std::mutex> lock(lock_);
    if (!worker_.running()) {
        return false;
    }
    // Cleared before the copy: a request that comes after it (a new bandwidth) finds the
    // attempt it must end, and one that came before is in the copy.
    reconnectRequested_.exchange(false);
    settings = settings_;
    return true;
}

void SourceReceiver::StartDeferred() {
    NotifyStatus("error", "Receiver busy");
}

void SourceReceiver::RunEnded() {
    NotifyStatus("disconnected", "");
}

void SourceReceiver::ReceiveLoop() {
    Settings settings;
    while (CopySettingsWhileRunning(settings)) {
        if (settings.source.empty()) {
            NotifyStatus("disconnected", "");
            worker_.Pause(kNoSourcePauseMs);
            continue;
        }
        switch (RunAttempt(settings)) {
            case AttemptEnd::OpenFailed:
                worker_.Pause(kOpenFailedPauseMs);
                break;
            case AttemptEnd::ConnectionEnded:
                if (worker_.running()) {
                    NotifyStatus("reconnecting", settings.source.c_str());
                    worker_.Pause(kConnectionEndedPauseMs);
                }
                break;
            case AttemptEnd::Stopped:
                break;
        }
    }
    // The final "disconnected" is RunEnded's.
}

void SourceReceiver::NotifyStatus(const char* state, const char* source) {
    HostLog("%s NotifyStatus: state='%s', source='%s'", tag_, state, source ? source : "");
    if (statusCallback_) {
        statusCallback_(state, source);
    }
}

void SourceReceiver::ReportStats(float framesPerSecond, int width, int height) {
    if (statsCallback_) {
        statsCallback_(framesPerSecond, width, height);
    }
}

void SourceReceiver::CountFrame(FrameCounts& counts, int width, int height) {
    counts.interval.CountFrame();
    counts.width = width;
    counts.height = height;
    counts.empty.Reset();
}

void SourceReceiver::CloseInterval(FrameCounts& counts, const char* source) {
    float framesPerSecond = 0.0f;
    bool hadFrames = false;
    if (!counts.interval.Close(CounterNow(), framesPerSecond, hadFrames)) {
        return;
    }
    ReportStats(framesPerSecond, counts.width, counts.height);
    if (counts.empty.Record(hadFrames)) {
        NotifyStatus("reconnecting", source);
        RequestReconnect();
    }
}
