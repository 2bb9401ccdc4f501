// Surviving a lost graphics device. After every draw the main loop asks whether the
// presenter found its device removed or reset; if so, the receiver lets go of the old
// device, the presenter makes device, swap chain, views, shaders and sampler again on
// the same window, and the receiver gets the new device. While that fails, the controller
// hears "error" "Graphics device lost" and the rebuild is tried again every second.
// Main thread only.
#pragma once

#include <windows.h>

#include "frame_presenter.h"
#include "host_receiver.h"
#include "status_relay.h"

class DeviceRecovery {
public:
    static constexpr UINT_PTR kRetryTimerId = 0x47D1;
    static constexpr UINT kRetryIntervalMs = 1000;

    DeviceRecovery(HWND window, FramePresenter& presenter, HostReceiver& receiver,
                   StatusRelay& relay)
        : window_(window), presenter_(presenter), receiver_(receiver), relay_(relay) {}
    ~DeviceRecovery() { Stop(); }
    DeviceRecovery(const DeviceRecovery&) = delete;
    DeviceRecovery& operator=(const DeviceRecovery&) = delete;

    // After each frame notification.
    void AfterDraw();
    // True when `message` is the retry timer's; it has then been handled.
    bool HandleMessage(const MSG& message);
    // Teardown: no more retries.
    void Stop();

    bool Retrying() const { return retrying_; }

private:
    bool Rebuild();

    HWND window_;
    FramePresenter& presenter_;
    HostReceiver& receiver_;
    StatusRelay& relay_;
    bool retrying_ = false;
};
