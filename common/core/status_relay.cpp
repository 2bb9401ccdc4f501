#include "status_relay.h"

#include "log.h"

void StatusRelay::Relay(const char* state, const char* source) {
    if (kind_ != HostKind::Parlex) {
        HostLog("[StatusCallback] state='%s', source='%s'", state ? state : "",
                source ? source : "");
    }
    std::lock_guard<std::mutex> lock(lock_);
    anyReport_ = true;
    latestState_ = state ? state : "";
    latestSource_ = source ? source : "";
    if (!holding_) {
        send_(state, source);
    }
}

void StatusRelay::DeviceLost() {
    std::lock_guard<std::mutex> lock(lock_);
    holding_ = true;
    send_("error", "Graphics device lost");
}

void StatusRelay::DeviceRestored() {
    std::lock_guard<std::mutex> lock(lock_);
    if (!holding_) {
        return;
    }
    holding_ = false;
    if (anyReport_) {
        send_(latestState_.c_str(), latestSource_.c_str());
    }
}

void StatusRelay::StopHolding() {
    std::lock_guard<std::mutex> lock(lock_);
    holding_ = false;
}

StatusCallback StatusRelay::MakeCallback() {
    return [this](const char* state, const char* source) { Relay(state, source); };
}
