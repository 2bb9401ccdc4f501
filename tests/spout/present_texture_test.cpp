// PresentTexture and the texture slot under Wine: what reaches the back buffer, read back
// pixel for pixel before each present; copy-target reuse and recreation; window and swap
// chain following the texture's real size; textures that cannot be drawn.
#include <gtest/gtest.h>

#include <vector>

#include <d3d11.h>
#include <wrl/client.h>

#include "host_kind.h"
#include "host_window.h"
#include "readback_presenter.h"
#include "test_texture.h"
#include "test_pattern.h"
#include "texture_slot.h"

using Microsoft::WRL::ComPtr;

namespace {

class PresentTextureTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CreateHostWindow(GetModuleHandleW(nullptr), TraitsOf(HostKind::Grelm), 320, 180,
                                     window_));
        ASSERT_TRUE(presenter_.Initialize(window_));
    }
    void TearDown() override {
        presenter_.ReleaseResources();
        DestroyHostWindow(window_);
    }

    ComPtr<ID3D11Texture2D> MakeSource(PatternFormat format, int width, int height, int frame = 0) {
        std::vector<unsigned char> pixels = RenderPattern(format, width, height, frame);
        return MakeRaw(static_cast<DXGI_FORMAT>(format), width, height, pixels.data(),
                       width * BytesPerPixel(format));
    }
    ComPtr<ID3D11Texture2D> MakeRaw(DXGI_FORMAT format, int width, int height, const void* pixels,
                                    int pitch) {
        return MakeTestTexture(presenter_.device(), format, width, height, pixels, pitch);
    }

    // Counts pixels of the last read-back that differ from the picture by more than
    // `tolerance` in a channel.
    int Mismatches(int width, int height, int frame, int tolerance = 0) {
        EXPECT_EQ(presenter_.width, width);
        EXPECT_EQ(presenter_.height, height);
        if (presenter_.width != width || presenter_.height != height) {
            return -1;
        }
        int wrong = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const Bgra want = PatternPixel(x, y, frame);
                const unsigned char* got =
                    &presenter_.picture[(static_cast<size_t>(y) * width + x) * 4];
                if (abs(want.b - got[0]) > tolerance || abs(want.g - got[1]) > tolerance ||
                    abs(want.r - got[2]) > tolerance || abs(want.a - got[3]) > tolerance) {
                    ++wrong;
                }
            }
        }
        return wrong;
    }
    void ExpectWindowSize(int width, int height) {
        RECT rect = {};
        GetWindowRect(window_, &rect);
        EXPECT_EQ(rect.right - rect.left, width);
        EXPECT_EQ(rect.bottom - rect.top, height);
        EXPECT_EQ(presenter_.backBufferWidth(), width);
        EXPECT_EQ(presenter_.backBufferHeight(), height);
    }
    DXGI_FORMAT TargetFormat() {
        D3D11_TEXTURE2D_DESC desc = {};
        presenter_.frameTexture()->GetDesc(&desc);
        return desc.Format;
    }

    HWND window_ = nullptr;
    ReadbackPresenter presenter_;
};

TEST_F(PresentTextureTest, ShowsTheSenderPixelForPixelAndFollowsItsSize) {
    ComPtr<ID3D11Texture2D> hd = MakeSource(PatternFormat::B8G8R8A8, 1280, 720, 3);
    ASSERT_TRUE(presenter_.PresentTexture(hd.Get(), 1280, 720));
    EXPECT_EQ(TargetFormat(), DXGI_FORMAT_B8G8R8A8_UNORM);
    EXPECT_EQ(Mismatches(1280, 720, 3), 0);
    ExpectWindowSize(1280, 720);

    ComPtr<ID3D11Texture2D> large = MakeSource(PatternFormat::B8G8R8A8, 1920, 1080, 4);
    ASSERT_TRUE(presenter_.PresentTexture(large.Get(), 1920, 1080));
    EXPECT_EQ(Mismatches(1920, 1080, 4), 0);
    ExpectWindowSize(1920, 1080);
}

TEST_F(PresentTextureTest, DrawsOtherColourFormatsWithTheirChannelsInPlace) {
    const PatternFormat formats[] = {PatternFormat::R8G8B8A8, PatternFormat::R10G10B10A2,
                                     PatternFormat::R16G16B16A16Float,
                                     PatternFormat::R32G32B32A32Float};
    for (PatternFormat format : formats) {
        SCOPED_TRACE(static_cast<int>(format));
        ComPtr<ID3D11Texture2D> source = MakeSource(format, 256, 128, 7);
        ASSERT_TRUE(source);
        ASSERT_TRUE(presenter_.PresentTexture(source.Get(), 256, 128));
        EXPECT_EQ(TargetFormat(), static_cast<DXGI_FORMAT>(format));
        EXPECT_EQ(Mismatches(256, 128, 7, 1), 0);
    }
}

