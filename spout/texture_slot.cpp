#include "texture_slot.h"

#include "host_window.h"

void StoreTexture(TextureSlot& slot, HWND window, ID3D11Texture2D* texture, int width, int height) {
    {
        ScopedLock lock(slot.lock);
        slot.texture = texture;  // takes a reference; drops the replaced one
        slot.width = width;
        slot.height = height;
        slot.pending = true;
    }
    PostMessageW(window, kFrameNotification, 0, 0);
}

void PresentPendingTexture(TextureSlot& slot, FramePresenter& presenter) {
    ScopedLock lock(slot.lock);
    if (slot.pending && slot.texture) {
        presenter.PresentTexture(slot.texture.Get(), slot.width, slot.height);
    }
    // Copied on the graphics card by now; the slot's reference is no longer needed.
    slot.texture.Reset();
    slot.pending = false;
}

void ReleaseTextures(TextureSlot& slot) {
    ScopedLock lock(slot.lock);
    slot.texture.Reset();
    slot.pending = false;
}
