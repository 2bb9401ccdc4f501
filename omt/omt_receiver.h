// OmtReceiver: Parlex's receiving side. Owns libomt.dll (loaded at run time); its attempt
// connects to an OMT source by address, pulls BGRA video frames until the connection ends
// and passes quality changes to the open connection. Start, Stop and the reports are the
// shared receiver's (source_receiver.h).
//
// Threads: the main thread (Initialize, callback setters, Stop at exit, destruction);
// the pipe reader thread through command handling (Start, SetQuality, Stop); the worker
// (the attempts and every callback).
#pragma once

#include <memory>
#include <string>

#include "omt_api.h"
#include "omt_source_finder.h"
#include "receiver_callbacks.h"
#include "source_receiver.h"
#include "startup_failure.h"
#include "win_types.h"

class OmtReceiver final : public SourceReceiver {
public:
    static constexpr unsigned kStopWaitMs = 5000;

    static ReceiverHandle<OmtReceiver> Create() {
        return ReceiverHandle<OmtReceiver>(std::shared_ptr<OmtReceiver>(new OmtReceiver()));
    }

    // Loads libomt.dll and looks up its entries. True when the library is loaded and
    // create, destroy and receive were found; the suggested-quality and discovery entries
    // are optional. On failure `problem` (when given) says which and why.
    bool Initialize(StartupProblem* problem = nullptr);

    // Stops a running worker, then receives from `address`. False when no worker was
    // started.
    bool Start(const std::string& address, int quality);
    // Stored only; a running worker passes it to the open connection before its next
    // receive call.
    void SetQuality(int quality) { StoreQuality(quality); }

    // Assigned before the first Start and not changed while a worker runs.
    void SetFrameCallback(FrameCallback callback) { frameCallback_ = std::move(callback); }

    // After Initialize: libomt's discovery, which must go before this receiver.
    std::unique_ptr<SourceFinder> CreateSourceFinder() const {
        return std::make_unique<OmtSourceFinder>(discover_);
    }

private:
    struct Connection;

    OmtReceiver() : SourceReceiver("[OMT]", kStopWaitMs) {}

    AttemptEnd RunAttempt(const Settings& settings) override;
    bool CanReceive() const override {
        return create_ != nullptr && destroy_ != nullptr && receive_ != nullptr;
    }
    void ReceiveOnConnection(Connection& connection);
    void ApplyQualityChange(Connection& connection);
    void TakeFrame(Connection& connection, const OmtMediaFrame* frame);
    void SuggestQuality(OmtReceiveInstance* instance, int quality);

    UniqueModule library_;
    OmtReceiveCreateFn create_ = nullptr;
    OmtReceiveDestroyFn destroy_ = nullptr;
    OmtReceiveFn receive_ = nullptr;
    OmtReceiveSetSuggestedQualityFn setSuggestedQuality_ = nullptr;
    OmtDiscoveryGetAddressesFn discover_ = nullptr;
    FrameCallback frameCallback_;
};
