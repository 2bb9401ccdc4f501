// The frame hand-off between the worker's StoreFrame and the main thread's
// DrawPendingFrame: what is stored, when the block grows, and that at most one frame
// notification is ever outstanding, however fast frames come.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include <windows.h>

#include "frame_slot.h"
#include "host_kind.h"
#include "host_window.h"
#include "readback_presenter.h"

namespace {

class FrameSlotTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CreateHostWindow(GetModuleHandleW(nullptr), TraitsOf(HostKind::Parlex), 320,
                                     180, window));
    }
    void TearDown() override {
        FreeFramePixels(slot);
        DestroyHostWindow(window);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    // Takes every queued frame notification; returns how many there were.
    int TakeNotifications() {
        int count = 0;
        MSG message;
        while (PeekMessageW(&message, window, kFrameNotification, kFrameNotification, PM_REMOVE)) {
            ++count;
        }
        return count;
    }

    // The host loop's share: draws on each notification, counts the notifications.
    int PumpFrames(FramePresenter& presenter) {
        int count = 0;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == kFrameNotification) {
                ++count;
                DrawPendingFrame(slot, presenter);
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        return count;
    }

    static std::vector<unsigned char> Bytes(size_t count, unsigned char seed) {
        std::vector<unsigned char> bytes(count);
        for (size_t i = 0; i < count; ++i) {
            bytes[i] = static_cast<unsigned char>(i * 31 + seed);
        }
        return bytes;
    }

    HWND window = nullptr;
    FrameSlot slot;
};

TEST_F(FrameSlotTest, AFasterSourceKeepsOneNotificationOutstandingAndTheNewestFrameIsDrawn) {
    ReadbackPresenter presenter;
    ASSERT_TRUE(presenter.Initialize(window));
    std::vector<unsigned char> older = Bytes(64 * 4 * 32, 1);
    std::vector<unsigned char> newest = Bytes(64 * 4 * 32, 2);

    // A thousand frames before the main thread looks: one notification, the newest frame.
    for (int i = 0; i < 1000; ++i) {
        StoreFrame(slot, window, (i == 999 ? newest : older).data(), 64, 32, 64 * 4);
    }
    EXPECT_EQ(std::memcmp(slot.pixels.get(), newest.data(), newest.size()), 0);
    // Notifications from elsewhere find nothing more to draw.
    for (int i = 0; i < 4; ++i) {
        PostMessageW(window, kFrameNotification, 0, 0);
    }
    EXPECT_EQ(PumpFrames(presenter), 5);
    EXPECT_EQ(presenter.presents, 1);
    EXPECT_EQ(std::memcmp(presenter.picture.data(), newest.data(), newest.size()), 0);
    EXPECT_FALSE(slot.pending);

    // Once taken, the next frame posts again.
    StoreFrame(slot, window, older.data(), 64, 32, 64 * 4);
    StoreFrame(slot, window, older.data(), 64, 32, 64 * 4);
    EXPECT_EQ(PumpFrames(presenter), 1);
    EXPECT_EQ(presenter.presents, 2);

    // A notification that cannot be posted is tried again at the next frame.
    HWND gone = nullptr;
    ASSERT_TRUE(
        CreateHostWindow(GetModuleHandleW(nullptr), TraitsOf(HostKind::Parlex), 32, 32, gone));
    HWND stale = gone;
    DestroyHostWindow(gone);
    StoreFrame(slot, stale, older.data(), 64, 32, 64 * 4);
    EXPECT_TRUE(slot.pending);
    StoreFrame(slot, window, newest.data(), 64, 32, 64 * 4);
    EXPECT_EQ(PumpFrames(presenter), 1);
    EXPECT_EQ(presenter.presents, 3);
}

