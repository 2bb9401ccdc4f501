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

void CommandGate::KeepWindowSize(bool kept) {
    // The presenter sizes the window on the main thread: deciding there keeps each new
    // frame size and the controller's command in one order.
    if (!closed_.load() && mainLoop_.keepWindowSize) {
        mainLoop_.keepWindowSize(kept);
    }
}

void CommandGate::RequestQuit() {
    quitRequested_.exchange(true);
    if (mainLoop_.lookAtQuit) {
        mainLoop_.lookAtQuit();
    }
}

void CommandGate::CloseAndStop() {
    closed_.exchange(true);
    schedule::Point("gate.closed");
    std::lock_guard<std::mutex> lock(guard_);
    receiver_.Stop();
}
