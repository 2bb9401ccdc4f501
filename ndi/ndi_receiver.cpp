// NdiReceiver: runtime binding, the worker's receive loop and the receiver's teardown.
// See ndi_receiver.h for which thread calls what.
#include "ndi_receiver.h"

#include "library_loader.h"
#include "log.h"
#include "performance_counter.h"
#include "receive_cycle.h"
#include "stats_interval.h"

namespace {

constexpr uint32_t kCaptureTimeoutMs = 50;
constexpr int kEmptyIntervalLimit = 2;
constexpr const char* kReceiverName = "Tivane";

// A runtime whose table lacks a member we call is as unusable as a missing one.
bool HasUsedMembers(const ndi::ApiV5& table) {
    return table.initialize && table.destroy && table.recvCreateV3 && table.recvDestroy &&
           table.recvSetTally && table.recvCaptureV2 && table.recvFreeVideoV2 &&
           table.recvFreeAudioV2 && table.recvFreeMetadata;
}

}  // namespace

struct NdiReceiver::Connection {
    StatsInterval interval;
    EmptyIntervals emptyIntervals{kEmptyIntervalLimit};
    int width = 0;
    int height = 0;
};

NdiReceiver::~NdiReceiver() {
    worker_.Stop();
    if (worker_.Stuck()) {
        // The worker outlasted its stop wait and may still be inside the runtime: shutting
        // the runtime down or unloading it under that call would crash the process. The
        // runtime is left loaded (the module handle is dropped, not freed) and ends with the
        // process. Owners that see Stuck() keep the receiver itself alive as well.
        // The worker still reads table_ until it ends, so it stays set.
        (void)library_.Release();
        return;
    }
    if (table_ != nullptr && table_->destroy != nullptr) {
        table_->destroy();  // also after a failed initialize
    }
    table_ = nullptr;
    library_.Reset();
}

bool NdiReceiver::Initialize() {
    library_ = LoadReceivingLibrary(ndi::kRuntimeFileName, "[NDI]");
    if (!library_) {
        return false;
    }
    auto load = library_.Find<ndi::LoadEntry>(ndi::kLoadV6Name);
    if (load == nullptr) {
        load = library_.Find<ndi::LoadEntry>(ndi::kLoadV5Name);
    }
    if (load == nullptr) {
        return false;
    }
    table_ = load();
    if (table_ == nullptr) {
        return false;
    }
    if (!HasUsedMembers(*table_)) {
        return false;
    }
    return table_->initialize();
}

bool NdiReceiver::Start(const std::string& source, int bandwidth) {
    HostLog("[NDI] Start: source='%s', bandwidth=%d", source.c_str(), bandwidth);
    worker_.Stop();
    {
        ScopedLock lock(lock_);
        sourceName_ = source;
        bandwidth_ = bandwidth;
    }
    if (table_ == nullptr) {
        return false;  // never bound: a worker would have nothing to call
    }
    reconnectRequested_.exchange(false);
    return worker_.Start<NdiReceiver, &NdiReceiver::ReceiveLoop>(this);
}

void NdiReceiver::SetBandwidth(int bandwidth) {
    {
        ScopedLock lock(lock_);
        bandwidth_ = bandwidth;
    }
    reconnectRequested_.exchange(true);
}

void NdiReceiver::Stop() {
    worker_.Stop();
}

bool NdiReceiver::Stuck() {
    return worker_.Stuck();
}

NdiReceiver::Attempt NdiReceiver::CopySettings() {
    ScopedLock lock(lock_);
    return Attempt{sourceName_, bandwidth_};
}

void NdiReceiver::ReceiveLoop() {
    RunReceiveCycle(
        worker_,
        [this](std::string& source) {
            Attempt attempt = CopySettings();
            source = attempt.source;
            if (attempt.source.empty()) {
                return AttemptEnd::NoSource;
            }
            return RunConnection(attempt) ? AttemptEnd::ConnectionEnded : AttemptEnd::OpenFailed;
        },
        [this](const char* state, const char* source) { NotifyStatus(state, source); });
}

