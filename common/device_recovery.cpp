#include "device_recovery.h"

#include "log.h"

void DeviceRecovery::AfterDraw() {
    if (retrying_ || !presenter_.DeviceLost()) {
        return;
    }
    // The receiver leaves the old device before the presenter releases it.
    receiver_.OnDeviceChanged(nullptr);
    if (Rebuild()) {
        return;
    }
    relay_.DeviceLost();
    retrying_ = SetTimer(window_, kRetryTimerId, kRetryIntervalMs, nullptr) != 0;
}

bool DeviceRecovery::HandleMessage(const MSG& message) {
    if (message.message != WM_TIMER || message.hwnd != window_ || message.wParam != kRetryTimerId) {
        return false;
    }
    if (!retrying_) {
        return true;
    }
    if (Rebuild()) {
        Stop();
        relay_.DeviceRestored();
    } else {
        relay_.DeviceLost();
    }
    return true;
}

void DeviceRecovery::Stop() {
    if (retrying_) {
        KillTimer(window_, kRetryTimerId);
        retrying_ = false;
    }
}

bool DeviceRecovery::Rebuild() {
    if (!presenter_.RecreateDevice()) {
        HostLog("[D3D11] device rebuild failed; trying again in %u ms", kRetryIntervalMs);
        return false;
    }
    HostLog("[D3D11] device rebuilt");
    receiver_.OnDeviceChanged(presenter_.device());
    return true;
}
