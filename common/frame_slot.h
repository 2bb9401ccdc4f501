// The hand-over place for the newest pixel frame (Parlex, Tivane), built so that each
// frame is copied once on the CPU: the worker copies the library's rows straight into a
// dynamic texture that the main thread has mapped for it, and the main thread only unmaps
// that texture and draws it.
//
// The ring: a few textures of the current frame size (kRingTextures) on the presenter's
// device. Every Direct3D call on them (create, map, unmap, release) is the main thread's;
// the worker only writes into the memory of a texture that is mapped and handed to it. A
// texture is, at any moment, in one hand:
//
//   Free     mapped, the worker may take it          -> Writing (worker)
//   Writing  the worker copies a frame into it       -> Ready   (worker)
//   Ready    mapped, holds the pending frame         -> Shown   (main takes it)
//                                                     -> Writing (the worker replaces it)
//                                                     -> Free    (a newer frame supersedes it)
//   Shown    unmapped, the one the draw samples      -> Idle    (main, when another is shown)
//   Idle     the main thread's: mapped again (Free) or released
//
// The main thread never touches a texture that is Writing, and the worker never one that
// is Shown or Idle, so a frame is never torn; and neither waits for the other beyond the
// slot's lock, which is held for a few flags and, on the worker's fallback, one copy.
//
// The fallback block: when no texture of the frame's size is Free or Ready (the first
// frame, a new frame size, a rebuilt device), the worker copies the rows into `pixels`
// instead, and the main thread uploads them (UploadFrame), takes the presenter's new
// texture into a ring of the new size and maps the others. Such a frame is copied twice;
// every other frame once. The main thread takes the block by swapping it with
// `drawPixels`, and lets go of both blocks once a ring is running.
//
// The newest frame wins: a stored frame, in a texture or in the block, supersedes the one
// pending. At most one frame notification is outstanding: the worker posts only when none
// is, so a source faster than the draws never fills the message queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <d3d11.h>
#include <wrl/client.h>

#include "frame_presenter.h"
#include "win_types.h"

constexpr int kRingTextures = 3;  // shown, pending, and one for the worker to write

struct FrameTexture {
    enum class State { Free, Writing, Ready, Shown, Idle };

    Microsoft::WRL::ComPtr<ID3D11DeviceContext> context;  // the one that maps and unmaps it
    Microsoft::WRL::ComPtr<ID3D11Texture2D> texture;
    Microsoft::WRL::ComPtr<ID3D11ShaderResourceView> view;
    unsigned char* data = nullptr;  // while mapped
    size_t rowPitch = 0;
    int width = 0;
    int height = 0;
    State state = State::Idle;
    bool live = true;  // of the current ring; otherwise released once the main thread has it
};

struct FrameSlot {
    CriticalSection lock;

    // The fallback block (see above).
    std::unique_ptr<unsigned char[]> pixels;  // grows only; freed once a ring runs
    int width = 0;
    int height = 0;
    int strideBytes = 0;
    uint64_t capacity = 0;

    bool pending = false;           // a frame is stored that the main thread has not taken
    bool notified = false;          // a frame notification is posted and not yet taken
    FrameTexture* ready = nullptr;  // the pending frame's texture; null: it is in the block

    // Every texture the slot has, live or on its way out. Only the main thread adds or
    // removes one, never one that is Writing.
    std::vector<std::unique_ptr<FrameTexture>> textures;
    int ringWidth = 0;  // the size of the live ring; 0 while there is none
    int ringHeight = 0;

    // Main thread only.
    FrameTexture* shown = nullptr;
    std::unique_ptr<unsigned char[]> drawPixels;  // the block taken out of the slot
    uint64_t drawCapacity = 0;
};

// Largest frame the slot accepts: 16384 x 16384 pixels of 4 bytes.
constexpr uint64_t kMaxFrameBytes = 16384ull * 16384ull * 4ull;

// The host's FrameCallback, on the worker thread: copies the frame into a texture of the
// ring, or height x strideBytes bytes into the block, and posts the frame notification to
// `window` when a frame is pending and no notification is outstanding (a failed post is
// tried again at the next frame).
void StoreFrame(FrameSlot& slot, HWND window, const unsigned char* pixels, int width, int height,
                int strideBytes);

// Main thread, on a frame notification: takes a pending frame, if any, and draws it, then
// keeps the ring going (maps what the worker may write next, releases what is retired).
void DrawPendingFrame(FrameSlot& slot, FramePresenter& presenter);

// Main thread, when the presenter is about to let go of its device: every texture of the
// ring is released now, except one the worker is writing, which is dropped once it is
// done. The next frame comes through the block and makes a ring on the new device.
void RetireFrameTextures(FrameSlot& slot);

// Teardown, on the main thread after the receiver has stopped: the ring and the blocks.
void FreeFramePixels(FrameSlot& slot);
