#include "host_main.h"

#include <string>

#include "command_gate.h"
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
            HostLog("Parsed args: pipeName='%s', address='%s', quality=%d", args.pipeName.c_str(),
                    args.source.c_str(), args.quality);
            break;
        case HostKind::Tivane:
            HostLog("Parsed args: pipeName='%s', ndiName='%s', quality=%d", args.pipeName.c_str(),
                    args.source.c_str(), args.quality);
            break;
        case HostKind::Grelm:
            HostLog("Parsed args: pipeName='%s', senderName='%s'", args.pipeName.c_str(),
                    args.source.c_str());
            break;
    }
}

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
