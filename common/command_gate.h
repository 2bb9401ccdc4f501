// The way commands reach a host's receiver. The pipe reader thread calls Stop and Start
// for "set_source" while the main thread's teardown may call CloseAndStop at the same
// time: one lock keeps those calls apart, and once the teardown has stopped the receiver
// no later "set_source" can start a worker (the frame slot is about to be released).
#pragma once

#include <string>

#include <windows.h>

#include "host_receiver.h"
#include "receiver_control.h"
#include "win_types.h"

class CommandGate : public ReceiverControl {
public:
    // quitWindow receives the quit request that the main loop answers (kQuitRequest).
    CommandGate(HostReceiver& receiver, HWND quitWindow)
        : receiver_(receiver), quitWindow_(quitWindow) {}

    void Stop() override;
    // Refused once CloseAndStop has run.
    void Start(const std::string& source, int quality) override;
    void SetQuality(int quality) override;
    void RequestQuit() override;

    // Teardown: the last Stop; no Start after it.
    void CloseAndStop();

private:
    CriticalSection guard_;
    HostReceiver& receiver_;
    HWND quitWindow_;
    bool closed_ = false;  // under guard_
};
