// Parlex's entry point: the shared host program with the OMT receiver plugged in.
// The adapter lives on the main thread; its Start/Stop/SetQuality come from command
// handling on the pipe reader thread.
#include <memory>

#include <windows.h>

#include "cpu_frame_receiver.h"
#include "host_main.h"
#include "omt_receiver.h"
#include "status_relay.h"

namespace {

class ParlexReceiver : public CpuFrameHostReceiver {
public:
    bool Prepare(FramePresenter&) override { return receiver_.Initialize(); }

    void InstallCallbacks(HWND window, PipeClient& pipe) override {
        receiver_.SetFrameCallback(MakeFrameCallback(window));
        receiver_.SetStatsCallback(MakeStatsCallback(pipe));
        receiver_.SetStatusCallback(MakeStatusCallback(HostKind::Parlex, pipe));
    }

    bool Start(const std::string& source, int quality) override {
        return receiver_.Start(source, quality);
    }
    void Stop() override { receiver_.Stop(); }
    void SetQuality(int quality) override { receiver_.SetQuality(quality); }
    bool Stuck() override { return receiver_.Stuck(); }

private:
    OmtReceiver receiver_;
};

std::unique_ptr<HostReceiver> CreateParlexReceiver() {
    return std::make_unique<ParlexReceiver>();
}

}  // namespace

int WINAPI WinMain(_In_ HINSTANCE instance, _In_opt_ HINSTANCE, _In_ LPSTR cmdLine, _In_ int) {
    return RunHost(instance, cmdLine, HostKind::Parlex, &CreateParlexReceiver);
}