TEST_F(PresentTextureTest, FollowsTheTexturesRealSizeOverTheAnnouncedOne) {
    ComPtr<ID3D11Texture2D> source = MakeSource(PatternFormat::R8G8B8A8, 800, 600, 1);
    ASSERT_TRUE(presenter_.PresentTexture(source.Get(), 640, 360));
    EXPECT_EQ(Mismatches(800, 600, 1), 0);
    ExpectWindowSize(800, 600);
}

TEST_F(PresentTextureTest, RecreatesTheCopyTargetOnlyWhenFormatOrSizeChange) {
    ComPtr<ID3D11Texture2D> bgra = MakeSource(PatternFormat::B8G8R8A8, 320, 240);
    ComPtr<ID3D11Texture2D> rgba = MakeSource(PatternFormat::R8G8B8A8, 320, 240);
    ASSERT_TRUE(presenter_.PresentTexture(bgra.Get(), 320, 240));
    ComPtr<ID3D11Texture2D> first = presenter_.frameTexture();  // kept: no address reuse
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(presenter_.PresentTexture(bgra.Get(), 320, 240));
    }
    EXPECT_EQ(presenter_.frameTexture(), first.Get());
    ASSERT_TRUE(presenter_.PresentTexture(rgba.Get(), 320, 240));
    ComPtr<ID3D11Texture2D> second = presenter_.frameTexture();
    EXPECT_NE(second.Get(), first.Get());
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(presenter_.PresentTexture(rgba.Get(), 320, 240));
    }
    EXPECT_EQ(presenter_.frameTexture(), second.Get());
    EXPECT_EQ(Mismatches(320, 240, 0), 0);
}

TEST_F(PresentTextureTest, KeepsTheLastPictureForTexturesItCannotDraw) {
    ComPtr<ID3D11Texture2D> good = MakeSource(PatternFormat::B8G8R8A8, 320, 240, 2);
    ASSERT_TRUE(presenter_.PresentTexture(good.Get(), 320, 240));
    ID3D11Texture2D* target = presenter_.frameTexture();
    const int presents = presenter_.presents;

    std::vector<unsigned char> zeros(640 * 480 * 4);
    ComPtr<ID3D11Texture2D> typeless =
        MakeRaw(DXGI_FORMAT_R8G8B8A8_TYPELESS, 640, 480, zeros.data(), 640 * 4);
    ComPtr<ID3D11Texture2D> integer =
        MakeRaw(DXGI_FORMAT_R8G8B8A8_UINT, 640, 480, zeros.data(), 640 * 4);
    for (ID3D11Texture2D* refused : {typeless.Get(), integer.Get()}) {
        ASSERT_NE(refused, nullptr);
        EXPECT_FALSE(presenter_.PresentTexture(refused, 640, 480));
    }
    EXPECT_EQ(presenter_.frameTexture(), target);
    EXPECT_EQ(presenter_.presents, presents);
    ExpectWindowSize(320, 240);
}

TEST_F(PresentTextureTest, SlotKeepsItsOwnReferenceUntilPresented) {
    TextureSlot slot;
    ComPtr<ID3D11Texture2D> source = MakeSource(PatternFormat::B8G8R8A8, 160, 90, 5);
    StoreTexture(slot, window_, source.Get(), 160, 90);
    ID3D11Texture2D* raw = source.Get();
    source.Reset();  // the receiver lets go before the main thread gets to it
    raw->AddRef();
    EXPECT_EQ(raw->Release(), 1u);  // only the slot holds it now

    ComPtr<ID3D11Texture2D> newer = MakeSource(PatternFormat::B8G8R8A8, 160, 90, 6);
    StoreTexture(slot, window_, newer.Get(), 160, 90);  // replaces (and releases) it
    PresentPendingTexture(slot, presenter_);
    EXPECT_EQ(Mismatches(160, 90, 6), 0);
    EXPECT_FALSE(slot.pending);
    EXPECT_EQ(slot.texture, nullptr);

    const int presents = presenter_.presents;
    PresentPendingTexture(slot, presenter_);  // a surplus notification does nothing
    EXPECT_EQ(presenter_.presents, presents);
}

}  // namespace
