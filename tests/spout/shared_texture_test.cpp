// Grelm's receiving side against a real sender in another process: the test sender shares
// a Direct3D 11 texture and publishes its record; the Spout receiver opens that texture,
// the texture slot hands it to the main thread, and the presenter shows it, read back
// pixel for pixel. Windows only: Wine cannot open a texture that another process shares.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>
#include <string>

#include <windows.h>

#include "child_process.h"
#include "host_kind.h"
#include "host_window.h"
#include "platform.h"
#include "readback_presenter.h"
#include "spout_receiver.h"
#include "test_files.h"
#include "test_pattern.h"
#include "texture_slot.h"

namespace {

struct SenderCase {
    const char* format;  // the sender's --format
    int width;
    int height;
    int tolerance;  // per channel: formats other than BGRA 8-bit are converted on the way
};

std::string Label(const SenderCase& sender) {
    return std::string(sender.format) + "_" + std::to_string(sender.width) + "x" +
           std::to_string(sender.height);
}

// Named by Label in test names and messages, not printed byte by byte.
void PrintTo(const SenderCase& sender, std::ostream* out) {
    *out << Label(sender);
}

std::string CaseName(const testing::TestParamInfo<SenderCase>& info) {
    return Label(info.param);
}

// Pixels of the last read-back that differ from the sender's first picture by more than
// the tolerance; -1 while the read-back has another size.
int Mismatches(const ReadbackPresenter& presenter, const SenderCase& sender) {
    if (presenter.width != sender.width || presenter.height != sender.height) {
        return -1;
    }
    int wrong = 0;
    for (int y = 0; y < sender.height; ++y) {
        for (int x = 0; x < sender.width; ++x) {
            const Bgra want = PatternPixel(x, y, 0);
            const unsigned char* got =
                &presenter.picture[(static_cast<size_t>(y) * sender.width + x) * 4];
            if (std::abs(want.b - got[0]) > sender.tolerance ||
                std::abs(want.g - got[1]) > sender.tolerance ||
                std::abs(want.r - got[2]) > sender.tolerance ||
                std::abs(want.a - got[3]) > sender.tolerance) {
                ++wrong;
            }
        }
    }
    return wrong;
}

class SharedTextureTest : public testing::TestWithParam<SenderCase> {
protected:
    void SetUp() override {
        if (RunningUnderWine()) {
            GTEST_SKIP() << "needs Windows: Wine cannot share a Direct3D 11 texture between "
                            "processes (no shared handle, and OpenSharedResource fails)";
        }
        ASSERT_TRUE(CreateHostWindow(GetModuleHandleW(nullptr), TraitsOf(HostKind::Grelm), 320, 180,
                                     window_));
        ASSERT_TRUE(presenter_.Initialize(window_));
        receiver_->SetDevice(presenter_.device(), presenter_.context());
        receiver_->SetTextureCallback([this](ID3D11Texture2D* texture, int width, int height) {
            StoreTexture(slot_, window_, texture, width, height);
        });
    }
    void TearDown() override {
        receiver_->Stop();
        sender_.End();
        ReleaseTextures(slot_);
        presenter_.ReleaseResources();
        DestroyHostWindow(window_);
    }

    // The host's main loop, reduced: frame notifications present the pending texture.
    bool PumpUntil(const SenderCase& sender, DWORD timeoutMs) {
        const ULONGLONG deadline = GetTickCount64() + timeoutMs;
        while (GetTickCount64() < deadline) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.message == kFrameNotification) {
                    PresentPendingTexture(slot_, presenter_);
                    continue;
                }
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            if (Mismatches(presenter_, sender) == 0) {
                return true;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
        return false;
    }

    HWND window_ = nullptr;
    ReadbackPresenter presenter_;
    TextureSlot slot_;
    ReceiverHandle<SpoutReceiver> receiver_ =
        SpoutReceiver::Create();  // declared last: stops before the slot and presenter go
    ChildProcess sender_;
};

TEST_P(SharedTextureTest, ShowsTheSendersPicturePixelForPixel) {
    const SenderCase& sender = GetParam();
    const std::string name =
        "GrelmSharedTexture_" + std::to_string(GetCurrentProcessId()) + "_" + Label(sender);
    const std::string size = std::to_string(sender.width) + "x" + std::to_string(sender.height);
    // The sender draws its first picture once, then keeps it still: a moving picture could
    // be caught halfway through an update, since nothing orders the two processes' work.
    ASSERT_TRUE(sender_.Start("\"" + ExeDir() + "spout_sender.exe\" --name=" + name +
                              " --format=" + sender.format + " --size=" + size + " --hold=60000"));
    ASSERT_TRUE(receiver_->Start(name));

    const bool shown = PumpUntil(sender, 20000);
    EXPECT_TRUE(shown) << "last picture: " << presenter_.width << "x" << presenter_.height << ", "
                       << Mismatches(presenter_, sender) << " pixels differ";
    RECT rect = {};
    GetWindowRect(window_, &rect);
    EXPECT_EQ(rect.right - rect.left, sender.width);
    EXPECT_EQ(rect.bottom - rect.top, sender.height);
}

INSTANTIATE_TEST_SUITE_P(Senders, SharedTextureTest,
                         testing::Values(SenderCase{"bgra8", 1280, 720, 0},
                                         SenderCase{"rgba8", 640, 360, 1}),
                         CaseName);

}  // namespace
