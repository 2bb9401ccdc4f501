// The system calls that decide how a view shows a host's picture, behind one interface:
// a test stands in for a system that has desktop composition (Wine has none) or that
// refuses a way, and sees what the view asked of it. The calls on the host window that
// only place it (SetWindowPos, alpha) are made directly by the view.
//
// Threads: any; the view calls them outside its placement lock, except UpdateThumbnail.
#pragma once

#include <memory>

#include <windows.h>

#include <dwmapi.h>

class ViewSystem {
public:
    virtual ~ViewSystem() = default;

    // Whether desktop composition runs, so that DWM thumbnails can be made.
    virtual bool ThumbnailsAvailable();
    // A thumbnail of `source` drawn into `destination` (a top-level window); null when
    // refused.
    virtual HTHUMBNAIL RegisterThumbnail(HWND destination, HWND source);
    virtual bool UpdateThumbnail(HTHUMBNAIL thumbnail, const DWM_THUMBNAIL_PROPERTIES& properties);
    virtual void UnregisterThumbnail(HTHUMBNAIL thumbnail);
    // Makes `owner` the owner of the top-level `window` (null: none); true when it is.
    virtual bool SetOwner(HWND window, HWND owner);
    // Makes `window` a child of `parent` (a popup again, with no parent, when null); true
    // when it is.
    virtual bool SetParentWindow(HWND window, HWND parent);
};

std::shared_ptr<ViewSystem> MakeSystemViewSystem();
