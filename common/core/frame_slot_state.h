// The hand-over place for the newest pixel frame (Parlex, Tivane), built so that each
// frame is copied once on the CPU: the worker copies the library's rows straight into a
// buffer that the main thread has mapped for it (a dynamic texture in the hosts), and the
// main thread only unmaps that buffer and draws it.
//
// The ring: a few buffers of the current frame size (kRingTextures). Every call that
// makes, maps, unmaps or releases one is the main thread's; the worker only writes into
// the memory of a buffer that is mapped and handed to it. A buffer is, at any moment, in
// one hand:
//
//   Free     mapped, the worker may take it          -> Writing (worker)
//   Writing  the worker copies a frame into it       -> Ready   (worker)
//   Ready    mapped, holds the pending frame         -> Shown   (main takes it)
//                                                     -> Writing (the worker replaces it)
//                                                     -> Free    (a newer frame supersedes it)
//   Shown    unmapped, the one the draw samples      -> Idle    (main, when another is shown)
//   Idle     the main thread's: mapped again (Free) or released
//
// The main thread never touches a buffer that is Writing, and the worker never one that
// is Shown or Idle, so a frame is never torn; and neither waits for the other beyond the
// slot's lock, which is held for a few flags and, on the worker's fallback, one copy.
//
// The fallback block: when no buffer of the frame's size is Free or Ready (the first
// frame, a new frame size, a rebuilt device), the worker copies the rows into `pixels`
// instead, and the main thread draws them from there (frame_ring.h), takes the texture
// that drawing made into a ring of the new size and maps the others. Such a frame is
// copied twice; every other frame once. The main thread takes the block by swapping it
// with `drawPixels`, and lets go of both blocks once a ring is running.
//
// The newest frame wins: a stored frame, in a buffer or in the block, supersedes the one
// pending. At most one frame notification is outstanding: the worker asks for a post only
// when none is, so a source faster than the draws never fills the message queue.
//
// Win32-free: the drawing side derives its buffers from FrameBuffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

constexpr int kRingTextures = 3;  // shown, pending, and one for the worker to write

// Largest frame the slot accepts: 16384 x 16384 pixels of 4 bytes.
constexpr uint64_t kMaxFrameBytes = 16384ull * 16384ull * 4ull;

// One buffer of the ring. The drawing side's own type lets go of its mapping when it is
// destroyed, which happens on the main thread, outside the slot's lock.
struct FrameBuffer {
    enum class State { Free, Writing, Ready, Shown, Idle };

    FrameBuffer() = default;
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;
    virtual ~FrameBuffer() = default;

    unsigned char* data = nullptr;  // while mapped
    size_t rowPitch = 0;
    int width = 0;
    int height = 0;
    State state = State::Idle;
    bool live = true;  // of the current ring; otherwise released once the main thread has it
};

using FrameBufferList = std::vector<std::unique_ptr<FrameBuffer>>;

struct FrameSlot {
    std::mutex lock;

    // The fallback block (see above).
    std::unique_ptr<unsigned char[]> pixels;  // grows only; freed once a ring runs
    int width = 0;
    int height = 0;
    int strideBytes = 0;
    uint64_t capacity = 0;

    bool pending = false;          // a frame is stored that the main thread has not taken
    bool notified = false;         // a frame notification is posted and not yet taken
    FrameBuffer* ready = nullptr;  // the pending frame's buffer; null: it is in the block

    // Every buffer the slot has, live or on its way out. Only the main thread adds or
    // removes one, never one that is Writing.
    FrameBufferList textures;
    int ringWidth = 0;  // the size of the live ring; 0 while there is none
    int ringHeight = 0;

    // Main thread only.
    FrameBuffer* shown = nullptr;
    std::unique_ptr<unsigned char[]> drawPixels;  // the block taken out of the slot
    uint64_t drawCapacity = 0;
};

// Copies `height` rows of BGRA pixels between two pitches: width x 4 bytes a row, or fewer
// when either pitch is shorter; one block when both pitches are exactly width x 4.
void CopyFrameRows(unsigned char* target, size_t targetPitch, const unsigned char* source,
                   size_t sourceStride, int width, int height);

// Worker: copies the frame into a buffer of the ring, or height x strideBytes bytes into
// the block. True when a frame is pending and no notification was outstanding: the
// caller posts one now, and calls NotificationNotPosted if that fails.
bool StoreFrameRows(FrameSlot& slot, const unsigned char* pixels, int width, int height,
                    int strideBytes);
// Worker: the notification could not be posted; the next frame tries again.
void NotificationNotPosted(FrameSlot& slot);

// What the main thread took out of the slot.
struct TakenFrame {
    FrameBuffer* texture = nullptr;  // Shown from now on
    bool block = false;              // or the block, now in drawPixels
    int width = 0;
    int height = 0;
    int strideBytes = 0;
};

// Main thread, on a frame notification: takes the pending frame, if any. A block is
// swapped with the one drawn last, so that nothing is copied or allocated here.
TakenFrame TakePendingFrame(FrameSlot& slot);
