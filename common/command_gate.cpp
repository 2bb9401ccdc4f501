#include "command_gate.h"

#include "host_window.h"

void CommandGate::Stop() {
    ScopedLock lock(guard_);
    receiver_.Stop();
}

void CommandGate::Start(const std::string& source, int quality) {
    ScopedLock lock(guard_);
    if (!closed_) {
        receiver_.Start(source, quality);
    }
}

void CommandGate::SetQuality(int quality) {
    receiver_.SetQuality(quality);
}

void CommandGate::RequestQuit() {
    PostMessageW(quitWindow_, kQuitRequest, 0, 0);
}

void CommandGate::CloseAndStop() {
    ScopedLock lock(guard_);
    closed_ = true;
    receiver_.Stop();
}
