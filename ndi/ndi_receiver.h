// NdiReceiver: Tivane's receiving side. Binds the NDI runtime at start-up; its attempt
// creates a receiver for the named source, captures frames until the connection ends and
// destroys it. Start, Stop and the reports are the shared receiver's (source_receiver.h).
//
// Threads: the main thread calls Initialize, the setters and the destructor; the pipe
// reader thread calls Start, SetBandwidth and Stop; the worker runs the attempts and every
// callback.
#pragma once

#include <memory>
#include <string>

#include "ndi_api.h"
#include "ndi_source_finder.h"
#include "receiver_callbacks.h"
#include "source_receiver.h"
#include "startup_failure.h"
#include "win_types.h"

class NdiReceiver final : public SourceReceiver {
public:
    static constexpr unsigned kStopWaitMs = 3000;

    static ReceiverHandle<NdiReceiver> Create() {
        return ReceiverHandle<NdiReceiver>(std::shared_ptr<NdiReceiver>(new NdiReceiver()));
    }
    ~NdiReceiver() override;

    // Loads and initialises the runtime. False when it is missing or unusable; `problem`
    // (when given) then says which and why.
    bool Initialize(StartupProblem* problem = nullptr);

    // Stops a running worker, then receives `source`; bandwidth 0 is lowest, any other
    // value highest. False when no worker was started.
    bool Start(const std::string& source, int bandwidth);
    // Stores the value; a running worker reconnects with it.
    void SetBandwidth(int bandwidth);

    void SetFrameCallback(FrameCallback callback) { frameCallback_ = std::move(callback); }

    // After Initialize: the runtime's source finder, which must go before this receiver.
    std::unique_ptr<SourceFinder> CreateSourceFinder() const {
        return std::make_unique<NdiSourceFinder>(table_);
    }

private:
    struct Connection;

    NdiReceiver() : SourceReceiver("[NDI]", kStopWaitMs) {}

    AttemptEnd RunAttempt(const Settings& settings) override;
    bool CanReceive() const override { return table_ != nullptr; }
    void CaptureOnce(const std::string& source, Connection& connection);
    void OnVideoFrame(const std::string& source, const ndi::VideoFrameV2& video,
                      Connection& connection);

    const ndi::ApiV5* table_ = nullptr;
    UniqueModule library_;
    FrameCallback frameCallback_;
};
