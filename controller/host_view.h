// HostView: a host's picture in a rectangle of the application's own window, managed by
// the library. One call shows it, later calls move, resize or hide it; the picture keeps
// the frame's shape inside the rectangle (letterboxed: the rest of the rectangle stays the
// application's) unless asked to fill it. The application never touches the host window.
//
// The view chooses the way (state().way says which):
// - a DWM thumbnail of the host window, drawn by the system into the application's
//   top-level window, where desktop composition runs (Windows 8 and later always);
// - otherwise the host window itself as an owned window of the application's top-level
//   window, opaque, without activation, kept over the rectangle as that window moves,
//   changes its size, its place in the z-order or its visibility (Wine: no composition);
// - otherwise the host window as a child of the container.
// While a view holds the host window it keeps the window's size (window_size in the
// protocol), and the host reports each new frame size at once (frame_size), so the picture
// takes the new shape within moments and the window never jumps to the frame's size.
//
// Threads: any, calls may overlap (they are taken one at a time). The view follows the
// application's window on that window's own thread (a hook on its messages) and the
// frame's size on the controller's reader thread; neither waits for a call in progress.
// Lifetime: a HostView must end (or Close) before its HostProcess. Close or destroy the
// view before destroying the container it shows in.
#pragma once

#include <memory>

#include <windows.h>

#include "host_process.h"
#include "view_layout.h"

enum class ViewWay { None, Thumbnail, OwnedWindow, ChildWindow };

// Which ways a view may take, as bits; tried in this order.
constexpr unsigned kViewByThumbnail = 1;
constexpr unsigned kViewByOwnedWindow = 2;
constexpr unsigned kViewByChildWindow = 4;
constexpr unsigned kViewByAnyWay = 7;

struct ViewState {
    ViewWay way = ViewWay::None;  // None: not showing (never shown, closed, or refused)
    bool visible = false;         // the picture is on show now
    RECT picture = {};            // where, in the container's client coordinates
    int frameWidth = 0;           // the frame's size as the view knows it (0: not yet)
    int frameHeight = 0;
};

class ViewCore;

class HostView {
public:
    explicit HostView(HostProcess& host);
    // Close(), and no call from the library's threads after it.
    ~HostView();
    HostView(const HostView&) = delete;
    HostView& operator=(const HostView&) = delete;

    // Shows the host's picture in `rect`, given in `container`'s client coordinates (the
    // part of it outside the client area is left out). The first Show, and one with
    // another container, takes the host window by the first of `ways` the system offers;
    // later ones move and resize at once. The picture's own placement happens on the
    // host's thread, moments later.
    // None; WrongState (no host_ready yet, the host has ended, or no way was possible:
    // `reason` says which); InvalidArgument (`container` is no window, `ways` is 0).
    // Waits: a few milliseconds; the first Show also sends window_size (at most
    // writeTimeoutMs) and, as a child window, the re-parenting (under Wine without a
    // window manager about 2 s).
    HostResult Show(HWND container, const RECT& rect, ViewFit fit = ViewFit::Letterbox,
                    unsigned ways = kViewByAnyWay);
    // Takes the picture off the screen until the next Show; the view keeps the window.
    HostResult Hide();
    // Gives the host window back as it was: no owner or parent, alpha 0, its old place, and
    // its size to the host again (it takes the frame's size). The next Show takes it anew.
    void Close();

    ViewState state() const;

private:
    HostProcess& host_;
    std::unique_ptr<ViewCore> core_;
};
