#include "view_core.h"

#include <utility>

namespace {

// SWP_ASYNCWINDOWPOS: the host window belongs to another process, whose thread does the
// move; the view only hands it over and never waits for it (nor for a host that hangs).
constexpr UINT kPlaceFlags = SWP_NOACTIVATE | SWP_NOOWNERZORDER | SWP_ASYNCWINDOWPOS;
// Where a picture off the screen waits. The window stays shown: under Wine without a window
// manager, hiding a top-level window holds its thread for 2 s (the host's, which would draw
// nothing meanwhile), and a hidden window has nothing for a thumbnail either.
constexpr int kParked = -32000;

ViewRect FromRect(const RECT& rect) {
    ViewRect view;
    view.left = rect.left;
    view.top = rect.top;
    view.right = rect.right;
    view.bottom = rect.bottom;
    return view;
}

RECT ToRect(const ViewRect& view) {
    return RECT{view.left, view.top, view.right, view.bottom};
}

void SetAlpha(HWND window, BYTE alpha) {
    SetLayeredWindowAttributes(window, 0, alpha, LWA_ALPHA);
}

}  // namespace

ViewCore::ViewCore(std::shared_ptr<ViewSystem> system, std::function<void(bool)> keepSize)
    : system_(std::move(system)), keepSize_(std::move(keepSize)) {}

ViewCore::~ViewCore() {
    Close();
}

bool ViewCore::Show(HWND hostWindow, HWND container, const RECT& rect, ViewFit fit, unsigned ways,
                    std::string& why) {
    std::lock_guard<std::mutex> operation(operationLock_);
    bool attached = false;
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        attached = way_ != ViewWay::None && hostWindow_ == hostWindow && container_ == container;
    }
    if (!attached) {
        Detach();
        if (!Attach(hostWindow, container, ways, why)) {
            return false;
        }
    }
    std::lock_guard<std::mutex> lock(stateLock_);
    tile_ = FromRect(rect);
    fit_ = fit;
    shown_ = true;
    Place();
    return true;
}

void ViewCore::Hide() {
    std::lock_guard<std::mutex> operation(operationLock_);
    std::lock_guard<std::mutex> lock(stateLock_);
    shown_ = false;
    Place();
}

void ViewCore::Close() {
    std::lock_guard<std::mutex> operation(operationLock_);
    Detach();
}

void ViewCore::FrameSizeReported(int width, int height, bool fromStats) {
    std::lock_guard<std::mutex> lock(stateLock_);
    if (shape_.Report(width, height, fromStats)) {
        Place();
    }
}

ViewState ViewCore::state() const {
    std::lock_guard<std::mutex> lock(stateLock_);
    ViewState state;
    state.way = way_;
    state.visible = visible_;
    state.picture = ToRect(picture_);
    state.frameWidth = shape_.width();
    state.frameHeight = shape_.height();
    return state;
}

// Under operationLock_ only: owner and parent changes wait for the host's thread.
bool ViewCore::Attach(HWND hostWindow, HWND container, unsigned ways, std::string& why) {
    if (!IsWindow(container)) {
        why = "the container is not a window";
        return false;
    }
    if (!IsWindow(hostWindow)) {
        why = "the host window is gone";
        return false;
    }
    HWND root = GetAncestor(container, GA_ROOT);
    RECT found = {};
    RECT client = {};
    GetWindowRect(hostWindow, &found);
    GetClientRect(hostWindow, &client);
    ViewWay way = ViewWay::None;
    HTHUMBNAIL thumbnail = nullptr;
    if ((ways & kViewByThumbnail) != 0 && system_->ThumbnailsAvailable()) {
        thumbnail = system_->RegisterThumbnail(root, hostWindow);
        way = thumbnail != nullptr ? ViewWay::Thumbnail : ViewWay::None;
    }
    if (way == ViewWay::None && (ways & kViewByOwnedWindow) != 0 &&
        system_->SetOwner(hostWindow, root)) {
        way = ViewWay::OwnedWindow;
    }
    if (way == ViewWay::None && (ways & kViewByChildWindow) != 0 &&
        system_->SetParentWindow(hostWindow, container)) {
        way = ViewWay::ChildWindow;
    }
    if (way == ViewWay::None) {
        why =
            "the system offered none of the ways allowed (thumbnail, owned window, child "
            "window)";
        return false;
    }
    if (way != ViewWay::Thumbnail) {
        SetAlpha(hostWindow, 255);  // the window itself is the picture now
    }
    keepSize_(true);
    // Follows moves of the application's window even while nothing else changes.
    follower_ = ViewFollower::Watch(container, [this] {
        std::lock_guard<std::mutex> lock(stateLock_);
        Place();
    });
    std::lock_guard<std::mutex> lock(stateLock_);
    way_ = way;
    hostWindow_ = hostWindow;
    container_ = container;
    root_ = root;
    thumbnail_ = thumbnail;
    foundAt_ = found;
    shape_ = FrameShape();
    shape_.Guess(client.right - client.left, client.bottom - client.top);
    return true;
}

