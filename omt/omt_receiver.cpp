#include "omt_receiver.h"

#include "library_loader.h"
#include "log.h"
#include "performance_counter.h"
#include "quality.h"

namespace {

constexpr int kReceiveTimeoutMs = 50;
constexpr int kEmptyIntervalLimit = 3;

}  // namespace

struct OmtReceiver::Connection {
    std::string address;
    OmtReceiveInstance* instance = nullptr;
    int appliedQuality = 0;
    bool firstFrame = true;
    FrameCounts counts{kEmptyIntervalLimit};
};

bool OmtReceiver::Initialize(StartupProblem* problem) {
    library_ = LoadReceivingLibrary("libomt.dll", "[OMT]", problem);
    if (!library_) {
        return false;
    }
    create_ = library_.Find<OmtReceiveCreateFn>("omt_receive_create");
    destroy_ = library_.Find<OmtReceiveDestroyFn>("omt_receive_destroy");
    receive_ = library_.Find<OmtReceiveFn>("omt_receive");
    setSuggestedQuality_ =
        library_.Find<OmtReceiveSetSuggestedQualityFn>("omt_receive_setsuggestedquality");
    discover_ = library_.Find<OmtDiscoveryGetAddressesFn>("omt_discovery_getaddresses");
    if (!CanReceive() && problem != nullptr) {
        problem->reason = StartupFailure::LibraryUnusable;
        problem->text = LibraryPath(library_) + " lacks " +
                        (create_ == nullptr    ? "omt_receive_create"
                         : destroy_ == nullptr ? "omt_receive_destroy"
                                               : "omt_receive");
    }
    return CanReceive();
}

bool OmtReceiver::Start(const std::string& address, int quality) {
    HostLog("[OMT] Start: address='%s', quality=%d", address.c_str(), quality);
    return StartReceiving(address, quality);
}

// One attempt: open a connection and receive until it ends.
AttemptEnd OmtReceiver::RunAttempt(const Settings& settings) {
    Connection connection;
    connection.address = settings.source;
    connection.appliedQuality = settings.quality;
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
    connection.counts.interval.Begin(CounterNow(), CounterFrequency());
    while (Receiving()) {
        ApplyQualityChange(connection);
        TakeFrame(connection, receive_(connection.instance, kOmtFrameVideo, kReceiveTimeoutMs));
        CloseInterval(connection.counts, connection.address.c_str());
    }
}

// Quality goes to the open connection, never through a reconnect. Raw values are
// compared, so 60 then 70 is passed on twice even though both map to 100. A change that
// lands between the attempt's copy and the create is passed on before the first receive.
void OmtReceiver::ApplyQualityChange(Connection& connection) {
    const int quality = Quality();
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
// its pixels go to the callback by pointer, uncopied. "connected" once per connection.
void OmtReceiver::TakeFrame(Connection& connection, const OmtMediaFrame* frame) {
    if (!IsUsableVideoFrame(frame)) {
        return;
    }
    CountFrame(connection.counts, frame->width, frame->height);
    if (connection.firstFrame) {
        connection.firstFrame = false;
        NotifyStatus("connected", connection.address.c_str());
    }
    if (frameCallback_) {
        frameCallback_(static_cast<const unsigned char*>(frame->data), frame->width, frame->height,
                       frame->stride);
    }
}
