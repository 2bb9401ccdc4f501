// The frame hand-off with the main thread drawing outside the slot's lock: a worker that
// stores a frame while the main thread is inside Present neither waits for it nor touches
// the block being drawn, and a steady stream of frames lives in two blocks.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include <windows.h>

#include "frame_presenter.h"
#include "frame_slot.h"
#include "host_kind.h"
#include "host_window.h"
#include "win_types.h"

namespace {

// Holds the drawing thread inside Present until the test lets it go.
class BlockingPresenter : public FramePresenter {
public:
    UniqueHandle entered{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle release{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    int presents = 0;

protected:
    void Present() override {
        ++presents;
        SetEvent(entered.Get());
        WaitForSingleObject(release.Get(), 10000);
        FramePresenter::Present();
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

std::vector<unsigned char> Frame(size_t bytes, unsigned char seed) {
    std::vector<unsigned char> data(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        data[i] = static_cast<unsigned char>(i * 13 + seed);
    }
    return data;
}

class FrameHandoffTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CreateHostWindow(GetModuleHandleW(nullptr), TraitsOf(HostKind::Tivane), 320,
                                     180, window));
    }
    void TearDown() override {
        FreeFramePixels(slot);
        DestroyHostWindow(window);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    HWND window = nullptr;
    FrameSlot slot;
};

TEST_F(FrameHandoffTest, WorkerStoresWhileMainThreadPresents) {
    BlockingPresenter presenter;
    ASSERT_TRUE(presenter.Initialize(window));
    const size_t bytes = 64 * 4 * 32;
    std::vector<unsigned char> first = Frame(bytes, 1);
    std::vector<unsigned char> second = Frame(bytes, 2);
    StoreFrame(slot, window, first.data(), 64, 32, 64 * 4);

    DrawJob job{&slot, &presenter};
    UniqueHandle drawer(CreateThread(nullptr, 0, &DrawMain, &job, 0, nullptr));
    ASSERT_TRUE(WaitPumping(presenter.entered.Get(), 10000));

    // The drawing thread is inside Present: the store must not wait for it (it would
    // block for the full 10 s if the lock were held across the draw).
    DWORD before = GetTickCount();
    StoreFrame(slot, window, second.data(), 64, 32, 64 * 4);
    EXPECT_LT(GetTickCount() - before, 5000u);
    EXPECT_TRUE(slot.pending);
    EXPECT_EQ(std::memcmp(slot.pixels.get(), second.data(), bytes), 0);
    // The block being drawn still holds the first frame.
    EXPECT_EQ(std::memcmp(slot.drawPixels.get(), first.data(), bytes), 0);
    EXPECT_NE(slot.pixels.get(), slot.drawPixels.get());

    SetEvent(presenter.release.Get());
    ASSERT_TRUE(WaitPumping(drawer.Get(), 10000));
    DrawPendingFrame(slot, presenter);  // the newer frame, taken and drawn next
    EXPECT_EQ(presenter.presents, 2);
    EXPECT_FALSE(slot.pending);
    EXPECT_EQ(std::memcmp(slot.drawPixels.get(), second.data(), bytes), 0);
}

TEST_F(FrameHandoffTest, BlocksAreSwappedNotCopiedOrReallocated) {
    FramePresenter presenter;
    ASSERT_TRUE(presenter.Initialize(window));
    struct Step {
        int width;
        int height;
        bool draw;                // the main thread takes the frame after the store
        uint64_t workerCapacity;  // after the step
        uint64_t drawCapacity;
    };
    const Step steps[] = {
        {16, 8, true, 0, 512},    // taken: the worker has no block yet
        {16, 8, true, 512, 512},  // a second block appears, then the two alternate
        {16, 8, true, 512, 512},   {16, 8, false, 512, 512},
        {32, 16, true, 512, 2048},  // larger: the worker's block grows to exactly it
        {8, 4, true, 2048, 512},    // smaller: the block drawn last is reused, not shrunk
        {8, 4, true, 512, 2048},
    };
    std::set<const unsigned char*> blocks;
    unsigned char seed = 0;
    int index = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(index++);
        const size_t bytes = static_cast<size_t>(step.width) * 4 * step.height;
        std::vector<unsigned char> frame = Frame(bytes, ++seed);
        StoreFrame(slot, window, frame.data(), step.width, step.height, step.width * 4);
        if (step.draw) {
            DrawPendingFrame(slot, presenter);
            ASSERT_NE(slot.drawPixels, nullptr);
            EXPECT_EQ(std::memcmp(slot.drawPixels.get(), frame.data(), bytes), 0);
            EXPECT_EQ(presenter.textureWidth(), step.width);
        }
        EXPECT_EQ(slot.capacity, step.workerCapacity);
        EXPECT_EQ(slot.drawCapacity, step.drawCapacity);
        EXPECT_EQ(slot.pending, !step.draw);
        if (index <= 4) {
            blocks.insert(slot.pixels.get());
            blocks.insert(slot.drawPixels.get());
        }
    }
    blocks.erase(nullptr);
    EXPECT_EQ(blocks.size(), 2u);  // same-sized frames: two blocks, nothing more

    FreeFramePixels(slot);
    EXPECT_EQ(slot.pixels, nullptr);
    EXPECT_EQ(slot.drawPixels, nullptr);
    EXPECT_EQ(slot.capacity + slot.drawCapacity, 0u);
    EXPECT_FALSE(slot.pending);
}

}  // namespace