// Under operationLock_ only.
void ViewCore::Detach() {
    ViewWay way = ViewWay::None;
    HWND window = nullptr;
    HTHUMBNAIL thumbnail = nullptr;
    RECT found = {};
    {
        std::lock_guard<std::mutex> lock(stateLock_);
        if (way_ == ViewWay::None) {
            return;
        }
        way = way_;
        way_ = ViewWay::None;
        window = hostWindow_;
        thumbnail = thumbnail_;
        found = foundAt_;
        thumbnail_ = nullptr;
        visible_ = false;
    }
    ViewFollower::Unwatch(follower_);
    if (thumbnail != nullptr) {
        system_->UnregisterThumbnail(thumbnail);
    }
    if (!IsWindow(window)) {
        return;  // the host has ended
    }
    if (way != ViewWay::Thumbnail) {
        SetAlpha(window, 0);
    }
    if (way == ViewWay::OwnedWindow) {
        system_->SetOwner(window, nullptr);
    } else if (way == ViewWay::ChildWindow) {
        system_->SetParentWindow(window, nullptr);
    }
    SetWindowPos(window, nullptr, found.left, found.top, 0, 0,
                 kPlaceFlags | SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
    keepSize_(false);
}

void ViewCore::Place() {
    if (way_ == ViewWay::None || !IsWindow(hostWindow_) || !IsWindow(container_)) {
        return;
    }
    RECT client = {};
    GetClientRect(container_, &client);
    ViewRect area = IntersectRects(tile_, FromRect(client));
    ViewRect picture = FitPicture(area, shape_.width(), shape_.height(), fit_);
    bool visible = shown_ && !picture.empty() && IsWindowVisible(container_) && !IsIconic(root_);
    if (way_ == ViewWay::Thumbnail) {
        PlaceThumbnail(picture, visible);
    } else if (!visible) {
        Park();
    } else if (way_ == ViewWay::OwnedWindow) {
        PlaceOwned(picture);
    } else {
        PlaceChild(picture);
    }
    picture_ = picture;
    visible_ = visible;
}

// The host window itself off the screen (owned or child).
void ViewCore::Park() {
    SetWindowPos(hostWindow_, nullptr, kParked, kParked, 0, 0,
                 kPlaceFlags | SWP_NOSIZE | SWP_NOZORDER);
}

void ViewCore::PlaceOwned(const ViewRect& picture) {
    POINT origin = {0, 0};
    ClientToScreen(container_, &origin);
    SetWindowPos(hostWindow_, InsertAfter(), origin.x + picture.left, origin.y + picture.top,
                 picture.width(), picture.height(), kPlaceFlags | SWP_SHOWWINDOW);
}

// Right above the application's window and the other windows it owns, and the first of
// all while the application is in front. Wine changes the screen's own stacking of a
// window only when it becomes the first of all: it maps a window that is shown above every
// other, and leaves the windows that window owns where they were on the screen, so only
// the top puts the picture back over an application's window that came above it.
HWND ViewCore::InsertAfter() const {
    if (GetForegroundWindow() == root_) {
        return HWND_TOP;
    }
    HWND above = GetWindow(root_, GW_HWNDPREV);
    while (above != nullptr && GetWindow(above, GW_OWNER) == root_) {
        above = GetWindow(above, GW_HWNDPREV);
    }
    return above != nullptr ? above : HWND_TOP;
}

void ViewCore::PlaceChild(const ViewRect& picture) {
    SetWindowPos(hostWindow_, HWND_TOP, picture.left, picture.top, picture.width(),
                 picture.height(), kPlaceFlags | SWP_SHOWWINDOW);
}

void ViewCore::PlaceThumbnail(const ViewRect& picture, bool visible) {
    // The destination is in the top-level window's client coordinates; DWM scales the
    // source, which stays at the frame's own size.
    POINT origin = {0, 0};
    MapWindowPoints(container_, root_, &origin, 1);
    DWM_THUMBNAIL_PROPERTIES properties = {};
    properties.dwFlags =
        DWM_TNP_RECTDESTINATION | DWM_TNP_VISIBLE | DWM_TNP_OPACITY | DWM_TNP_SOURCECLIENTAREAONLY;
    properties.rcDestination = RECT{origin.x + picture.left, origin.y + picture.top,
                                    origin.x + picture.right, origin.y + picture.bottom};
    properties.opacity = 255;
    properties.fVisible = visible ? TRUE : FALSE;
    properties.fSourceClientAreaOnly = TRUE;
    system_->UpdateThumbnail(thumbnail_, properties);
    if (shape_.width() > 0 && shape_.height() > 0) {
        SetWindowPos(hostWindow_, nullptr, 0, 0, shape_.width(), shape_.height(),
                     kPlaceFlags | SWP_NOMOVE | SWP_NOZORDER);
    }
}
