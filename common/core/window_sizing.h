// Who sizes the host window: the frames (the window takes each new frame size, as it
// always has) or the controller, which shows the picture in a place of its own and keeps
// the window at that place's size. While the controller keeps the size, every new frame
// size is told to it at once (frame_size), so that it can fit the picture to the new
// shape without waiting for the next stats; every window_size command is answered with
// the current frame size, which also tells a controller that this host knows the command.
// Win32-free; main thread only (the command reaches it through the window's queue).
#pragma once

#include <functional>
#include <string>
#include <utility>

class WindowSizing {
public:
    // `sendFrameSize` hands a frame_size message to the pipe without waiting.
    explicit WindowSizing(std::function<void(int width, int height)> sendFrameSize)
        : send_(std::move(sendFrameSize)) {}

    // A frame of a new size is about to be presented: true when the window takes its size.
    bool FrameSizeChanged(int width, int height);
    // The controller's window_size command, with the size of the frames presented now (0
    // before the first): true when the window must take that size now, having been kept.
    bool SetKept(bool kept, int width, int height);
    bool kept() const { return kept_; }

private:
    std::function<void(int, int)> send_;
    bool kept_ = false;
};

// The window_size command's mode: "keep" is true, "follow" false; anything else leaves the
// sizing as it is (false).
bool ReadWindowSizeMode(const std::string& mode, bool& kept);
