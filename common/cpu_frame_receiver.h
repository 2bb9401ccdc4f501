// The host adapter of the two pixel-row hosts (Parlex, Tivane): a receiver whose
// FrameCallback copies into the frame slot's textures, and the main thread that draws
// from them.
// SetQualityOf is the receiver's quality setter (NdiReceiver::SetBandwidth,
// OmtReceiver::SetQuality).
#pragma once

#include <memory>
#include <string>

#include "frame_slot.h"
#include "host_receiver.h"
#include "source_receiver.h"

template <typename Receiver, void (Receiver::*SetQualityOf)(int)>
class CpuFrameHostReceiver final : public HostReceiver {
public:
    bool Prepare(FramePresenter&, StartupProblem& problem) override {
        return receiver_->Initialize(&problem);
    }
    // The frame callback holds the slot, so a worker that outlives this adapter still
    // fills a slot that exists.
    void InstallCallbacks(HWND window, StatusCallback status, StatsCallback stats) override {
        receiver_->SetFrameCallback([slot = slot_, window](const unsigned char* pixels, int width,
                                                           int height, int strideBytes) {
            StoreFrame(*slot, window, pixels, width, height, strideBytes);
        });
        receiver_->SetStatsCallback(std::move(stats));
        receiver_->SetStatusCallback(std::move(status));
    }
    void OnFrameNotification(FramePresenter& presenter) override {
        DrawPendingFrame(*slot_, presenter);
    }
    // The ring's textures belong to the device; the next frame makes a ring on the new one.
    void OnDeviceChanged(ID3D11Device* device) override {
        if (device == nullptr) {
            RetireFrameTextures(*slot_);
        }
    }
    std::unique_ptr<SourceFinder> CreateSourceFinder() override {
        return receiver_->CreateSourceFinder();
    }

    bool Start(const std::string& source, int quality) override {
        return receiver_->Start(source, quality);
    }
    void Stop() override { receiver_->Stop(); }
    void SetQuality(int quality) override { ((*receiver_).*SetQualityOf)(quality); }
    void ReleaseFrames() override { FreeFramePixels(*slot_); }
    bool Stuck() override { return receiver_->Stuck(); }

private:
    std::shared_ptr<FrameSlot> slot_ = std::make_shared<FrameSlot>();
    ReceiverHandle<Receiver> receiver_ = Receiver::Create();
};