TEST_F(FrameSlotTest, UnusableFrameIsNeitherCopiedNorNotified) {
    ReadbackPresenter presenter;
    ASSERT_TRUE(presenter.Initialize(window));
    std::vector<unsigned char> tinyPixels = Bytes(256, 3);
    struct Case {
        const char* name;
        const unsigned char* pixels;
        int width;
        int height;
        int stride;
    };
    const Case cases[] = {
        {"zero height", tinyPixels.data(), 16, 0, 64},
        {"negative height", tinyPixels.data(), 16, -4, 64},
        {"zero stride", tinyPixels.data(), 16, 4, 0},
        {"negative stride", tinyPixels.data(), 16, 4, -64},
        {"no pixels", nullptr, 16, 4, 64},
        // Byte counts no frame can have: neither copied nor allocated.
        {"2 GiB", tinyPixels.data(), 16384, 32768, 65536},
        {"largest ints", tinyPixels.data(), INT_MAX, INT_MAX, INT_MAX},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameSlot fresh;
        StoreFrame(fresh, window, c.pixels, c.width, c.height, c.stride);
        EXPECT_EQ(fresh.pixels, nullptr);
        EXPECT_TRUE(fresh.textures.empty());
        EXPECT_EQ(fresh.capacity, 0u);
        EXPECT_FALSE(fresh.pending);
        EXPECT_EQ(TakeNotifications(), 0);

        // Nor does it disturb a frame that is waiting to be drawn: in the block the first
        // time, in a texture of the ring (which that frame's draw started) after that.
        StoreFrame(slot, window, tinyPixels.data(), 16, 4, 64);
        FrameBuffer* const waiting = slot.ready;
        StoreFrame(slot, window, c.pixels, c.width, c.height, c.stride);
        EXPECT_TRUE(slot.pending);
        EXPECT_EQ(slot.ready, waiting);
        if (waiting == nullptr) {
            EXPECT_EQ(slot.width, 16);
            EXPECT_EQ(slot.height, 4);
            EXPECT_EQ(slot.strideBytes, 64);
        } else {
            EXPECT_EQ(waiting->state, FrameBuffer::State::Ready);
        }
        EXPECT_EQ(PumpFrames(presenter), 1);
    }
}

TEST_F(FrameSlotTest, BlockGrowsToExactlyTheLargerFrameAndIsReused) {
    struct Step {
        int width;
        int height;
        int stride;
        uint64_t capacityAfter;
        bool sameBlock;  // as after the step before
    };
    const Step steps[] = {
        {16, 8, 64, 512, false},    {16, 8, 64, 512, true},  // the same size allocates nothing
        {32, 16, 160, 2560, false},  // padded rows: height x stride, not width x 4
        {8, 4, 32, 2560, true},      // smaller: reused, not shrunk
        {30, 17, 150, 2560, true},   // 2550 bytes still fit
        {30, 17, 152, 2584, false},
    };
    const unsigned char* previous = nullptr;
    unsigned char seed = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.capacityAfter);
        const size_t bytes = static_cast<size_t>(step.height) * step.stride;
        std::vector<unsigned char> frame = Bytes(bytes, ++seed);
        StoreFrame(slot, window, frame.data(), step.width, step.height, step.stride);
        ASSERT_NE(slot.pixels, nullptr);
        EXPECT_EQ(slot.capacity, step.capacityAfter);
        if (step.sameBlock) {
            EXPECT_EQ(slot.pixels.get(), previous);
        }
        EXPECT_EQ(std::memcmp(slot.pixels.get(), frame.data(), bytes), 0);
        EXPECT_EQ(slot.width, step.width);
        EXPECT_EQ(slot.height, step.height);
        EXPECT_EQ(slot.strideBytes, step.stride);
        EXPECT_TRUE(slot.pending);
        previous = slot.pixels.get();
    }
    EXPECT_EQ(TakeNotifications(), 1);

    FreeFramePixels(slot);
    EXPECT_EQ(slot.pixels, nullptr);
    EXPECT_EQ(slot.capacity, 0u);
    EXPECT_FALSE(slot.pending);
}

}  // namespace
