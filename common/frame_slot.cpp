#include "frame_slot.h"

#include <cstring>
#include <new>
#include <utility>

#include "host_window.h"

namespace {

// Bytes to copy for a frame, or 0 when its shape is unusable.
uint64_t FrameBytes(const unsigned char* pixels, int height, int strideBytes) {
    if (pixels == nullptr || height <= 0 || strideBytes <= 0) {
        return 0;
    }
    uint64_t bytes = static_cast<uint64_t>(height) * static_cast<uint64_t>(strideBytes);
    return bytes <= kMaxFrameBytes ? bytes : 0;
}

// Under the lock: copies the frame when it is usable.
void CopyIntoSlot(FrameSlot& slot, const unsigned char* pixels, int width, int height,
                  int strideBytes) {
    uint64_t bytes = FrameBytes(pixels, height, strideBytes);
    if (bytes != 0) {
        if (bytes > slot.capacity) {
            // Nothing is carried over; a failed allocation leaves no capacity claimed,
            // so the next frame tries again.
            slot.pixels.reset();
            slot.capacity = 0;
            slot.pixels.reset(new (std::nothrow) unsigned char[static_cast<size_t>(bytes)]);
            if (slot.pixels) {
                slot.capacity = bytes;
            }
        }
        if (slot.pixels) {
            std::memcpy(slot.pixels.get(), pixels, static_cast<size_t>(bytes));
            slot.width = width;
            slot.height = height;
            slot.strideBytes = strideBytes;
            slot.pending = true;
        }
    }
}

}  // namespace

void StoreFrame(FrameSlot& slot, HWND window, const unsigned char* pixels, int width, int height,
                int strideBytes) {
    bool post = false;
    {
        ScopedLock lock(slot.lock);
        CopyIntoSlot(slot, pixels, width, height, strideBytes);
        post = slot.pending && !slot.notified;
        slot.notified = slot.notified || post;
    }
    if (post && !PostMessageW(window, kFrameNotification, 0, 0)) {
        ScopedLock lock(slot.lock);
        slot.notified = false;  // the next frame tries again
    }
}

namespace {

// The pending frame's shape, copied out with its block.
struct TakenFrame {
    int width = 0;
    int height = 0;
    int strideBytes = 0;
};

// Under the lock: hands the pending block to the main thread and gives the worker the one
// drawn last, so that nothing is copied or allocated here.
bool TakePendingFrame(FrameSlot& slot, TakenFrame& frame) {
    ScopedLock lock(slot.lock);
    slot.notified = false;
    const bool taken = slot.pending && slot.pixels;
    if (taken) {
        slot.pixels.swap(slot.drawPixels);
        std::swap(slot.capacity, slot.drawCapacity);
        frame = {slot.width, slot.height, slot.strideBytes};
    }
    slot.pending = false;
    return taken;
}

}  // namespace

void DrawPendingFrame(FrameSlot& slot, FramePresenter& presenter) {
    TakenFrame frame;
    if (!TakePendingFrame(slot, frame)) {
        return;
    }
    if (presenter.UploadFrame(slot.drawPixels.get(), frame.width, frame.height,
                              frame.strideBytes)) {
        presenter.Render();
    }
}

void FreeFramePixels(FrameSlot& slot) {
    ScopedLock lock(slot.lock);
    slot.pixels.reset();
    slot.capacity = 0;
    slot.pending = false;
    slot.notified = false;
    slot.drawPixels.reset();
    slot.drawCapacity = 0;
}
