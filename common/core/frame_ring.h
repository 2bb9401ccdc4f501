// The main thread's side of the frame slot (frame_slot_state.h): draws what it takes,
// keeps track of which buffer is shown, starts a ring when the drawing has made a texture
// of a new size, maps buffers for the worker and releases retired ones. What it does to
// buffers goes through FrameSurface: Direct3D in the hosts, plain memory in tests.
// Win32-free; main thread only.
#pragma once

#include <memory>

#include "frame_slot_state.h"

class FrameSurface {
public:
    virtual ~FrameSurface() = default;

    // Draws a frame from the block; the drawing keeps it in a texture of its own.
    virtual void DrawRows(const unsigned char* pixels, int width, int height, int strideBytes) = 0;
    // Unmaps a buffer the worker filled and draws it; false, with nothing drawn, when it
    // belongs to a device that is gone.
    virtual bool DrawBuffer(FrameBuffer& buffer) = 0;
    // Whether the picture drawn now is `buffer`'s.
    virtual bool Shows(const FrameBuffer& buffer) const = 0;
    // The texture the drawing shows now as a buffer of the slot (width, height and the
    // drawing's own references set), or null when it shows none.
    virtual std::unique_ptr<FrameBuffer> ShownTexture() = 0;
    // A new unmapped buffer of that size, or null.
    virtual std::unique_ptr<FrameBuffer> CreateBuffer(int width, int height) = 0;
    // Maps `buffer` for writing (sets data and rowPitch); false when it cannot.
    virtual bool MapBuffer(FrameBuffer& buffer) = 0;
    // Whether `buffer` cannot be mapped here (another device's). Called under the slot's
    // lock: it may not wait.
    virtual bool Foreign(const FrameBuffer& buffer) const = 0;
};

// On a frame notification: takes the pending frame, if any, draws it, then keeps the ring
// going (maps what the worker may write next, releases what is retired).
void DrawPendingFrame(FrameSlot& slot, FrameSurface& surface);

// When the drawing is about to let go of its device: every buffer of the ring is released
// now, except one the worker is writing, which is dropped once it is done. The next frame
// comes through the block and makes a ring on the new device.
void RetireFrameTextures(FrameSlot& slot);

// Teardown, after the receiver has stopped: the ring and the blocks.
void FreeFramePixels(FrameSlot& slot);
