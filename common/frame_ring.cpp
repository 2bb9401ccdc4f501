#include "frame_ring.h"

#include <algorithm>
#include <utility>

using State = FrameTexture::State;
using TextureList = std::vector<std::unique_ptr<FrameTexture>>;

namespace {

// Outside the lock, on the main thread: what no thread uses any more.
void Release(TextureList& textures) {
    for (const auto& texture : textures) {
        if (texture->data != nullptr) {
            texture->context->Unmap(texture->texture.Get(), 0);
            texture->data = nullptr;
        }
    }
    textures.clear();
}

// Under the lock: moves the textures `gone` says out of the slot (nothing is allocated
// when there are none, as after most frames).
template <typename Predicate>
TextureList TakeOut(FrameSlot& slot, Predicate gone) {
    TextureList out;
    if (std::none_of(slot.textures.begin(), slot.textures.end(),
                     [&gone](const auto& texture) { return gone(*texture); })) {
        return out;
    }
    TextureList kept;
    for (auto& texture : slot.textures) {
        (gone(*texture) ? out : kept).push_back(std::move(texture));
    }
    slot.textures = std::move(kept);
    return out;
}

int LiveCount(const FrameSlot& slot) {
    int count = 0;
    for (const auto& texture : slot.textures) {
        count += texture->live ? 1 : 0;
    }
    return count;
}

// The texture the presenter draws now, if it is one of the slot's.
FrameTexture* ShownNow(FrameSlot& slot, FramePresenter& presenter, FrameTexture* taken) {
    ID3D11Texture2D* current = presenter.frameTexture();
    if (current == nullptr) {
        return nullptr;
    }
    if (taken != nullptr && taken->texture.Get() == current) {
        return taken;
    }
    return slot.shown != nullptr && slot.shown->texture.Get() == current ? slot.shown : nullptr;
}

// Outside the lock: releases the retired textures no thread uses any more, and any of
// another device than the presenter's (it could not be mapped on this context).
void ReleaseRetired(FrameSlot& slot, FramePresenter& presenter) {
    TextureList gone;
    {
        ScopedLock lock(slot.lock);
        gone = TakeOut(slot, [&presenter](const FrameTexture& texture) {
            return texture.state == State::Idle &&
                   (!texture.live || texture.context.Get() != presenter.context());
        });
    }
    Release(gone);
}

// The presenter uploaded a frame into a texture of its own: that texture joins the slot
// as the shown one. Of a new size, it starts a new ring: the old ring's textures are
// retired (one pending or being written is still drawn if it holds the newest frame), and
// they and the block are let go before the rest of the new ring is made, so that a change
// of size holds both rings' memory as briefly as it can.
void Adopt(FrameSlot& slot, FramePresenter& presenter) {
    const int width = presenter.textureWidth();
    const int height = presenter.textureHeight();
    auto adopted = std::make_unique<FrameTexture>();
    adopted->context = presenter.context();
    adopted->texture = presenter.frameTexture();
    adopted->view = presenter.frameView();
    adopted->width = width;
    adopted->height = height;
    adopted->state = State::Shown;
    const bool newRing = width != slot.ringWidth || height != slot.ringHeight;
    {
        ScopedLock lock(slot.lock);
        if (newRing) {
            for (const auto& texture : slot.textures) {
                texture->state = texture->state == State::Free ? State::Idle : texture->state;
                texture->live = false;
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
    ReleaseRetired(slot, presenter);
    for (int i = 1; i < kRingTextures; ++i) {
        auto texture = std::make_unique<FrameTexture>();
        if (presenter.CreateFrameTexture(width, height, texture->texture, texture->view)) {
            texture->context = presenter.context();
            texture->width = width;
            texture->height = height;  // Idle: ServiceIdle maps it
            ScopedLock lock(slot.lock);
            slot.textures.push_back(std::move(texture));
        }
    }
}

// Idle textures: live ones are mapped and handed to the worker, the others released. A
// texture whose map failed stays Idle and is tried again after the next frame. True when
// the worker has a texture of the live ring to write.
bool ServiceIdle(FrameSlot& slot, FramePresenter& presenter) {
    ReleaseRetired(slot, presenter);
    std::vector<FrameTexture*> toMap;
    {
        ScopedLock lock(slot.lock);
        for (const auto& texture : slot.textures) {
            if (texture->state == State::Idle && texture->live) {
                toMap.push_back(texture.get());
            }
        }
    }
    for (FrameTexture* texture : toMap) {
        D3D11_MAPPED_SUBRESOURCE mapped = {};
        if (texture->data == nullptr && presenter.MapFrameTexture(texture->texture.Get(), mapped)) {
            texture->data = static_cast<unsigned char*>(mapped.pData);
            texture->rowPitch = mapped.RowPitch;
        }
    }
    ScopedLock lock(slot.lock);
    for (FrameTexture* texture : toMap) {
        texture->state = texture->data != nullptr ? State::Free : State::Idle;
    }
    return std::any_of(slot.textures.begin(), slot.textures.end(), [](const auto& texture) {
        return texture->live && texture->state == State::Free;
    });
}

}  // namespace

void KeepRingGoing(FrameSlot& slot, FramePresenter& presenter, FrameTexture* taken) {
    FrameTexture* shown = ShownNow(slot, presenter, taken);
    {
        ScopedLock lock(slot.lock);
        if (taken != nullptr && taken != shown) {
            taken->state = State::Idle;
        }
        if (slot.shown != nullptr && slot.shown != shown) {
            slot.shown->state = State::Idle;
        }
        slot.shown = shown;
    }
    if (shown == nullptr && presenter.frameTexture() != nullptr) {
        Adopt(slot, presenter);
    }
    if (ServiceIdle(slot, presenter)) {
        // Frames of this size no longer pass through a block.
        slot.drawPixels.reset();
        slot.drawCapacity = 0;
    }
}

void RetireFrameTextures(FrameSlot& slot) {
    TextureList gone;
    {
        ScopedLock lock(slot.lock);
        for (const auto& texture : slot.textures) {
            texture->live = false;
        }
        gone = TakeOut(slot,
                       [](const FrameTexture& texture) { return texture.state != State::Writing; });
        if (slot.ready != nullptr) {  // taken out: it was Ready
            slot.ready = nullptr;
            slot.pending = false;
        }
        slot.shown = nullptr;
        slot.ringWidth = 0;
        slot.ringHeight = 0;
    }
    Release(gone);
}

void FreeFramePixels(FrameSlot& slot) {
    TextureList gone;
    {
        ScopedLock lock(slot.lock);
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
    }
    Release(gone);
}
