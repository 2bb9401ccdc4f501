#include <mutex>

#include "texture_slot.h"

#include "host_window.h"

namespace {

bool OnDevice(ID3D11Texture2D* texture, ID3D11Device* device) {
    Microsoft::WRL::ComPtr<ID3D11Device> owner;
    texture->GetDevice(&owner);
    return device != nullptr && owner.Get() == device;
}

}  // namespace

void StoreTexture(TextureSlot& slot, HWND window, ID3D11Texture2D* texture, int width, int height) {
    bool post = false;
    {
        std::lock_guard<std::mutex> lock(slot.lock);
        slot.texture = texture;  // takes a reference; drops the replaced one
        slot.width = width;
        slot.height = height;
        slot.pending = texture != nullptr;
        post = slot.pending && !slot.notified;
        slot.notified = slot.notified || post;
    }
    if (post && !PostMessageW(window, kFrameNotification, 0, 0)) {
        std::lock_guard<std::mutex> lock(slot.lock);
        slot.notified = false;  // the next delivery tries again
    }
}

void PresentPendingTexture(TextureSlot& slot, FramePresenter& presenter) {
    std::lock_guard<std::mutex> lock(slot.lock);
    slot.notified = false;
    if (slot.pending && slot.texture && OnDevice(slot.texture.Get(), presenter.device())) {
        presenter.PresentTexture(slot.texture.Get(), slot.width, slot.height);
    }
    // Copied on the graphics card by now; the slot's reference is no longer needed.
    slot.texture.Reset();
    slot.pending = false;
}

void ReleaseTextures(TextureSlot& slot) {
    std::lock_guard<std::mutex> lock(slot.lock);
    slot.texture.Reset();
    slot.pending = false;
}
