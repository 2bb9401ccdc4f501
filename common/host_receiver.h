// What the host shell needs of a host's receiver. Each host adapts its receiver to this
// in its entry point file; the shell drives it through start-up, commands and teardown.
#pragma once

#include <memory>
#include <string>

#include <windows.h>

#include "receiver_callbacks.h"
#include "receiver_commands.h"
#include "source_finder.h"
#include "startup_failure.h"

class FramePresenter;
struct ID3D11Device;

// Start, Stop and SetQuality come from ReceiverCommands (the command gate drives them).
class HostReceiver : public ReceiverCommands {
public:
    // Start-up: bind the receiving library, or take the presenter's device. False ends
    // the host with exit code 1 before the pipe is opened; `problem` then says why.
    virtual bool Prepare(FramePresenter& presenter, StartupProblem& problem) = 0;
    // Start-up, after host_ready: the frame (or texture) callback posts to `window`; the
    // status and stats callbacks go to the pipe.
    virtual void InstallCallbacks(HWND window, StatusCallback status, StatsCallback stats) = 0;
    // Main thread, on every frame notification.
    virtual void OnFrameNotification(FramePresenter& presenter) = 0;
    // Main thread: the presenter lost its device (null) or made a new one.
    virtual void OnDeviceChanged(ID3D11Device* /*device*/) {}
    // Start-up, after Prepare: what answers "list_sources" (null: listing not supported).
    // It may use the receiver's library, so it is destroyed before the receiver.
    virtual std::unique_ptr<SourceFinder> CreateSourceFinder() { return nullptr; }

    // Teardown, after Stop: drop whatever frame the slot still holds.
    virtual void ReleaseFrames() = 0;
    // True while a worker that outlasted its stop wait may still run; the shell then
    // leaves the receiver (and what it uses) to the end of the process.
    virtual bool Stuck() = 0;
};
