#include "command_gate.h"

#include "schedule_point.h"

void CommandGate::Stop() {
    if (closed_.load()) {
        return;
    }
    std::lock_guard<std::mutex> lock(guard_);
    if (!closed_.load()) {
        receiver_.Stop();
    }
}

void CommandGate::Start(const std::string& source, int quality) {
    if (closed_.load()) {
        return;
    }
    schedule::Point("gate.start");
    std::lock_guard<std::mutex> lock(guard_);
    if (!closed_.load()) {
        receiver_.Start(source, quality);
    }
}

void CommandGate::SetQuality(int quality) {
    if (!closed_.load()) {
        receiver_.SetQuality(quality);
    }
}

void CommandGate::ListSources() {
    if (!closed_.load() && listing_ != nullptr) {
        listing_->Request();
    }
}

void CommandGate::RequestQuit() {
    quitRequested_.exchange(true);
    if (wakeMainLoop_) {
        wakeMainLoop_();
    }
}

void CommandGate::CloseAndStop() {
    closed_.exchange(true);
    schedule::Point("gate.closed");
    std::lock_guard<std::mutex> lock(guard_);
    receiver_.Stop();
}
