// NdiReceiver: runtime binding, one attempt of the worker and the receiver's teardown.
// See ndi_receiver.h for which thread calls what.
#include "ndi_receiver.h"

#include "library_loader.h"
#include "log.h"
#include "performance_counter.h"

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
    ndi::RecvInstance instance = nullptr;
    FrameCounts counts{kEmptyIntervalLimit};
};

// No worker runs any more: one that hung held the receiver until it ended.
NdiReceiver::~NdiReceiver() {
    if (table_ != nullptr && table_->destroy != nullptr) {
        table_->destroy();  // also after a failed initialize
    }
    table_ = nullptr;
    library_.Reset();
}

bool NdiReceiver::Initialize(StartupProblem* problem) {
    library_ = LoadReceivingLibrary(ndi::kRuntimeFileName, "[NDI]", problem);
    if (!library_) {
        return false;
    }
    auto unusable = [this, problem](const std::string& why) {
        if (problem != nullptr) {
            problem->reason = StartupFailure::LibraryUnusable;
            problem->text = LibraryPath(library_) + " " + why;
        }
        return false;
    };
    auto load = library_.Find<ndi::LoadEntry>(ndi::kLoadV6Name);
    if (load == nullptr) {
        load = library_.Find<ndi::LoadEntry>(ndi::kLoadV5Name);
    }
    if (load == nullptr) {
        return unusable(std::string("has neither ") + ndi::kLoadV6Name + " nor " +
                        ndi::kLoadV5Name);
    }
    table_ = load();
    if (table_ == nullptr) {
        return unusable("gave no function table");
    }
    if (!HasUsedMembers(*table_)) {
        return unusable("lacks functions that Tivane calls");
    }
    return table_->initialize() || unusable("refused to initialise");
}

bool NdiReceiver::Start(const std::string& source, int bandwidth) {
    HostLog("[NDI] Start: source='%s', bandwidth=%d", source.c_str(), bandwidth);
    return StartReceiving(source, bandwidth);
}

void NdiReceiver::SetBandwidth(int bandwidth) {
    StoreQuality(bandwidth);
    RequestReconnect();
}

AttemptEnd NdiReceiver::RunAttempt(const Settings& settings) {
    const char* source = settings.source.c_str();
    const bool lowest = settings.quality == 0;
    HostLog("[NDI] ReceiveLoop: connecting to '%s', bandwidth=%d", source, settings.quality);
    NotifyStatus("connecting", source);
    HostLog("[NDI]   p_ndi_name='%s'", source);
    HostLog("[NDI]   bandwidth=%s", lowest ? "lowest" : "highest");

    ndi::RecvCreateV3 create{};
    create.sourceToConnectTo.ndiName = source;
    create.sourceToConnectTo.urlAddress = nullptr;
    create.colorFormat = ndi::ColorFormat::kBgrxBgra;
    create.bandwidth = lowest ? ndi::Bandwidth::kLowest : ndi::Bandwidth::kHighest;
    create.allowVideoFields = false;
    create.recvName = kReceiverName;
    Connection connection;
    connection.instance = table_->recvCreateV3(&create);
    if (connection.instance == nullptr) {
        NotifyStatus("error", "Failed to create receiver");
        return AttemptEnd::OpenFailed;
    }
    ndi::Tally tally{true, false};
    table_->recvSetTally(connection.instance, &tally);
    connection.counts.interval.Begin(CounterNow(), CounterFrequency());
    while (Receiving()) {
        CaptureOnce(settings.source, connection);
        CloseInterval(connection.counts, source);
    }
    table_->recvDestroy(connection.instance);
    return AttemptEnd::ConnectionEnded;
}

void NdiReceiver::CaptureOnce(const std::string& source, Connection& connection) {
    ndi::VideoFrameV2 video = ndi::DefaultVideoFrame();
    ndi::AudioFrameV2 audio = ndi::DefaultAudioFrame();
    ndi::MetadataFrame metadata = ndi::DefaultMetadataFrame();
    const ndi::RecvInstance instance = connection.instance;
    switch (table_->recvCaptureV2(instance, &video, &audio, &metadata, kCaptureTimeoutMs)) {
        case ndi::FrameType::kVideo:
            OnVideoFrame(source, video, connection);
            table_->recvFreeVideoV2(instance, &video);  // also when it carried no pixels
            break;
        case ndi::FrameType::kAudio:
            table_->recvFreeAudioV2(instance, &audio);
            break;
        case ndi::FrameType::kMetadata:
            table_->recvFreeMetadata(instance, &metadata);
            break;
        case ndi::FrameType::kError:
            NotifyStatus("error", "NDI error");
            RequestReconnect();
            break;
        default:
            break;  // nothing within the timeout, or a status or source change
    }
}

// "connected" at the first video frame of every statistics interval.
void NdiReceiver::OnVideoFrame(const std::string& source, const ndi::VideoFrameV2& video,
                               Connection& connection) {
    CountFrame(connection.counts, video.xres, video.yres);
    if (connection.counts.interval.frames() == 1) {
        NotifyStatus("connected", source.c_str());
    }
    if (frameCallback_ && video.data != nullptr) {
        frameCallback_(video.data, video.xres, video.yres, video.lineStrideBytes);
    }
}
