#include "status_relay.h"

#include "log.h"

void StatusRelay::Relay(const char* state, const char* source) {
    if (kind_ != HostKind::Parlex) {
        HostLog("[StatusCallback] state='%s', source='%s'", state ? state : "",
                source ? source : "");
    }
    ScopedLock lock(lock_);
    anyReport_ = true;
    latestState_ = state ? state : "";
    latestSource_ = source ? source : "";
    if (!holding_) {
        pipe_.SendStatus(state, source);
    }
}

void StatusRelay::DeviceLost() {
    ScopedLock lock(lock_);
    holding_ = true;
    pipe_.SendStatus("error", "Graphics device lost");
}

void StatusRelay::DeviceRestored() {
    ScopedLock lock(lock_);
    if (!holding_) {
        return;
    }
    holding_ = false;
    if (anyReport_) {
        pipe_.SendStatus(latestState_.c_str(), latestSource_.c_str());
    }
}

void StatusRelay::StopHolding() {
    ScopedLock lock(lock_);
    holding_ = false;
}

StatusCallback StatusRelay::MakeCallback() {
    return [this](const char* state, const char* source) { Relay(state, source); };
}

StatsCallback MakeStatsCallback(PipeClient& pipe) {
    return [&pipe](float framesPerSecond, int width, int height) {
        pipe.SendStats(framesPerSecond, width, height);
    };
}
