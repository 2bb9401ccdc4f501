// Grelm's entry point: the shared host program with the Spout receiver plugged in. The
// adapter below is driven by the host shell: Prepare, InstallCallbacks, OnDeviceChanged,
// CreateSourceFinder and OnFrameNotification on the main thread, Start and Stop from the
// pipe reader thread and the main thread's teardown.
#include <memory>
#include <string>

#include <windows.h>

#include "frame_presenter.h"
#include "host_main.h"
#include "host_receiver.h"
#include "spout_receiver.h"
#include "spout_sender_list.h"
#include "texture_slot.h"

namespace {

class GrelmReceiver final : public HostReceiver {
public:
    bool Prepare(FramePresenter& presenter, StartupProblem& /*problem*/) override {
        receiver_->SetDevice(presenter.device(), presenter.context());
        return true;
    }
    // The texture callback holds the slot, so a worker that outlives this adapter still
    // fills a slot that exists.
    void InstallCallbacks(HWND window, StatusCallback status, StatsCallback stats) override {
        receiver_->SetTextureCallback(
            [slot = slot_, window](ID3D11Texture2D* texture, int width, int height) {
                StoreTexture(*slot, window, texture, width, height);
            });
        receiver_->SetStatsCallback(std::move(stats));
        receiver_->SetStatusCallback(std::move(status));
    }
    void OnFrameNotification(FramePresenter& presenter) override {
        PresentPendingTexture(*slot_, presenter);
    }
    std::unique_ptr<SourceFinder> CreateSourceFinder() override {
        return std::make_unique<SpoutSenderList>();
    }
    // The worker leaves the old device first; a texture it delivered from there is dropped.
    void OnDeviceChanged(ID3D11Device* device) override {
        receiver_->SwitchDevice(device);
        ReleaseTextures(*slot_);
    }
    bool Start(const std::string& source, int /*quality*/) override {
        return receiver_->Start(source);
    }
    void Stop() override { receiver_->Stop(); }
    void SetQuality(int /*quality*/) override {}  // Grelm has no quality
    void ReleaseFrames() override { ReleaseTextures(*slot_); }
    bool Stuck() override { return receiver_->Stuck(); }

private:
    std::shared_ptr<TextureSlot> slot_ = std::make_shared<TextureSlot>();
    ReceiverHandle<SpoutReceiver> receiver_ = SpoutReceiver::Create();
};

std::unique_ptr<HostReceiver> CreateGrelmReceiver() {
    return std::make_unique<GrelmReceiver>();
}

}  // namespace

// The command line is read wide by RunHost: this one is in the ANSI code page.
int WINAPI WinMain(_In_ HINSTANCE instance, _In_opt_ HINSTANCE /*previous*/, _In_ LPSTR /*ansi*/,
                   _In_ int /*showCommand*/) {
    return RunHost(instance, HostKind::Grelm, &CreateGrelmReceiver);
}
