// The operations command handling needs of a host: the receiver role, the source listing,
// who sizes the window, and the quit request. Win32-free, so that the command tables are
// tested natively.
#pragma once

#include <string>

class ReceiverControl {
public:
    virtual ~ReceiverControl() = default;
    virtual void Stop() = 0;
    // quality is ignored by hosts without one.
    virtual void Start(const std::string& source, int quality) = 0;
    virtual void SetQuality(int quality) = 0;
    // Answers with the sources the host can see, on a thread of its own: returns at once.
    virtual void ListSources() {}
    // Whether the controller keeps the window's size (see window_sizing.h); answered on the
    // main thread: returns at once.
    virtual void KeepWindowSize(bool /*kept*/) {}
    // Ends the host's main loop with exit code 0 (from any thread).
    virtual void RequestQuit() = 0;
};
