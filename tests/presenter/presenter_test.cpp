// The CPU-frame path of the presenter on a real device and window: what reaches the back
// buffer, how texture, swap chain and window follow the frame size, and what a refused
// frame or an empty notification leaves alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "frame_slot.h"
#include "presenter_support.h"

namespace {

// Counts completed window moves and sizings of the one test window at a time.
int gPositionChanges = 0;
WNDPROC gHostProc = nullptr;

LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_WINDOWPOSCHANGED) {
        ++gPositionChanges;
    }
    return CallWindowProcW(gHostProc, window, message, wParam, lParam);
}

class PresenterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(window.Get(), nullptr);
        ASSERT_TRUE(presenter.Initialize(window.Get()));
        gHostProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
            window.Get(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingProc)));
        gPositionChanges = 0;
    }

    // Uploads and draws a tight patterned frame; true when both happened.
    bool Show(int width, int height, int seed) {
        GuardedFrame frame(width, height, width * 4, seed);
        if (!presenter.UploadFrame(frame.Data(), width, height, width * 4)) {
            return false;
        }
        presenter.Render();
        return true;
    }

    void ExpectSizes(int width, int height) {
        EXPECT_EQ(presenter.textureWidth(), width);
        EXPECT_EQ(presenter.textureHeight(), height);
        EXPECT_EQ(presenter.backBufferWidth(), width);
        EXPECT_EQ(presenter.backBufferHeight(), height);
        D3D11_TEXTURE2D_DESC desc = {};
        presenter.frameTexture()->GetDesc(&desc);
        EXPECT_EQ(desc.Width, static_cast<UINT>(width));
        EXPECT_EQ(desc.Height, static_cast<UINT>(height));
        presenter.BackBuffer()->GetDesc(&desc);
        EXPECT_EQ(desc.Width, static_cast<UINT>(width));
        EXPECT_EQ(desc.Height, static_cast<UINT>(height));
        RECT client = window.Client();
        EXPECT_EQ(client.right - client.left, width);
        EXPECT_EQ(client.bottom - client.top, height);
    }

    TestWindow window{320, 180};
    ReadbackPresenter presenter;
};

TEST_F(PresenterTest, EveryStrideShapeReachesTheBackBufferPixelForPixel) {
    struct Case {
        const char* name;
        int width;
        int height;
        int stride;
    };
    const Case cases[] = {
        {"stride equals width x 4", 320, 180, 320 * 4},
        {"padded rows: padding never reaches the texture", 100, 60, 100 * 4 + 36},
        {"short rows: only stride bytes per row", 64, 40, 64 * 4 - 40},
        {"width not a multiple of 4", 37, 23, 37 * 4},
        {"odd width with padding", 21, 9, 21 * 4 + 4},
        {"single column", 1, 17, 4},
    };
    int seed = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++seed;
        GuardedFrame frame(c.width, c.height, c.stride, seed);
        const int presentsBefore = presenter.presents;
        ASSERT_TRUE(presenter.UploadFrame(frame.Data(), c.width, c.height, c.stride));
        presenter.Render();
        ASSERT_EQ(presenter.presents, presentsBefore + 1);
        const int checked = std::min(c.stride, c.width * 4);
        EXPECT_EQ(CountMismatches(presenter, c.width, c.height, checked, seed), 0u);
    }
}

