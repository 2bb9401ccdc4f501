// Grelm's hand-over place for the newest shared texture: the receiver's worker stores it
// under `lock`, the main thread presents it under `lock`. The slot holds a reference of
// its own from the TextureCallback until the texture is presented, replaced or dropped
// at teardown, so the main thread never touches a texture the receiver has released.
// At most one frame notification is outstanding: the worker posts only when none is.
#pragma once

#include <mutex>

#include <d3d11.h>
#include <wrl/client.h>

#include "frame_presenter.h"
#include "win_types.h"

struct TextureSlot {
    std::mutex lock;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> texture;
    int width = 0;
    int height = 0;
    bool pending = false;
    bool notified = false;  // a frame notification is posted and not yet taken
};

// The host's TextureCallback, on the worker thread: keeps the newest texture and posts
// the frame notification to `window` unless one is outstanding.
void StoreTexture(TextureSlot& slot, HWND window, ID3D11Texture2D* texture, int width, int height);

// Main thread, on a frame notification: presents a pending texture, then lets it go. A
// texture of another device than the presenter's (delivered just before a device switch)
// is dropped.
void PresentPendingTexture(TextureSlot& slot, FramePresenter& presenter);

// Teardown, after the receiver has stopped; and at a device switch.
void ReleaseTextures(TextureSlot& slot);
