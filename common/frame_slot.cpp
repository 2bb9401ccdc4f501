#include "frame_slot.h"

#include <cstring>
#include <new>

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

}  // namespace

void StoreFrame(FrameSlot& slot, HWND window, const unsigned char* pixels, int width,
                int height, int strideBytes) {
    uint64_t bytes = FrameBytes(pixels, height, strideBytes);
    if (bytes != 0) {
        ScopedLock lock(slot.lock);
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
    PostMessageW(window, kFrameNotification, 0, 0);
}

void DrawPendingFrame(FrameSlot& slot, FramePresenter& presenter) {
    ScopedLock lock(slot.lock);
    if (slot.pending && slot.pixels) {
        if (presenter.UploadFrame(slot.pixels.get(), slot.width, slot.height,
                                  slot.strideBytes)) {
            presenter.Render();
        }
    }
    slot.pending = false;
}

void FreeFramePixels(FrameSlot& slot) {
    ScopedLock lock(slot.lock);
    slot.pixels.reset();
    slot.capacity = 0;
    slot.pending = false;
}
