// The way commands reach a host's receiver. The pipe reader thread calls Stop and Start
// for "set_source" while the main thread's teardown may call CloseAndStop at the same
// time: one lock keeps those calls apart. Once the teardown has begun, commands do
// nothing at all (no Stop, Start or SetQuality reaches the receiver, no listing begins),
// and no worker starts after the teardown's Stop (the frame slot is about to be released).
#pragma once

#include <atomic>
#include <string>

#include <windows.h>

#include "host_receiver.h"
#include "receiver_control.h"
#include "source_listing.h"
#include "win_types.h"

class CommandGate : public ReceiverControl {
public:
    // quitWindow receives the quit request that wakes the main loop (kQuitRequest);
    // "list_sources" goes to `listing` (none: ignored).
    CommandGate(HostReceiver& receiver, HWND quitWindow, SourceListing* listing = nullptr)
        : receiver_(receiver), quitWindow_(quitWindow), listing_(listing) {}

    void Stop() override;
    void Start(const std::string& source, int quality) override;
    void SetQuality(int quality) override;
    void ListSources() override;
    void KeepWindowSize(bool kept) override;
    void RequestQuit() override;

    // Read by the main loop on every pass, so a quit is never starved by other messages.
    bool QuitRequested() const { return quitRequested_.load(); }

    // Teardown: the last Stop; commands do nothing after it.
    void CloseAndStop();

private:
    CriticalSection guard_;
    HostReceiver& receiver_;
    HWND quitWindow_;
    SourceListing* listing_;
    std::atomic<bool> closed_{false};
    std::atomic<bool> quitRequested_{false};
};
