// The way commands reach a host's receiver. The pipe reader thread calls Stop and Start
// for "set_source" while the main thread's teardown may call CloseAndStop at the same
// time: one lock keeps those calls apart. Once the teardown has begun, commands do
// nothing at all (no Stop, Start or SetQuality reaches the receiver, no listing begins),
// and no worker starts after the teardown's Stop (the frame slot is about to be released).
// Win32-free: what the main loop must do is handed to it through callables.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "receiver_commands.h"
#include "receiver_control.h"
#include "source_listing.h"

// What the gate asks of the main loop, from the reader thread; each only posts to it.
struct MainLoopRequests {
    std::function<void()> lookAtQuit;               // QuitRequested has become true
    std::function<void(bool kept)> keepWindowSize;  // the controller's window-size choice
};

class CommandGate : public ReceiverControl {
public:
    // "list_sources" goes to `listing` (none: ignored).
    CommandGate(ReceiverCommands& receiver, MainLoopRequests mainLoop,
                SourceListing* listing = nullptr)
        : receiver_(receiver), mainLoop_(std::move(mainLoop)), listing_(listing) {}

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
    std::mutex guard_;
    ReceiverCommands& receiver_;
    MainLoopRequests mainLoop_;
    SourceListing* listing_;
    std::atomic<bool> closed_{false};
    std::atomic<bool> quitRequested_{false};
};
