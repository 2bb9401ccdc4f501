#include "host_main.h"

#include <string>

#include "command_handler.h"
#include "frame_presenter.h"
#include "host_args.h"
#include "host_window.h"
#include "log.h"
#include "pipe_client.h"

namespace {

void LogParsedArgs(HostKind kind, const HostArgs& args) {
    switch (kind) {
        case HostKind::Parlex:
            HostLog("Parsed args: pipeName='%s', address='%s', quality=%d",
                    args.pipeName.c_str(), args.source.c_str(), args.quality);
            break;
        case HostKind::Tivane:
            HostLog("Parsed args: pipeName='%s', ndiName='%s', quality=%d",
                    args.pipeName.c_str(), args.source.c_str(), args.quality);
            break;
        case HostKind::Grelm:
            HostLog("Parsed args: pipeName='%s', senderName='%s'", args.pipeName.c_str(),
                    args.source.c_str());
            break;
    }
}

// Commands reach the receiver through this gate. Once the teardown has stopped the
// receiver, a late "set_source" from the reader thread can no longer start a worker;
// the gate's lock also keeps the reader's and the main thread's Start and Stop apart.
class CommandGate : public ReceiverControl {
public:
    CommandGate(HostReceiver& receiver, HWND window) : receiver_(receiver), window_(window) {}

    void Stop() override {
        ScopedLock lock(guard_);
        receiver_.Stop();
    }
    void Start(const std::string& source, int quality) override {
        ScopedLock lock(guard_);
        if (!closed_) {
            receiver_.Start(source, quality);
        }
    }
    void SetQuality(int quality) override { receiver_.SetQuality(quality); }
    void RequestQuit() override { PostMessageW(window_, kQuitRequest, 0, 0); }

    // Teardown: the last Stop; no Start after it.
    void CloseAndStop() {
        ScopedLock lock(guard_);
        closed_ = true;
        receiver_.Stop();
    }

private:
    CriticalSection guard_;
    HostReceiver& receiver_;
    HWND window_;
    bool closed_ = false;
};

void RunMessageLoop(HostReceiver& receiver, FramePresenter& presenter) {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == kFrameNotification) {
            receiver.OnFrameNotification(presenter);
            continue;
        }
        if (message.message == kQuitRequest) {
            PostQuitMessage(0);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

int RunHost(HINSTANCE instance, const char* commandLine, HostKind kind,
            ReceiverFactory createReceiver) {
    const HostTraits& traits = TraitsOf(kind);
    std::string text = commandLine ? commandLine : "";
    HostLog("WinMain started, cmdLine='%s'", text.c_str());
    HostArgs args = ParseHostArgs(kind, text);
    LogParsedArgs(kind, args);
    if (args.pipeName.empty()) {
        return 1;
    }

    HWND window = nullptr;
    if (!CreateHostWindow(instance, traits, 320, 180, window)) {
        DestroyHostWindow(window);
        return 1;
    }
    auto presenter = std::make_unique<FramePresenter>();
    if (!presenter->Initialize(window)) {
        presenter.reset();
        DestroyHostWindow(window);
        return 1;
    }
    std::unique_ptr<HostReceiver> receiver = createReceiver();
    if (!receiver->Prepare(*presenter)) {
        receiver.reset();
        presenter.reset();
        DestroyHostWindow(window);
        return 1;
    }
    auto pipe = std::make_unique<PipeClient>(kind);
    HostLog("Connecting to pipe '%s'...", args.pipeName.c_str());
    if (!pipe->Connect(args.pipeName)) {
        HostLog("ERROR: PipeClient::Connect failed for '%s', exiting with code 1",
                args.pipeName.c_str());
        pipe.reset();
        receiver.reset();
        presenter.reset();
        DestroyHostWindow(window);
        return 1;
    }
    pipe->SendHostReady(window, GetCurrentProcessId());
    receiver->InstallCallbacks(window, *pipe);

    CommandGate gate(*receiver, window);
    pipe->StartReader(
        [kind, &args, &gate](const JsonObject& command) {
            HandleCommand(kind, command, args.quality, gate);
        },
        [&gate] { gate.RequestQuit(); });

    RunMessageLoop(*receiver, *presenter);

    gate.CloseAndStop();
    pipe->StopReader();
    if (receiver->Stuck()) {
        // A worker outlasted its stop wait and may still report, fill the slot or open
        // textures on the device: nothing it uses is released, and the process ends now.
        (void)pipe.release();
        (void)receiver.release();
        (void)presenter.release();
        DestroyHostWindow(window);
        return 0;
    }
    presenter->ReleaseResources();
    pipe->ClosePipe();
    receiver->ReleaseFrames();
    pipe.reset();
    receiver.reset();
    presenter.reset();
    DestroyHostWindow(window);
    return 0;
}
