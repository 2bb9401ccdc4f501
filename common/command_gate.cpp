#include "command_gate.h"

#include "host_window.h"

void CommandGate::Stop() {
    if (closed_.load()) {
        return;
    }
    ScopedLock lock(guard_);
    if (!closed_.load()) {
        receiver_.Stop();
    }
}

void CommandGate::Start(const std::string& source, int quality) {
    if (closed_.load()) {
        return;
    }
    ScopedLock lock(guard_);
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
    if (!closed_.load()) {
        PostMessageW(quitWindow_, kWindowSizingRequest, kept ? 1 : 0, 0);
    }
}

void CommandGate::RequestQuit() {
    quitRequested_.exchange(true);
    PostMessageW(quitWindow_, kQuitRequest, 0, 0);
}

void CommandGate::CloseAndStop() {
    closed_.exchange(true);
    ScopedLock lock(guard_);
    receiver_.Stop();
}
