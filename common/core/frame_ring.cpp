#include "frame_ring.h"

#include <algorithm>
#include <utility>

using State = FrameBuffer::State;
using Guard = std::lock_guard<std::mutex>;

namespace {

// Under the lock: moves the buffers `gone` says out of the slot (nothing is allocated
// when there are none, as after most frames). The caller lets go of them outside it.
template <typename Predicate>
FrameBufferList TakeOut(FrameSlot& slot, Predicate gone) {
    FrameBufferList out;
    if (std::none_of(slot.textures.begin(), slot.textures.end(),
                     [&gone](const auto& buffer) { return gone(*buffer); })) {
        return out;
    }
    FrameBufferList kept;
    for (auto& buffer : slot.textures) {
        (gone(*buffer) ? out : kept).push_back(std::move(buffer));
    }
    slot.textures = std::move(kept);
    return out;
}

int LiveCount(const FrameSlot& slot) {
    return static_cast<int>(std::count_if(slot.textures.begin(), slot.textures.end(),
                                          [](const auto& buffer) { return buffer->live; }));
}

// The buffer drawn now, if it is one of the slot's.
FrameBuffer* ShownNow(const FrameSlot& slot, const FrameSurface& surface, FrameBuffer* taken) {
    if (taken != nullptr && surface.Shows(*taken)) {
        return taken;
    }
    return slot.shown != nullptr && surface.Shows(*slot.shown) ? slot.shown : nullptr;
}

// Releases the retired buffers no thread uses any more, and any the surface cannot map.
void ReleaseRetired(FrameSlot& slot, const FrameSurface& surface) {
    FrameBufferList gone;
    Guard lock(slot.lock);
    gone = TakeOut(slot, [&surface](const FrameBuffer& buffer) {
        return buffer.state == State::Idle && (!buffer.live || surface.Foreign(buffer));
    });
}  // `gone` goes after the lock is released

// The drawing made a texture of its own for a frame from the block: it joins the slot as
// the shown buffer. Of a new size, it starts a new ring: the old ring's buffers are
// retired (one pending or being written is still drawn if it holds the newest frame), and
// they and the block are let go before the rest of the new ring is made, so that a change
// of size holds both rings' memory as briefly as it can.
void Adopt(FrameSlot& slot, FrameSurface& surface, std::unique_ptr<FrameBuffer> adopted) {
    const int width = adopted->width;
    const int height = adopted->height;
    adopted->state = State::Shown;
    const bool newRing = width != slot.ringWidth || height != slot.ringHeight;
    {
        Guard lock(slot.lock);
        if (newRing) {
            for (const auto& buffer : slot.textures) {
                buffer->state = buffer->state == State::Free ? State::Idle : buffer->state;
                buffer->live = false;
            }
            slot.ringWidth = width;
            slot.ringHeight = height;
        } else {
            adopted->live = LiveCount(slot) < kRingTextures;
        }
        slot.shown = adopted.get();
        slot.textures.push_back(std::move(adopted));
    }
    if (!newRing) {
        return;
    }
    slot.drawPixels.reset();
    slot.drawCapacity = 0;
    ReleaseRetired(slot, surface);
    for (int i = 1; i < kRingTextures; ++i) {
        if (std::unique_ptr<FrameBuffer> buffer = surface.CreateBuffer(width, height)) {
            Guard lock(slot.lock);
            slot.textures.push_back(std::move(buffer));  // Idle: ServiceIdle maps it
        }
    }
}

// Idle buffers: live ones are mapped and handed to the worker, the others released. A
// buffer whose map failed stays Idle and is tried again after the next frame. True when
// the worker has a buffer of the live ring to write.
bool ServiceIdle(FrameSlot& slot, FrameSurface& surface) {
    ReleaseRetired(slot, surface);
    std::vector<FrameBuffer*> toMap;
    {
        Guard lock(slot.lock);
        for (const auto& buffer : slot.textures) {
            if (buffer->state == State::Idle && buffer->live) {
                toMap.push_back(buffer.get());
            }
        }
    }
    for (FrameBuffer* buffer : toMap) {
        if (buffer->data == nullptr) {
            surface.MapBuffer(*buffer);
        }
    }
    Guard lock(slot.lock);
    for (FrameBuffer* buffer : toMap) {
        buffer->state = buffer->data != nullptr ? State::Free : State::Idle;
    }
    return std::any_of(slot.textures.begin(), slot.textures.end(), [](const auto& buffer) {
        return buffer->live && buffer->state == State::Free;
    });
}

// After a frame notification was handled. `taken` is the buffer taken for drawing, if
// any: shown now, or dropped.
void KeepRingGoing(FrameSlot& slot, FrameSurface& surface, FrameBuffer* taken) {
    FrameBuffer* shown = ShownNow(slot, surface, taken);
    {
        Guard lock(slot.lock);
        if (taken != nullptr && taken != shown) {
            taken->state = State::Idle;
        }
        if (slot.shown != nullptr && slot.shown != shown) {
            slot.shown->state = State::Idle;
        }
        slot.shown = shown;
    }
    if (shown == nullptr) {
        if (std::unique_ptr<FrameBuffer> own = surface.ShownTexture()) {
            Adopt(slot, surface, std::move(own));
        }
    }
    if (ServiceIdle(slot, surface)) {
        // Frames of this size no longer pass through a block.
        slot.drawPixels.reset();
        slot.drawCapacity = 0;
    }
}

}  // namespace

void DrawPendingFrame(FrameSlot& slot, FrameSurface& surface) {
    TakenFrame frame = TakePendingFrame(slot);
    if (frame.texture != nullptr && !surface.DrawBuffer(*frame.texture)) {
        // Written while the device was rebuilt: dropped.
        Guard lock(slot.lock);
        frame.texture->state = State::Idle;
        frame.texture->live = false;
    } else if (frame.block) {
        surface.DrawRows(slot.drawPixels.get(), frame.width, frame.height, frame.strideBytes);
    }
    KeepRingGoing(slot, surface, frame.texture);
}

void RetireFrameTextures(FrameSlot& slot) {
    FrameBufferList gone;
    Guard lock(slot.lock);
    for (const auto& buffer : slot.textures) {
        buffer->live = false;
    }
    gone = TakeOut(slot, [](const FrameBuffer& buffer) { return buffer.state != State::Writing; });
    if (slot.ready != nullptr) {  // taken out: it was Ready
        slot.ready = nullptr;
        slot.pending = false;
    }
    slot.shown = nullptr;
    slot.ringWidth = 0;
    slot.ringHeight = 0;
}  // `gone` goes after the lock is released

void FreeFramePixels(FrameSlot& slot) {
    FrameBufferList gone;
    Guard lock(slot.lock);
    gone = std::move(slot.textures);
    slot.textures.clear();
    slot.ready = nullptr;
    slot.shown = nullptr;
    slot.ringWidth = 0;
    slot.ringHeight = 0;
    slot.pixels.reset();
    slot.capacity = 0;
    slot.pending = false;
    slot.notified = false;
    slot.drawPixels.reset();
    slot.drawCapacity = 0;
}  // `gone` goes after the lock is released
