#include "omt_receiver.h"

#include <utility>

#include "library_loader.h"
#include "log.h"
#include "performance_counter.h"
#include "quality.h"
#include "receive_cycle.h"
#include "stats_interval.h"

namespace {

constexpr unsigned kStopWaitMs = 5000;
constexpr int kReceiveTimeoutMs = 50;
constexpr int kEmptyIntervalLimit = 3;

}  // namespace

struct OmtReceiver::Connection {
    std::string address;
    OmtReceiveInstance* instance = nullptr;
    int appliedQuality = 0;
    bool firstFrame = true;
    StatsInterval interval;
    EmptyIntervals emptyIntervals{kEmptyIntervalLimit};
    int width = 0;
    int height = 0;
};

OmtReceiver::OmtReceiver() : worker_(kStopWaitMs) {}

OmtReceiver::~OmtReceiver() {
    worker_.Stop();
    if (worker_.Stuck()) {
        // The worker may be inside omt_receive right now, or return into library code
        // later: unloading would pull its code out from under it. The module is left
        // loaded until the process ends.
        (void)library_.Release();
    }
}

bool OmtReceiver::Initialize() {
    library_ = LoadReceivingLibrary("libomt.dll", "[OMT]");
    if (!library_) {
        return false;
    }
    create_ = library_.Find<OmtReceiveCreateFn>("omt_receive_create");
    destroy_ = library_.Find<OmtReceiveDestroyFn>("omt_receive_destroy");
    receive_ = library_.Find<OmtReceiveFn>("omt_receive");
    setSuggestedQuality_ =
        library_.Find<OmtReceiveSetSuggestedQualityFn>("omt_receive_setsuggestedquality");
    return create_ != nullptr && destroy_ != nullptr && receive_ != nullptr;
}

bool OmtReceiver::Start(const std::string& address, int quality) {
    HostLog("[OMT] Start: address='%s', quality=%d", address.c_str(), quality);
    // The old worker ends before the new values are stored, so it never opens an
    // attempt on the new address.
    worker_.Stop();
    {
        ScopedLock lock(lock_);
        address_ = address;
        quality_ = quality;
    }
    reconnectRequested_.exchange(false);
    if (create_ == nullptr || destroy_ == nullptr || receive_ == nullptr) {
        return false;
    }
    return worker_.Start<OmtReceiver, &OmtReceiver::ReceiveLoop>(this);
}

void OmtReceiver::SetQuality(int quality) {
    ScopedLock lock(lock_);
    quality_ = quality;
}

void OmtReceiver::Stop() {
    worker_.Stop();
}

bool OmtReceiver::Stuck() {
    return worker_.Stuck();
}

void OmtReceiver::ReceiveLoop() {
    RunReceiveCycle(
        worker_, [this](std::string& source) { return RunAttempt(source); },
        [this](const char* state, const char* source) { NotifyStatus(state, source); });
}

// One attempt: copy the settings, open a connection and receive until it ends.
AttemptEnd OmtReceiver::RunAttempt(std::string& source) {
    Connection connection;
    {
        ScopedLock lock(lock_);
        connection.address = address_;
        connection.appliedQuality = quality_;
    }
    source = connection.address;
    if (connection.address.empty()) {
        return AttemptEnd::NoSource;
    }
    HostLog("[OMT] ReceiveLoop: connecting to '%s', quality=%d", connection.address.c_str(),
            connection.appliedQuality);
    NotifyStatus("connecting", connection.address.c_str());
    connection.instance =
        create_(connection.address.c_str(), kOmtFrameVideo, kOmtFormatBgra, kOmtReceiveFlagsNone);
    if (connection.instance == nullptr) {
        NotifyStatus("error", "Failed to create receiver");
        return AttemptEnd::OpenFailed;
    }
    ReceiveOnConnection(connection);
    destroy_(connection.instance);
    return AttemptEnd::ConnectionEnded;
}

void OmtReceiver::ReceiveOnConnection(Connection& connection) {
    SuggestQuality(connection.instance, connection.appliedQuality);
    reconnectRequested_.exchange(false);
    connection.interval.Begin(CounterNow(), CounterFrequency());
    while (worker_.running() && !reconnectRequested_.load()) {
        ApplyQualityChange(connection);
        TakeFrame(connection, receive_(connection.instance, kOmtFrameVideo, kReceiveTimeoutMs));
        StatisticsStep(connection);
    }
}

// Quality goes to the open connection, never through a reconnect. Raw values are
// compared, so 60 then 70 is passed on twice even though both map to 100.
void OmtReceiver::ApplyQualityChange(Connection& connection) {
    int quality;
    {
        ScopedLock lock(lock_);
        quality = quality_;
    }
    if (quality != connection.appliedQuality && setSuggestedQuality_ != nullptr) {
        SuggestQuality(connection.instance, quality);
        connection.appliedQuality = quality;
    }
}

void OmtReceiver::SuggestQuality(OmtReceiveInstance* instance, int quality) {
    if (setSuggestedQuality_ != nullptr) {
        setSuggestedQuality_(instance, static_cast<OmtQuality>(MapOmtQuality(quality)));
    }
}

// The record belongs to the library and stays valid only until the next receive call;
// its pixels go to the callback by pointer, uncopied.
void OmtReceiver::TakeFrame(Connection& connection, const OmtMediaFrame* frame) {
    if (!IsUsableVideoFrame(frame)) {
        return;
    }
    connection.interval.CountFrame();
    connection.width = frame->width;
    connection.height = frame->height;
    connection.emptyIntervals.Reset();
    if (connection.firstFrame) {
        connection.firstFrame = false;
        NotifyStatus("connected", connection.address.c_str());
    }
    if (frameCallback_) {
        frameCallback_(static_cast<const unsigned char*>(frame->data), frame->width, frame->height,
                       frame->stride);
    }
}

void OmtReceiver::StatisticsStep(Connection& connection) {
    float framesPerSecond = 0.0f;
    bool hadFrames = false;
    if (!connection.interval.Close(CounterNow(), framesPerSecond, hadFrames)) {
        return;
    }
    if (statsCallback_) {
        statsCallback_(framesPerSecond, connection.width, connection.height);
    }
    if (connection.emptyIntervals.Record(hadFrames)) {
        NotifyStatus("reconnecting", connection.address.c_str());
        reconnectRequested_.exchange(true);
    }
}

void OmtReceiver::NotifyStatus(const char* state, const char* source) {
    HostLog("[OMT] NotifyStatus: state='%s', source='%s'", state, source ? source : "");
    if (statusCallback_) {
        statusCallback_(state, source);
    }
}
