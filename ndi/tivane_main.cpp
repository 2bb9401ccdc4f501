// Tivane's entry point: the shared host program with NdiReceiver plugged in. The adapter
// below is called by the host shell on the main thread (start-up, frames, teardown) and
// on the pipe reader thread (Start, Stop, SetQuality).
#include <memory>

#include <windows.h>

#include "cpu_frame_receiver.h"
#include "host_main.h"
#include "ndi_receiver.h"
#include "status_relay.h"

namespace {

class TivaneReceiver : public CpuFrameHostReceiver {
public:
    bool Prepare(FramePresenter&) override { return receiver_.Initialize(); }

    void InstallCallbacks(HWND window, PipeClient& pipe) override {
        receiver_.SetFrameCallback(MakeFrameCallback(window));
        receiver_.SetStatsCallback(MakeStatsCallback(pipe));
        receiver_.SetStatusCallback(MakeStatusCallback(HostKind::Tivane, pipe));
    }

    bool Start(const std::string& source, int quality) override {
        return receiver_.Start(source, quality);
    }
    void Stop() override { receiver_.Stop(); }
    void SetQuality(int quality) override { receiver_.SetBandwidth(quality); }
    bool Stuck() override { return receiver_.Stuck(); }

private:
    NdiReceiver receiver_;
};

std::unique_ptr<HostReceiver> CreateTivaneReceiver() {
    return std::make_unique<TivaneReceiver>();
}

}  // namespace

int WINAPI WinMain(_In_ HINSTANCE instance, _In_opt_ HINSTANCE, _In_ LPSTR commandLine, _In_ int) {
    return RunHost(instance, commandLine, HostKind::Tivane, &CreateTivaneReceiver);
}
