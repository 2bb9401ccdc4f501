// The frame slot natively: a worker storing frames as fast as it can, now and then of
// another size, while the main thread draws on each notification, and the device is lost
// and made again at any moment. The buffers are plain memory with a row pitch wider than
// the frame's rows; every pixel of a frame holds its number. What is drawn is whole and
// newer than what was drawn before, the picture on screen never changes under the draw,
// at most one notification is outstanding, and the newest frame is the last drawn.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frame_ring.h"
#include "frame_slot_state.h"
#include "stress_support.h"

namespace {

constexpr size_t kPitchPadding = 16;

struct MemoryBuffer : FrameBuffer {
    std::shared_ptr<std::vector<unsigned char>> memory;  // shared with the drawing's own copy
    size_t pitch = 0;
    int device = 0;
};

MemoryBuffer& AsMemory(FrameBuffer& buffer) {
    return static_cast<MemoryBuffer&>(buffer);
}
const MemoryBuffer& AsMemory(const FrameBuffer& buffer) {
    return static_cast<const MemoryBuffer&>(buffer);
}

// The number every pixel of those rows holds, or -1 when they are not one frame's.
int64_t FrameNumber(const unsigned char* rows, size_t pitch, int width, int height) {
    uint32_t first = 0;
    std::memcpy(&first, rows, 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint32_t pixel = 0;
            std::memcpy(&pixel, rows + y * pitch + static_cast<size_t>(x) * 4, 4);
            if (pixel != first) {
                return -1;
            }
        }
    }
    return first;
}

// The drawing in plain memory: "the picture" is the memory drawn last.
class MemorySurface : public FrameSurface {
public:
    void DrawRows(const unsigned char* pixels, int width, int height, int strideBytes) override {
        // As a presenter does: the rows go into a texture of its own.
        auto own = std::make_shared<std::vector<unsigned char>>(static_cast<size_t>(height) *
                                                                static_cast<size_t>(width) * 4);
        CopyFrameRows(own->data(), static_cast<size_t>(width) * 4, pixels,
                      static_cast<size_t>(strideBytes), width, height);
        Show(own, static_cast<size_t>(width) * 4, width, height);
    }
    bool DrawBuffer(FrameBuffer& buffer) override {
        MemoryBuffer& frame = AsMemory(buffer);
        frame.data = nullptr;
        if (frame.device != device) {
            return false;
        }
        Show(frame.memory, frame.pitch, frame.width, frame.height);
        return true;
    }
    bool Shows(const FrameBuffer& buffer) const override {
        return picture_ != nullptr && AsMemory(buffer).memory == picture_;
    }
    std::unique_ptr<FrameBuffer> ShownTexture() override {
        if (picture_ == nullptr) {
            return nullptr;
        }
        auto shown = std::make_unique<MemoryBuffer>();
        shown->memory = picture_;
        shown->pitch = pitch_;
        shown->width = width_;
        shown->height = height_;
        shown->device = device;
        return shown;
    }
    std::unique_ptr<FrameBuffer> CreateBuffer(int width, int height) override {
        auto buffer = std::make_unique<MemoryBuffer>();
        buffer->pitch = static_cast<size_t>(width) * 4 + kPitchPadding;
        buffer->memory = std::make_shared<std::vector<unsigned char>>(buffer->pitch *
                                                                      static_cast<size_t>(height));
        buffer->width = width;
        buffer->height = height;
        buffer->device = device;
        return buffer;
    }
    bool MapBuffer(FrameBuffer& buffer) override {
        MemoryBuffer& memory = AsMemory(buffer);
        if (memory.device != device) {
            return false;
        }
        memory.data = memory.memory->data();
        memory.rowPitch = memory.pitch;
        return true;
    }
    bool Foreign(const FrameBuffer& buffer) const override {
        return AsMemory(buffer).device != device;
    }

    // The device was lost and made again: the picture went with the old one.
    void NewDevice() {
        ++device;
        picture_.reset();
    }
    // Whether the picture still shows the frame drawn last.
    bool PictureUnchanged() const {
        return picture_ == nullptr ||
               FrameNumber(picture_->data(), pitch_, width_, height_) == lastDrawn;
    }

