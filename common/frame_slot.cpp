#include "frame_slot.h"

#include <cstring>
#include <new>
#include <utility>

#include "frame_ring.h"
#include "host_window.h"

using State = FrameTexture::State;

namespace {

// Bytes a frame occupies in the library's buffer, or 0 when its shape is unusable.
uint64_t FrameBytes(const unsigned char* pixels, int height, int strideBytes) {
    if (pixels == nullptr || height <= 0 || strideBytes <= 0) {
        return 0;
    }
    uint64_t bytes = static_cast<uint64_t>(height) * static_cast<uint64_t>(strideBytes);
    return bytes <= kMaxFrameBytes ? bytes : 0;
}

// Under the lock: the frame pending so far is older than the one being stored.
void Supersede(FrameSlot& slot) {
    if (slot.ready != nullptr) {
        slot.ready->state = slot.ready->live ? State::Free : State::Idle;
        slot.ready = nullptr;
    }
    slot.pending = false;
}

// Under the lock: a live texture of the frame's size for the worker to write, marked
// Writing: a Free one, else the pending one, which this frame supersedes anyway. Null
// when there is none; the frame then goes into the block.
FrameTexture* TakeWritable(FrameSlot& slot, int width, int height) {
    if (slot.ringWidth == 0 || width != slot.ringWidth || height != slot.ringHeight) {
        return nullptr;
    }
    FrameTexture* chosen = nullptr;
    for (const auto& texture : slot.textures) {
        if (texture->live && texture->state == State::Free && texture->width == width &&
            texture->height == height) {
            chosen = texture.get();
            break;
        }
    }
    if (chosen == nullptr && slot.ready != nullptr && slot.ready->live &&
        slot.ready->width == width && slot.ready->height == height) {
        chosen = slot.ready;
        slot.ready = nullptr;
        slot.pending = false;
    }
    if (chosen != nullptr) {
        chosen->state = State::Writing;
    }
    return chosen;
}

// Under the lock: the written texture becomes the pending frame. A texture retired while
// it was written still holds the newest frame; the main thread drops it if it belongs to
// a device that is gone. Returns the block, which the ring makes unnecessary, to be freed
// outside the lock.
std::unique_ptr<unsigned char[]> Publish(FrameSlot& slot, FrameTexture& texture) {
    Supersede(slot);
    texture.state = State::Ready;
    slot.ready = &texture;
    slot.pending = true;
    slot.capacity = 0;
    return std::move(slot.pixels);
}

// Under the lock: copies the frame into the block when it is usable.
void CopyIntoBlock(FrameSlot& slot, const unsigned char* pixels, int width, int height,
                   int strideBytes) {
    uint64_t bytes = FrameBytes(pixels, height, strideBytes);
    if (bytes == 0) {
        return;
    }
    if (bytes > slot.capacity) {
        // Nothing is carried over; a failed allocation leaves no capacity claimed, so the
        // next frame tries again.
        slot.pixels.reset();
        slot.capacity = 0;
        slot.pixels.reset(new (std::nothrow) unsigned char[static_cast<size_t>(bytes)]);
        if (slot.pixels) {
            slot.capacity = bytes;
        }
    }
    if (slot.pixels) {
        Supersede(slot);
        std::memcpy(slot.pixels.get(), pixels, static_cast<size_t>(bytes));
        slot.width = width;
        slot.height = height;
        slot.strideBytes = strideBytes;
        slot.pending = true;
    }
}

// Under the lock: whether this thread posts the notification; marks it outstanding.
bool ClaimNotification(FrameSlot& slot) {
    const bool post = slot.pending && !slot.notified;
    slot.notified = slot.notified || post;
    return post;
}

}  // namespace

void StoreFrame(FrameSlot& slot, HWND window, const unsigned char* pixels, int width, int height,
                int strideBytes) {
    FrameTexture* target = nullptr;
    if (FrameBytes(pixels, height, strideBytes) != 0) {
        ScopedLock lock(slot.lock);
        target = TakeWritable(slot, width, height);
    }
    bool post = false;
    std::unique_ptr<unsigned char[]> unused;
    if (target != nullptr) {
        // Outside the lock: the texture is the worker's until it is published.
        CopyFrameRows(target->data, target->rowPitch, pixels, static_cast<size_t>(strideBytes),
                      width, height);
        ScopedLock lock(slot.lock);
        unused = Publish(slot, *target);
        post = ClaimNotification(slot);
    } else {
        ScopedLock lock(slot.lock);
        CopyIntoBlock(slot, pixels, width, height, strideBytes);
        post = ClaimNotification(slot);
    }
    if (post && !PostMessageW(window, kFrameNotification, 0, 0)) {
        ScopedLock lock(slot.lock);
        slot.notified = false;  // the next frame tries again
    }
}

namespace {

// What the main thread took out of the slot.
struct TakenFrame {
    FrameTexture* texture = nullptr;  // Shown from now on
    bool block = false;               // or the block, now in drawPixels
    int width = 0;
    int height = 0;
    int strideBytes = 0;
};

// Under the lock: takes the pending frame. A block is swapped with the one drawn last, so
// that nothing is copied or allocated here.
TakenFrame TakePendingFrame(FrameSlot& slot) {
    ScopedLock lock(slot.lock);
    slot.notified = false;
    TakenFrame frame;
    if (slot.pending && slot.ready != nullptr) {
        frame.texture = slot.ready;
        frame.texture->state = State::Shown;
        slot.ready = nullptr;
    } else if (slot.pending && slot.pixels) {
        slot.pixels.swap(slot.drawPixels);
        std::swap(slot.capacity, slot.drawCapacity);
        frame = {nullptr, true, slot.width, slot.height, slot.strideBytes};
    }
    slot.pending = false;
    return frame;
}

bool OnDevice(ID3D11Texture2D* texture, ID3D11Device* device) {
    Microsoft::WRL::ComPtr<ID3D11Device> owner;
    texture->GetDevice(&owner);
    return device != nullptr && owner.Get() == device;
}

// A texture the worker filled: unmapped and drawn, unless it belongs to a device that is
// gone (written while the device was rebuilt), which is dropped.
void DrawTexture(FrameSlot& slot, FramePresenter& presenter, FrameTexture& frame) {
    frame.context->Unmap(frame.texture.Get(), 0);
    frame.data = nullptr;
    if (!OnDevice(frame.texture.Get(), presenter.device())) {
        ScopedLock lock(slot.lock);
        frame.state = State::Idle;
        frame.live = false;
        return;
    }
    presenter.ShowFrameTexture(frame.texture.Get(), frame.view.Get(), frame.width, frame.height);
    presenter.Render();
}

}  // namespace

void DrawPendingFrame(FrameSlot& slot, FramePresenter& presenter) {
    TakenFrame frame = TakePendingFrame(slot);
    if (frame.texture != nullptr) {
        DrawTexture(slot, presenter, *frame.texture);
    } else if (frame.block && presenter.UploadFrame(slot.drawPixels.get(), frame.width,
                                                    frame.height, frame.strideBytes)) {
        presenter.Render();
    }
    KeepRingGoing(slot, presenter, frame.texture);
}
