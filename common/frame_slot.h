// The frame slot (frame_slot_state.h) on Direct3D: its buffers are dynamic textures of the
// presenter's device, and the worker's frame notification is a message to the host
// window. Every Direct3D call on the textures is the main thread's.
#pragma once

#include <d3d11.h>
#include <windows.h>
#include <wrl/client.h>

#include "frame_ring.h"
#include "frame_slot_state.h"

class FramePresenter;

// A buffer of the ring: a dynamic texture, unmapped when it goes (on the main thread).
struct FrameTexture : FrameBuffer {
    ~FrameTexture() override;

    Microsoft::WRL::ComPtr<ID3D11DeviceContext> context;  // the one that maps and unmaps it
    Microsoft::WRL::ComPtr<ID3D11Texture2D> texture;
    Microsoft::WRL::ComPtr<ID3D11ShaderResourceView> view;
};

// The host's FrameCallback, on the worker thread: stores the frame and posts the frame
// notification to `window` when a frame is pending and no notification is outstanding
// (a failed post is tried again at the next frame).
void StoreFrame(FrameSlot& slot, HWND window, const unsigned char* pixels, int width, int height,
                int strideBytes);

// Main thread, on a frame notification: takes a pending frame, if any, and draws it, then
// keeps the ring going on the presenter's device.
void DrawPendingFrame(FrameSlot& slot, FramePresenter& presenter);
