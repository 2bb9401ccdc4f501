#include "device_recovery.h"

#include "log.h"

void DeviceRecovery::AfterDraw() {
    if (retrying_) {
        if (GetTickCount64() >= nextRetryTick_) {
            Retry();
        }
        return;
    }
    if (!presenter_.DeviceLost()) {
        return;
    }
    // The receiver leaves the old device before the presenter releases it.
    receiver_.OnDeviceChanged(nullptr);
    if (Rebuild()) {
        return;
    }
    relay_.DeviceLost();
    retrying_ = true;
    SetTimer(window_, kRetryTimerId, kRetryIntervalMs, nullptr);  // frames retry too
    nextRetryTick_ = GetTickCount64() + kRetryIntervalMs;
}

bool DeviceRecovery::HandleMessage(const MSG& message) {
    if (message.message != WM_TIMER || message.hwnd != window_ || message.wParam != kRetryTimerId) {
        return false;
    }
    if (retrying_) {
        Retry();
    }
    return true;
}

void DeviceRecovery::Retry() {
    nextRetryTick_ = GetTickCount64() + kRetryIntervalMs;
    if (Rebuild()) {
        Stop();
        relay_.DeviceRestored();
    } else {
        relay_.DeviceLost();
    }
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
