// The frame hand-off with the main thread drawing outside the slot's lock: a worker that
// stores frames while the main thread is inside Present neither waits for it nor touches
// the texture being drawn, and a steady stream of frames lives in the ring's textures,
// with a block only for a frame of a new size.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>

#include <windows.h>

#include "frame_slot.h"
#include "host_kind.h"
#include "host_window.h"
#include "presenter_support.h"
#include "win_types.h"

namespace {

// Holds the drawing thread inside Present (after the draw was issued, before the back
// buffer is read back) until the test lets it go; only when `hold` is set.
class BlockingPresenter : public ReadbackPresenter {
public:
    UniqueHandle entered{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    bool hold = false;

protected:
    void Present() override {
        if (hold) {
            SetEvent(entered.Get());
            WaitForSingleObject(release.Get(), 10000);
        }
        ReadbackPresenter::Present();
    }
};

struct DrawJob {
    FrameSlot* slot;
    FramePresenter* presenter;
};

DWORD WINAPI DrawMain(LPVOID context) {
    auto* job = static_cast<DrawJob*>(context);
    DrawPendingFrame(*job->slot, *job->presenter);
    return 0;
}

// Waits while answering messages: the drawing thread's window and swap-chain calls may
// send to the window, which belongs to the test thread.
bool WaitPumping(HANDLE handle, DWORD milliseconds) {
    DWORD deadline = GetTickCount() + milliseconds;
    for (;;) {
        DWORD left = deadline - GetTickCount();
        if (static_cast<int>(left) <= 0) {
            return false;
        }
        DWORD result = MsgWaitForMultipleObjects(1, &handle, FALSE, left, QS_ALLINPUT);
        if (result == WAIT_OBJECT_0) {
            return true;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != kFrameNotification) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        }
    }
}

class FrameHandoffTest : public ::testing::Test {
protected:
    void TearDown() override { FreeFramePixels(slot); }

    void Store(const GuardedFrame& frame) {
        StoreFrame(slot, window.Get(), frame.Data(), frame.width(), frame.height(), frame.stride());
    }
    // The slot's textures: how many, and whether all are live and of the given size.
    bool RingOf(int width, int height) {
        std::lock_guard<std::mutex> lock(slot.lock);
        return slot.textures.size() == static_cast<size_t>(kRingTextures) &&
               std::all_of(slot.textures.begin(), slot.textures.end(), [&](const auto& texture) {
                   return texture->live && texture->width == width && texture->height == height;
               });
    }

    TestWindow window{320, 180};
    FrameSlot slot;
};

TEST_F(FrameHandoffTest, WorkerStoresWhileMainThreadPresentsAndNeverTouchesTheDrawnTexture) {
    BlockingPresenter presenter;
    ASSERT_TRUE(presenter.Initialize(window.Get()));
    GuardedFrame first(64, 32, 64 * 4, 1);
    GuardedFrame second(64, 32, 64 * 4, 2);
    Store(first);  // through the block; its draw starts the ring
    DrawPendingFrame(slot, presenter);
    ASSERT_TRUE(RingOf(64, 32));
    Store(second);
    ASSERT_NE(slot.ready, nullptr) << "the second frame goes into a texture of the ring";

    presenter.hold = true;
    DrawJob job{&slot, &presenter};
    UniqueHandle drawer(CreateThread(nullptr, 0, &DrawMain, &job, 0, nullptr));
    ASSERT_TRUE(WaitPumping(presenter.entered.Get(), 10000));
    ID3D11Texture2D* drawn = presenter.frameTexture();

    // The drawing thread is inside Present: more frames than the ring has textures are
    // stored without waiting for it (a store would block for the full 10 s if the lock
    // were held across the draw), and none of them lands in the texture being drawn.
    DWORD before = GetTickCount();
    for (int seed = 3; seed <= 3 + kRingTextures; ++seed) {
        Store(GuardedFrame(64, 32, 64 * 4, seed));
        ASSERT_NE(slot.ready, nullptr);
        EXPECT_NE(static_cast<FrameTexture*>(slot.ready)->texture.Get(), drawn);
    }
    EXPECT_LT(GetTickCount() - before, 5000u);

    SetEvent(presenter.release.Get());
    ASSERT_TRUE(WaitPumping(drawer.Get(), 10000));
    EXPECT_EQ(presenter.presents, 2);
    EXPECT_EQ(CountMismatches(presenter, 64, 32, 64 * 4, 2), 0u) << "the frame drawn then";

    presenter.hold = false;
    DrawPendingFrame(slot, presenter);  // the newest frame, taken and drawn next
    EXPECT_EQ(presenter.presents, 3);
    EXPECT_FALSE(slot.pending);
    EXPECT_NE(presenter.frameTexture(), drawn);
    EXPECT_EQ(CountMismatches(presenter, 64, 32, 64 * 4, 3 + kRingTextures), 0u);
    presenter.Render();  // drawn again: the shown texture stays as it was
    EXPECT_EQ(CountMismatches(presenter, 64, 32, 64 * 4, 3 + kRingTextures), 0u);
}

TEST_F(FrameHandoffTest, ASteadyStreamLivesInTheRingAndOnlyANewSizePassesThroughABlock) {
    ReadbackPresenter presenter;
    ASSERT_TRUE(presenter.Initialize(window.Get()));
    struct Step {
        int width;
        int height;
        int stride;
        bool draw;    // the main thread takes the frame after the store
        bool inRing;  // the store wrote into a texture of the ring, not into the block
    };
    const Step steps[] = {
        {16, 8, 64, true, false},  // the first frame: no ring yet
        {16, 8, 64, true, true},    {16, 8, 64, true, true},
        {16, 8, 64, false, true},   {16, 8, 64, true, true},  // replaces a pending frame
        {16, 8, 64, true, true},    {16, 8, 64, true, true},
        {32, 16, 160, true, false},  // a new size (padded rows): a block, then a new ring
        {32, 16, 160, true, true},  {8, 4, 32, true, false},  // smaller: again a block first
        {8, 4, 32, true, true},
    };
    std::set<ID3D11Texture2D*> drawnAt16x8;
    int seed = 0;
    int index = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(index++);
        GuardedFrame frame(step.width, step.height, step.stride, ++seed);
        Store(frame);
        EXPECT_EQ(slot.ready != nullptr, step.inRing);
        if (!step.draw) {
            continue;
        }
        const int presents = presenter.presents;
        DrawPendingFrame(slot, presenter);
        ASSERT_EQ(presenter.presents, presents + 1);
        EXPECT_EQ(CountMismatches(presenter, step.width, step.height, step.width * 4, seed), 0u);
        // Every texture is of the newest size: the older ring is gone, and the blocks too.
        EXPECT_TRUE(RingOf(step.width, step.height));
        EXPECT_EQ(slot.pixels, nullptr);
        EXPECT_EQ(slot.drawPixels, nullptr);
        EXPECT_EQ(slot.capacity + slot.drawCapacity, 0u);
        if (step.width == 16) {
            drawnAt16x8.insert(presenter.frameTexture());
        }
    }
    EXPECT_EQ(drawnAt16x8.size(), static_cast<size_t>(kRingTextures));

    FreeFramePixels(slot);
    EXPECT_TRUE(slot.textures.empty());
    EXPECT_EQ(slot.ready, nullptr);
    EXPECT_FALSE(slot.pending);
}

}  // namespace
