// The receiver's reports on their way to the pipe. Statistics pass unchanged. Status
// reports pass unchanged too, except while the presenter has lost its graphics device:
// then the controller hears "error" "Graphics device lost" (again at every failed
// rebuild), the receiver's reports are held back meanwhile, and once the device is back
// the receiver's latest report is sent again, so the controller never believes a frozen
// window is "connected".
//
// Threads: Relay runs on the receiver's worker (and on the pipe reader for a refused
// start); the device calls come from the main thread. One lock keeps a report and a
// device change in order; it is held for one post to the outbox, never for a pipe write.
// Win32-free.
#pragma once

#include <mutex>
#include <string>

#include "host_kind.h"
#include "receiver_callbacks.h"

class StatusRelay {
public:
    // Hands one status to the pipe's outbox; never waits for the pipe.
    using SendStatus = StatusCallback;

    StatusRelay(HostKind kind, SendStatus send) : kind_(kind), send_(std::move(send)) {}

    void Relay(const char* state, const char* source);

    // Main thread.
    void DeviceLost();
    void DeviceRestored();
    // Teardown: reports pass again (the worker's final "disconnected" among them).
    void StopHolding();

    StatusCallback MakeCallback();

private:
    HostKind kind_;
    SendStatus send_;
    std::mutex lock_;
    bool holding_ = false;     // under lock_
    bool anyReport_ = false;   // under lock_
    std::string latestState_;  // under lock_
    std::string latestSource_;
};
