#include "window_sizing.h"

bool WindowSizing::FrameSizeChanged(int width, int height) {
    if (kept_) {
        send_(width, height);
    }
    return !kept_;
}

bool WindowSizing::SetKept(bool kept, int width, int height) {
    const bool giveBack = kept_ && !kept;
    kept_ = kept;
    send_(width, height);
    return giveBack && width > 0 && height > 0;
}

bool ReadWindowSizeMode(const std::string& mode, bool& kept) {
    if (mode == "keep" || mode == "follow") {
        kept = mode == "keep";
        return true;
    }
    return false;
}
