// The hand-over place for the newest pixel frame (Parlex, Tivane): the receiver's worker
// copies into `pixels` under `lock`; the main thread takes a pending frame out under
// `lock` by swapping blocks with `drawPixels`, and uploads and draws it after leaving the
// lock, so the worker never waits for Direct3D. A new frame overwrites a pending one, so
// frames never queue; each frame is still copied once. `drawPixels` and its fields belong
// to the main thread. At most one frame notification is outstanding: the worker posts
// only when none is, so a source faster than the draws never fills the message queue.
#pragma once

#include <cstdint>
#include <memory>

#include "frame_presenter.h"
#include "win_types.h"

struct FrameSlot {
    CriticalSection lock;
    std::unique_ptr<unsigned char[]> pixels;  // grows only; freed at teardown
    int width = 0;
    int height = 0;
    int strideBytes = 0;
    uint64_t capacity = 0;
    bool pending = false;
    bool notified = false;  // a frame notification is posted and not yet taken

    // The frame the main thread draws, taken out of the slot; main thread only.
    std::unique_ptr<unsigned char[]> drawPixels;
    uint64_t drawCapacity = 0;
};

// Largest frame the slot accepts: 16384 x 16384 pixels of 4 bytes.
constexpr uint64_t kMaxFrameBytes = 16384ull * 16384ull * 4ull;

// The host's FrameCallback, on the worker thread: copies height x strideBytes bytes and
// posts the frame notification to `window` when a frame is pending and no notification
// is outstanding (a failed post is tried again at the next frame).
void StoreFrame(FrameSlot& slot, HWND window, const unsigned char* pixels, int width, int height,
                int strideBytes);

// Main thread, on a frame notification: takes a pending frame, if any, out of the slot and
// uploads and draws it outside the lock.
void DrawPendingFrame(FrameSlot& slot, FramePresenter& presenter);

void FreeFramePixels(FrameSlot& slot);