bool NdiReceiver::RunConnection(const Attempt& attempt) {
    const char* source = attempt.source.c_str();
    bool lowest = attempt.bandwidth == 0;
    HostLog("[NDI] ReceiveLoop: connecting to '%s', bandwidth=%d", source, attempt.bandwidth);
    NotifyStatus("connecting", source);
    HostLog("[NDI]   p_ndi_name='%s'", source);
    HostLog("[NDI]   bandwidth=%s", lowest ? "lowest" : "highest");

    ndi::RecvCreateV3 settings{};
    settings.sourceToConnectTo.ndiName = source;
    settings.sourceToConnectTo.urlAddress = nullptr;
    settings.colorFormat = ndi::ColorFormat::kBgrxBgra;
    settings.bandwidth = lowest ? ndi::Bandwidth::kLowest : ndi::Bandwidth::kHighest;
    settings.allowVideoFields = false;
    settings.recvName = kReceiverName;
    instance_ = table_->recvCreateV3(&settings);
    if (instance_ == nullptr) {
        NotifyStatus("error", "Failed to create receiver");
        return false;
    }

    ndi::Tally tally{true, false};
    table_->recvSetTally(instance_, &tally);
    reconnectRequested_.exchange(false);
    Connection connection;
    connection.interval.Begin(CounterNow(), CounterFrequency());
    while (worker_.running() && !reconnectRequested_.load()) {
        CaptureOnce(attempt.source, connection);
        StatsStep(attempt.source, connection);
    }
    table_->recvDestroy(instance_);
    instance_ = nullptr;
    return true;
}

void NdiReceiver::CaptureOnce(const std::string& source, Connection& connection) {
    ndi::VideoFrameV2 video = ndi::DefaultVideoFrame();
    ndi::AudioFrameV2 audio = ndi::DefaultAudioFrame();
    ndi::MetadataFrame metadata = ndi::DefaultMetadataFrame();
    switch (table_->recvCaptureV2(instance_, &video, &audio, &metadata, kCaptureTimeoutMs)) {
        case ndi::FrameType::kVideo:
            OnVideoFrame(source, video, connection);
            table_->recvFreeVideoV2(instance_, &video);  // also when it carried no pixels
            break;
        case ndi::FrameType::kAudio:
            table_->recvFreeAudioV2(instance_, &audio);
            break;
        case ndi::FrameType::kMetadata:
            table_->recvFreeMetadata(instance_, &metadata);
            break;
        case ndi::FrameType::kError:
            NotifyStatus("error", "NDI error");
            reconnectRequested_.exchange(true);
            break;
        default:
            break;  // nothing within the timeout, or a status or source change
    }
}

void NdiReceiver::OnVideoFrame(const std::string& source, const ndi::VideoFrameV2& video,
                               Connection& connection) {
    connection.interval.CountFrame();
    connection.width = video.xres;
    connection.height = video.yres;
    connection.emptyIntervals.Reset();
    if (connection.interval.frames() == 1) {
        NotifyStatus("connected", source.c_str());
    }
    if (frameCallback_ && video.data != nullptr) {
        frameCallback_(video.data, video.xres, video.yres, video.lineStrideBytes);
    }
}

void NdiReceiver::StatsStep(const std::string& source, Connection& connection) {
    float framesPerSecond = 0.0f;
    bool hadFrames = false;
    if (!connection.interval.Close(CounterNow(), framesPerSecond, hadFrames)) {
        return;
    }
    if (statsCallback_) {
        statsCallback_(framesPerSecond, connection.width, connection.height);
    }
    if (connection.emptyIntervals.Record(hadFrames)) {
        NotifyStatus("reconnecting", source.c_str());
        reconnectRequested_.exchange(true);
    }
}

void NdiReceiver::NotifyStatus(const char* state, const char* source) {
    HostLog("[NDI] NotifyStatus: state='%s', source='%s'", state, source ? source : "");
    if (statusCallback_) {
        statusCallback_(state, source);
    }
}
