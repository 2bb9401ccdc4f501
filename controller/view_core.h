// The working part of a view (see host_view.h), apart from the host process: it takes the
// host window, shows it in the application's rectangle by the best way the system offers,
// keeps it there while the application's window moves and the frame's shape changes, and
// gives it back as it found it. HostView joins it to a HostProcess; a test joins it to a
// window of its own and to a ViewSystem that stands in for the system.
//
// Threads: Show, Hide and Close from any thread, one at a time (the operation lock). The
// placement state has a lock of its own, held only while a placement is worked out and
// handed to the system without waiting (an asynchronous SetWindowPos, a thumbnail update),
// so that the application's window thread (its moves, through ViewFollower) and the
// controller's reader thread (the frame's size) never wait for an operation in progress,
// which may itself be waiting for the host's thread (owner, parent).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <windows.h>

#include "host_view.h"
#include "view_follower.h"
#include "view_layout.h"
#include "view_system.h"

class ViewCore {
public:
    // `keepSize` tells the host whether the view keeps its window's size (true) or gives
    // it back; it is called outside the placement lock and may wait for the pipe.
    ViewCore(std::shared_ptr<ViewSystem> system, std::function<void(bool)> keepSize);
    ~ViewCore();
    ViewCore(const ViewCore&) = delete;
    ViewCore& operator=(const ViewCore&) = delete;

    // Shows `hostWindow` in `rect` of `container`'s client area; the first Show (and one
    // with another window or container) chooses the way among `ways`. False with why.
    bool Show(HWND hostWindow, HWND container, const RECT& rect, ViewFit fit, unsigned ways,
              std::string& why);
    // The picture leaves the screen; the view keeps the window for the next Show.
    void Hide();
    // Gives the window back as it was found: no owner or parent, alpha 0, its place, and
    // its size to the host again.
    void Close();
    // A frame size the host reported; any thread.
    void FrameSizeReported(int width, int height, bool fromStats);

    ViewState state() const;

private:
    bool Attach(HWND hostWindow, HWND container, unsigned ways, std::string& why);
    void Detach();
    // The placement, under stateLock_.
    void Place();
    void Park();
    void PlaceOwned(const ViewRect& picture);
    HWND InsertAfter() const;
    void PlaceChild(const ViewRect& picture);
    void PlaceThumbnail(const ViewRect& picture, bool visible);

    std::shared_ptr<ViewSystem> system_;
    std::function<void(bool)> keepSize_;
    std::mutex operationLock_;
    ViewFollower::Token follower_;  // under operationLock_

    mutable std::mutex stateLock_;
    ViewWay way_ = ViewWay::None;  // None: the view holds no window
    HWND hostWindow_ = nullptr;
    HWND container_ = nullptr;
    HWND root_ = nullptr;
    HTHUMBNAIL thumbnail_ = nullptr;
    RECT foundAt_ = {};  // the host window's place before the view took it
    ViewRect tile_;
    ViewFit fit_ = ViewFit::Letterbox;
    bool shown_ = false;
    FrameShape shape_;
    ViewRect picture_;
    bool visible_ = false;
};