    int device = 0;
    int64_t lastDrawn = -1;
    int draws = 0;
    std::vector<std::string> faults;

private:
    void Show(std::shared_ptr<std::vector<unsigned char>> memory, size_t pitch, int width,
              int height) {
        const int64_t number = FrameNumber(memory->data(), pitch, width, height);
        if (number < 0) {
            faults.push_back("a torn frame drawn");
        } else if (number <= lastDrawn) {
            faults.push_back("frame " + std::to_string(number) + " drawn after " +
                             std::to_string(lastDrawn));
        }
        lastDrawn = number;
        ++draws;
        picture_ = std::move(memory);
        pitch_ = pitch;
        width_ = width;
        height_ = height;
    }

    std::shared_ptr<std::vector<unsigned char>> picture_;
    size_t pitch_ = 0;
    int width_ = 0;
    int height_ = 0;
};

// The window's message queue as far as frame notifications go.
class Notifications {
public:
    void Post() {
        std::lock_guard<std::mutex> lock(lock_);
        most_ = std::max(most_, ++queued_);
        changed_.notify_all();
    }
    // Waits a moment for one; true when one was taken.
    bool Take() {
        std::unique_lock<std::mutex> lock(lock_);
        if (!changed_.wait_for(lock, std::chrono::milliseconds(2),
                               [this] { return queued_ > 0; })) {
            return false;
        }
        --queued_;
        return true;
    }
    int Most() {
        std::lock_guard<std::mutex> lock(lock_);
        return most_;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    int queued_ = 0;
    int most_ = 0;
};

TEST(FrameSlotStress, TheNewestWholeFrameIsDrawnAndNothingWritesUnderTheDraw) {
    stress::Run("frame slot", {3000, 3.0}, [](int, std::mt19937_64& rng) {
        FrameSlot slot;
        MemorySurface surface;
        Notifications notifications;
        const int frames = stress::Between(rng, 1, 60);
        const int sizeChanges = stress::Between(rng, 0, 3);
        const int failedPostEvery =
            stress::Between(rng, 0, 1) == 0 ? 0 : stress::Between(rng, 2, 9);
        const uint64_t workerSeed = rng();
        std::atomic<bool> done{false};
        std::thread worker([&] {
            std::mt19937_64 own(workerSeed);
            int width = 8;
            int height = 4;
            std::vector<uint32_t> pixels;
            for (int number = 0; number < frames; ++number) {
                if (sizeChanges > 0 &&
                    stress::Between(own, 0, frames / (sizeChanges + 1) + 1) == 0) {
                    width = stress::Between(own, 1, 12);
                    height = stress::Between(own, 1, 6);
                }
                pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height),
                              static_cast<uint32_t>(number));
                const bool last = number + 1 == frames;
                if (StoreFrameRows(slot, reinterpret_cast<const unsigned char*>(pixels.data()),
                                   width, height, width * 4)) {
                    if (!last && failedPostEvery > 0 && number % failedPostEvery == 0) {
                        NotificationNotPosted(slot);
                    } else {
                        notifications.Post();
                    }
                }
                if (stress::Between(own, 0, 3) == 0) {
                    std::this_thread::yield();
                }
            }
            done.store(true);
        });
        const int lossAt = stress::Between(rng, 0, 3) == 0 ? stress::Between(rng, 0, 20) : -1;
        for (int round = 0; !done.load() || round < 2; ++round) {
            if (!notifications.Take()) {
                continue;
            }
            EXPECT_TRUE(surface.PictureUnchanged()) << "the picture changed under the draw";
            if (surface.draws == lossAt) {
                RetireFrameTextures(slot);
                surface.NewDevice();
            }
            DrawPendingFrame(slot, surface);
            EXPECT_TRUE(surface.PictureUnchanged());
        }
        worker.join();
        // One frame more, as the source's next: a device loss may have taken the last one
        // with the textures, never this one.
        const std::vector<uint32_t> next(4, static_cast<uint32_t>(frames));
        if (StoreFrameRows(slot, reinterpret_cast<const unsigned char*>(next.data()), 2, 2, 8)) {
            notifications.Post();
        }
        while (notifications.Take()) {
            DrawPendingFrame(slot, surface);
        }
        for (const std::string& fault : surface.faults) {
            ADD_FAILURE() << fault;
        }
        EXPECT_EQ(surface.lastDrawn, frames) << "the newest frame is not the last drawn";
        EXPECT_LE(notifications.Most(), 1);
        FreeFramePixels(slot);
    });
}

}  // namespace
