#include "host_main.h"

#include <cstdio>
#include <string>
#include <utility>

#include "answering_wait.h"
#include "command_gate.h"
#include "command_handler.h"
#include "device_recovery.h"
#include "frame_presenter.h"
#include "host_args.h"
#include "host_window.h"
#include "log.h"
#include "pipe_client.h"
#include "source_listing.h"
#include "startup_report.h"
#include "status_relay.h"
#include "win_text.h"
#include "window_sizing.h"

namespace {

// Longest the teardown waits for the receiver, the pipe reader, the source listing and the
// pipe writer to end: a command in progress may be waiting out one receiver stop (at most
// 5000 ms), the teardown's own stop adds no second wait for the same worker, the reader's
// join is 2000 ms, the listing's at most 4000 ms, and the writer gets one write bound to
// send what waits plus its own join.
constexpr DWORD kThreadsEndBoundMs = 5000 + 5000 + 2000 + SourceListing::kStopBoundMs +
                                     PipeWriter::kWriteBoundMs + PipeWriter::kJoinMs + 1000;

// Everything the host's threads use. When a thread outlives its bound, the whole of it is
// left to the end of the process instead of being released under that thread.
struct Host {
    explicit Host(HostKind hostKind) : kind(hostKind) {}
    HostKind kind;
    HostArgs args;
    HWND window = nullptr;
    std::unique_ptr<FramePresenter> presenter;
    std::unique_ptr<WindowSizing> sizing;  // main thread, like the presenter
    std::unique_ptr<HostReceiver> receiver;
    std::unique_ptr<PipeClient> pipe;
    std::unique_ptr<StatusRelay> relay;
    std::unique_ptr<SourceListing> listing;
    std::unique_ptr<CommandGate> gate;
    bool readerEnded = false;   // written by the teardown's helper thread
    bool listingEnded = false;  // likewise
    bool writerEnded = false;   // likewise
};

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

// Releases what StartUp and WireUp made, in the reverse order; what was never made is
// skipped.
void ReleaseHost(Host& host) {
    host.gate.reset();
    host.listing.reset();  // its finder may use the receiver's library
    host.relay.reset();
    host.pipe.reset();
    host.receiver.reset();
    host.presenter.reset();
    host.sizing.reset();
    DestroyHostWindow(host.window);
}

std::string HexResult(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

StartupProblem Problem(StartupFailure reason, std::string text) {
    StartupProblem problem;
    problem.reason = reason;
    problem.text = std::move(text);
    return problem;
}

// Why the presenter could not start: no device at all, or one that cannot draw.
StartupProblem PresenterProblem(const FramePresenter& presenter) {
    if (presenter.device() == nullptr) {
        return Problem(StartupFailure::NoDevice,
                       "no Direct3D 11 device with feature level 11_0 and a swap chain: " +
                           HexResult(presenter.createDeviceResult()));
    }
    return Problem(StartupFailure::NoDevice,
                   "the Direct3D 11 device could not make its back buffer view or shaders");
}

// Window, presenter, receiver and pipe, in this order; false (with what was made
// released, and `problem` saying what failed) when any of them fails.
bool StartUp(HINSTANCE instance, Host& host, StartupProblem& problem) {
    if (!CreateHostWindow(instance, TraitsOf(host.kind), 320, 180, host.window)) {
        problem = Problem(StartupFailure::NoWindow,
                          "the host window could not be made: " + SystemErrorText(GetLastError()));
        ReleaseHost(host);
        return false;
    }
    host.presenter = std::make_unique<FramePresenter>();
    if (!host.presenter->Initialize(host.window)) {
        problem = PresenterProblem(*host.presenter);
        ReleaseHost(host);
        return false;
    }
    if (!host.receiver->Prepare(*host.presenter, problem)) {
        ReleaseHost(host);
        return false;
    }
    host.pipe = std::make_unique<PipeClient>(host.kind);
    HostLog("Connecting to pipe '%s'...", host.args.pipeName.c_str());
    if (!host.pipe->Connect(host.args.pipeName)) {
        DWORD error = GetLastError();
        HostLog("ERROR: PipeClient::Connect failed for '%s', exiting with code 1",
                host.args.pipeName.c_str());
        problem = Problem(
            StartupFailure::PipeNotOpened,
            "cannot open \\\\.\\pipe\\" + host.args.pipeName + ": " +
                (error == ERROR_FILE_NOT_FOUND ? std::string("no pipe of that name")
                 : error == ERROR_SEM_TIMEOUT  ? std::string("its one instance stayed busy for 5 s")
                                               : SystemErrorText(error)));
        ReleaseHost(host);
        return false;
    }
    return true;
}

void WireUp(Host& host) {
    host.pipe->SendHostReady(host.window, GetCurrentProcessId());
    host.relay = std::make_unique<StatusRelay>(host.kind, host.pipe->StatusSender());
    host.receiver->InstallCallbacks(host.window, host.relay->MakeCallback(),
                                    host.pipe->StatsSender());
    PipeClient* pipe = host.pipe.get();
    host.sizing = std::make_unique<WindowSizing>(
        [pipe](int width, int height) { pipe->SendFrameSize(width, height); });
    host.presenter->SetWindowSizing(host.sizing.get());
    host.listing = std::make_unique<SourceListing>(
        host.receiver->CreateSourceFinder(), [pipe](const std::string& line) { pipe->Send(line); },
        [pipe] { return pipe->SentLinesWaiting(); });
    HWND window = host.window;
    host.gate = std::make_unique<CommandGate>(
        *host.receiver,
        MainLoopRequests{
            [window] { PostMessageW(window, kQuitRequest, 0, 0); },
            [window](bool kept) { PostMessageW(window, kWindowSizingRequest, kept ? 1 : 0, 0); }},
        host.listing.get());
    Host* self = &host;
    host.pipe->StartReader(
        [self](const JsonObject& command) {
            HandleCommand(self->kind, command, self->args.quality, *self->gate);
        },
        [self] { self->gate->RequestQuit(); });
}

// Ends on a quit request (shutdown, broken pipe) or when the window is gone. Both are
// looked at on every pass: WM_QUIT is only taken once no posted message waits, and a
// source faster than the draws keeps one frame notification posted nearly all the time.
void RunMessageLoop(Host& host, DeviceRecovery& recovery) {
    MSG message;
    while (!host.gate->QuitRequested() && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == kFrameNotification) {
            host.receiver->OnFrameNotification(*host.presenter);
            recovery.AfterDraw();
        } else if (message.message == kWindowSizingRequest) {
            host.presenter->KeepWindowSize(message.wParam != 0);
        } else if (message.message != kQuitRequest && !recovery.HandleMessage(message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (!IsWindow(host.window)) {
            break;
        }
    }
}

// Stops the receiver, then the reader, then the listing, then the writer once it has sent
// what waits (the worker's final "disconnected" among it), answering the window meanwhile.
// False when one of them outlived its bound.
bool StopThreads(Host& host) {
    host.relay->StopHolding();  // the worker's final "disconnected" goes out
    // The helper may outlive the bound; it then only touches the Host, which is kept.
    Host* self = &host;
    const bool inTime = RunWhileAnswering(
        [self] {
            self->gate->CloseAndStop();
            self->readerEnded = self->pipe->StopReader();
            self->listingEnded = self->listing->Stop();
            self->writerEnded = self->pipe->StopWriter();
        },
        kThreadsEndBoundMs);
    return inTime && host.readerEnded && host.listingEnded && host.writerEnded &&
           !host.receiver->Stuck();
}

}  // namespace

int RunHost(HINSTANCE instance, HostKind kind, ReceiverFactory createReceiver) {
    StartupReporter reporter;
    auto host = std::make_unique<Host>(kind);
    std::string text = ToUtf8(ArgumentsOf(GetCommandLineW()));
    HostLog("WinMain started, cmdLine='%s'", text.c_str());
    host->args = ParseHostArgs(kind, text);
    LogParsedArgs(kind, host->args);
    if (host->args.pipeName.empty()) {
        reporter.Report(
            Problem(StartupFailure::BadCommandLine, "no pipe name: --pipeName=NAME is required"));
        return 1;
    }
    host->receiver = createReceiver();
    StartupProblem problem;
    if (!StartUp(instance, *host, problem)) {
        if (problem.reason == StartupFailure::None) {
            problem = Problem(StartupFailure::Other, "the receiver could not be prepared");
        }
        reporter.Report(problem);
        return 1;
    }
    WireUp(*host);
    {
        DeviceRecovery recovery(host->window, *host->presenter, *host->receiver, *host->relay);
        RunMessageLoop(*host, recovery);
    }

    if (!StopThreads(*host)) {
        // A worker or the reader outlasted its wait and may still report, fill the slot,
        // open textures on the device or handle a command: nothing it uses is released,
        // and the process ends now.
        HWND window = host->window;
        (void)host.release();
        DestroyHostWindow(window);
        return 0;
    }
    host->presenter->ReleaseResources();
    host->pipe->ClosePipe();
    host->receiver->ReleaseFrames();
    ReleaseHost(*host);
    return 0;
}
