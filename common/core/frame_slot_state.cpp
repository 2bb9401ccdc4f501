#include "frame_slot_state.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "schedule_point.h"

using State = FrameBuffer::State;
using Guard = std::lock_guard<std::mutex>;

void CopyFrameRows(unsigned char* target, size_t targetPitch, const unsigned char* source,
                   size_t sourceStride, int width, int height) {
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    if (sourceStride == targetPitch && sourceStride == rowBytes) {
        std::memcpy(target, source, rowBytes * static_cast<size_t>(height));
        return;
    }
    const size_t count = std::min(rowBytes, std::min(sourceStride, targetPitch));
    for (int row = 0; row < height; ++row) {
        std::memcpy(target + row * targetPitch, source + row * sourceStride, count);
    }
}

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

// Under the lock: a live buffer of the frame's size for the worker to write, marked
// Writing: a Free one, else the pending one, which this frame supersedes anyway. Null
// when there is none; the frame then goes into the block.
FrameBuffer* TakeWritable(FrameSlot& slot, int width, int height) {
    if (slot.ringWidth == 0 || width != slot.ringWidth || height != slot.ringHeight) {
        return nullptr;
    }
    FrameBuffer* chosen = nullptr;
    for (const auto& buffer : slot.textures) {
        if (buffer->live && buffer->state == State::Free && buffer->width == width &&
            buffer->height == height) {
            chosen = buffer.get();
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

// Under the lock: the written buffer becomes the pending frame. A buffer retired while
// it was written still holds the newest frame; the main thread drops it if it belongs to
// a device that is gone. Returns the block, which the ring makes unnecessary, to be freed
// outside the lock.
std::unique_ptr<unsigned char[]> Publish(FrameSlot& slot, FrameBuffer& buffer) {
    Supersede(slot);
    buffer.state = State::Ready;
    slot.ready = &buffer;
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

bool StoreFrameRows(FrameSlot& slot, const unsigned char* pixels, int width, int height,
                    int strideBytes) {
    FrameBuffer* target = nullptr;
    {
        Guard lock(slot.lock);
        if (FrameBytes(pixels, height, strideBytes) != 0) {
            target = TakeWritable(slot, width, height);
        }
        if (target == nullptr) {
            CopyIntoBlock(slot, pixels, width, height, strideBytes);
            return ClaimNotification(slot);
        }
    }
    // Outside the lock: the buffer is the worker's until it is published.
    schedule::Point("frame.write");
    CopyFrameRows(target->data, target->rowPitch, pixels, static_cast<size_t>(strideBytes), width,
                  height);
    std::unique_ptr<unsigned char[]> unused;
    Guard lock(slot.lock);
    unused = Publish(slot, *target);
    return ClaimNotification(slot);
}

void NotificationNotPosted(FrameSlot& slot) {
    Guard lock(slot.lock);
    slot.notified = false;
}

TakenFrame TakePendingFrame(FrameSlot& slot) {
    Guard lock(slot.lock);
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
