#include "view_layout.h"

#include <algorithm>
#include <cstdint>

ViewRect IntersectRects(const ViewRect& a, const ViewRect& b) {
    ViewRect both;
    both.left = std::max(a.left, b.left);
    both.top = std::max(a.top, b.top);
    both.right = std::min(a.right, b.right);
    both.bottom = std::min(a.bottom, b.bottom);
    return both.empty() ? ViewRect() : both;
}

ViewRect FitPicture(const ViewRect& area, int frameWidth, int frameHeight, ViewFit fit) {
    if (area.empty() || fit == ViewFit::Fill || frameWidth <= 0 || frameHeight <= 0) {
        return area.empty() ? ViewRect() : area;
    }
    const int64_t areaWidth = area.width();
    const int64_t areaHeight = area.height();
    int64_t width = areaWidth;
    int64_t height = areaHeight;
    // Rounded to the nearest pixel, in 64 bits: sides up to 2^31 times sizes up to 2^31.
    if (areaWidth * frameHeight <= areaHeight * frameWidth) {
        height = (2 * areaWidth * frameHeight + frameWidth) / (2 * int64_t{frameWidth});
    } else {
        width = (2 * areaHeight * frameWidth + frameHeight) / (2 * int64_t{frameHeight});
    }
    width = std::max<int64_t>(1, std::min(width, areaWidth));
    height = std::max<int64_t>(1, std::min(height, areaHeight));
    ViewRect picture;
    picture.left = area.left + static_cast<int>((areaWidth - width) / 2);
    picture.top = area.top + static_cast<int>((areaHeight - height) / 2);
    picture.right = picture.left + static_cast<int>(width);
    picture.bottom = picture.top + static_cast<int>(height);
    return picture;
}

void FrameShape::Guess(int width, int height) {
    if (width_ == 0 && !exact_ && width > 0 && height > 0) {
        width_ = width;
        height_ = height;
    }
}

bool FrameShape::Report(int width, int height, bool fromStats) {
    if (fromStats && exact_) {
        return false;
    }
    exact_ = exact_ || !fromStats;
    if (width <= 0 || height <= 0) {
        return !fromStats;  // no frame yet: the size guessed stays
    }
    const bool changed = width != width_ || height != height_;
    width_ = width;
    height_ = height;
    return changed || !fromStats;
}