TEST_F(PresenterTest, TextureSwapChainAndWindowFollowTheFrameSize) {
    EXPECT_EQ(presenter.backBufferWidth(), 320);
    EXPECT_EQ(presenter.backBufferHeight(), 180);
    EXPECT_EQ(presenter.frameTexture(), nullptr);
    // Away from (0, 0), so that a resize that also moves the window shows.
    SetWindowPos(window.Get(), nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    const RECT start = window.Rect();
    ASSERT_EQ(start.left, 40);
    ASSERT_EQ(start.top, 30);

    ASSERT_TRUE(Show(320, 180, 1));
    ExpectSizes(320, 180);
    EXPECT_EQ(CountMismatches(presenter, 320, 180, 320 * 4, 1), 0u);

    ASSERT_TRUE(Show(1920, 1080, 2));
    ExpectSizes(1920, 1080);
    RECT rect = window.Rect();
    EXPECT_EQ(rect.left, 40);
    EXPECT_EQ(rect.top, 30);
    EXPECT_EQ(rect.right - rect.left, 1920);
    EXPECT_EQ(rect.bottom - rect.top, 1080);
    EXPECT_EQ(CountMismatches(presenter, 1920, 1080, 1920 * 4, 2), 0u);

    // The same size again: only map, copy, draw and present.
    ID3D11Texture2D* texture = presenter.frameTexture();
    ID3D11Texture2D* backBuffer = presenter.BackBuffer();
    gPositionChanges = 0;
    ASSERT_TRUE(Show(1920, 1080, 3));
    EXPECT_EQ(presenter.frameTexture(), texture);
    EXPECT_EQ(presenter.BackBuffer(), backBuffer);
    EXPECT_EQ(gPositionChanges, 0);
    EXPECT_EQ(CountMismatches(presenter, 1920, 1080, 1920 * 4, 3), 0u);

    ASSERT_TRUE(Show(64, 32, 4));
    ExpectSizes(64, 32);
    rect = window.Rect();
    EXPECT_EQ(rect.left, 40);
    EXPECT_EQ(rect.top, 30);
    EXPECT_EQ(CountMismatches(presenter, 64, 32, 64 * 4, 4), 0u);

    // Back up after a shrink, with targets bound by the draws in between.
    ASSERT_TRUE(Show(800, 600, 5));
    ExpectSizes(800, 600);
    EXPECT_EQ(CountMismatches(presenter, 800, 600, 800 * 4, 5), 0u);
}

TEST_F(PresenterTest, RefusedFrameChangesNothing) {
    ASSERT_TRUE(Show(64, 32, 7));
    ID3D11Texture2D* texture = presenter.frameTexture();
    const RECT rect = window.Rect();
    GuardedFrame frame(64, 32, 256, 8);

    struct Case {
        const char* name;
        const unsigned char* pixels;
        int width;
        int height;
        int stride;
    };
    const Case cases[] = {
        {"zero width", frame.Data(), 0, 32, 256},
        {"zero height", frame.Data(), 64, 0, 256},
        {"negative width", frame.Data(), -64, 32, 256},
        {"negative height", frame.Data(), 64, -32, 256},
        {"zero stride", frame.Data(), 64, 32, 0},
        {"negative stride", frame.Data(), 64, 32, -256},
        {"no pixels", nullptr, 64, 32, 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        gPositionChanges = 0;
        EXPECT_FALSE(presenter.UploadFrame(c.pixels, c.width, c.height, c.stride));
        EXPECT_EQ(presenter.frameTexture(), texture);
        EXPECT_EQ(presenter.textureWidth(), 64);
        EXPECT_EQ(presenter.textureHeight(), 32);
        EXPECT_EQ(presenter.backBufferWidth(), 64);
        EXPECT_EQ(presenter.backBufferHeight(), 32);
        EXPECT_EQ(gPositionChanges, 0);
        const RECT now = window.Rect();
        EXPECT_TRUE(EqualRect(&now, &rect));
        // The texture still holds the last accepted picture.
        presenter.Render();
        EXPECT_EQ(CountMismatches(presenter, 64, 32, 64 * 4, 7), 0u);
    }
}

TEST_F(PresenterTest, NotificationWithoutPendingFrameDrawsNothing) {
    FrameSlot slot;
    DrawPendingFrame(slot, presenter);
    presenter.Render();
    EXPECT_EQ(presenter.presents, 0) << "nothing to draw before the first frame";

    GuardedFrame frame(48, 24, 48 * 4, 9);
    StoreFrame(slot, window.Get(), frame.Data(), 48, 24, 48 * 4);
    DrawPendingFrame(slot, presenter);
    ASSERT_EQ(presenter.presents, 1);
    EXPECT_EQ(CountMismatches(presenter, 48, 24, 48 * 4, 9), 0u);

    DrawPendingFrame(slot, presenter);
    EXPECT_EQ(presenter.presents, 1) << "a second notification for the same frame";

    // A stored frame the presenter refuses is dropped; the last picture stays.
    GuardedFrame other(16, 8, 64, 10);
    StoreFrame(slot, window.Get(), other.Data(), 0, 8, 64);
    ASSERT_TRUE(slot.pending);
    DrawPendingFrame(slot, presenter);
    EXPECT_FALSE(slot.pending);
    EXPECT_EQ(presenter.presents, 1);
    EXPECT_EQ(presenter.textureWidth(), 48);
    presenter.Render();
    EXPECT_EQ(CountMismatches(presenter, 48, 24, 48 * 4, 9), 0u);
    FreeFramePixels(slot);
}

}  // namespace
