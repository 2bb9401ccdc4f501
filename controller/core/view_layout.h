// Where a view puts the host's picture, as arithmetic: the rectangle it may fill, the
// picture of the frame's shape inside it, and what the view knows of the frame's size.
// Win32-free; used under the view's lock by whichever thread places the picture.
#pragma once

// A rectangle in pixels, right and bottom excluded, as Win32's RECT.
struct ViewRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
    bool operator==(const ViewRect& other) const {
        return left == other.left && top == other.top && right == other.right &&
               bottom == other.bottom;
    }
};

enum class ViewFit {
    Letterbox,  // the largest rectangle of the frame's shape, centred; the rest stays yours
    Fill,       // the whole rectangle, the picture stretched to it
};

// The part of `a` inside `b`; empty (all zero) when they do not meet.
ViewRect IntersectRects(const ViewRect& a, const ViewRect& b);

// Where the picture goes in `area`. A frame size not known yet (0) fills the area.
// Rounded to whole pixels, the bars of a letterbox differ by at most one pixel.
ViewRect FitPicture(const ViewRect& area, int frameWidth, int frameHeight, ViewFit fit);

// What a view knows of the size of the host's frames. A host that knows window_size
// answers it with frame_size at once and sends one at every change after it; from the
// first, those are the truth, and the stats (up to a second late, so possibly of the
// frames before a change) are no longer taken. Before either, the host window's own size
// is the guess: until a view takes it, the window has the frame size.
class FrameShape {
public:
    // Taken only while nothing else is known.
    void Guess(int width, int height);
    // A report from the host. True when the picture must be placed again: its size
    // changed, or it is a frame_size (which also answers window_size: whatever the host did
    // to its window before it took the command is undone by placing again).
    bool Report(int width, int height, bool fromStats);

    int width() const { return width_; }
    int height() const { return height_; }

private:
    int width_ = 0;
    int height_ = 0;
    bool exact_ = false;  // a frame_size has come
};
