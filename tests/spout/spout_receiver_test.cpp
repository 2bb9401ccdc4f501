// SpoutReceiver under Wine: the record rule on real file mappings, the worker's status
// sequences, the real (failing) shared-texture open, and the connected path through an
// opener stand-in that hands out textures created here.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <d3d11.h>
#include <wrl/client.h>

#include "spout_receiver.h"
#include "test_texture.h"
#include "timing.h"
#include "win_types.h"

using Microsoft::WRL::ComPtr;

namespace {

// A sender record the test writes itself.
class FakeSender {
public:
    explicit FakeSender(std::string name, DWORD bytes = kSenderMappingBytes)
        : name_(std::move(name)),
          mapping_(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, bytes,
                                      name_.c_str())) {}
    void Write(uint32_t handle, uint32_t width, uint32_t height) {
        void* view = MapViewOfFile(mapping_.Get(), FILE_MAP_WRITE, 0, 0, kSenderRecordBytes);
        ASSERT_NE(view, nullptr);
        SenderRecord record;
        record.handle = handle;
        record.width = width;
        record.height = height;
        EncodeSenderRecord(record, static_cast<unsigned char*>(view));
        UnmapViewOfFile(view);
    }
    void Close() { mapping_.Reset(); }
    bool open() const { return mapping_.Valid(); }

private:
    std::string name_;
    UniqueHandle mapping_;
};

struct Report {
    std::string state;
    std::string source;
    ULONGLONG atMs;
};

// Collects what the worker reports, for checks from the test thread.
class Recorder {
public:
    StatusCallback Status() {
        return [this](const char* state, const char* source) {
            ScopedLock lock(lock_);
            reports_.push_back({state, source ? source : "", GetTickCount64()});
        };
    }
    std::vector<Report> reports() {
        ScopedLock lock(lock_);
        return reports_;
    }
    std::vector<std::string> states() {
        std::vector<std::string> result;
        for (const Report& report : reports()) {
            result.push_back(report.state);
        }
        return result;
    }
    // Waits until `count` reports have come in, or `timeoutMs` has passed.
    bool WaitFor(size_t count, int timeoutMs = 5000) {
        return WaitUntil([&] { return reports().size() >= count; }, timeoutMs);
    }

private:
    CriticalSection lock_;
    std::vector<Report> reports_;
};

ComPtr<ID3D11Device> MakeDevice() {
    ComPtr<ID3D11Device> device;
    const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
    D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1, D3D11_SDK_VERSION,
                      &device, nullptr, nullptr);
    return device;
}

std::string UniqueName(const char* base) {
    return std::string("GrelmTest_") + base + "_" + std::to_string(GetCurrentProcessId());
}

TEST(SpoutReceiverTest, ReadsOnlyValidRecordsAndTreatsBrokenMappingsAsMissing) {
    struct Case {
        uint32_t handle, width, height;
        bool valid;
    } cases[] = {
        {0x1234, 1280, 720, true},    {0x1234, 16384, 16384, true}, {0, 1280, 720, false},
        {0x1234, 0, 720, false},      {0x1234, 1280, 0, false},     {0x1234, 16385, 720, false},
        {0x1234, 1280, 16385, false},
    };
    const std::string name = UniqueName("record");
    FakeSender sender(name);
    for (const Case& c : cases) {
        sender.Write(c.handle, c.width, c.height);
        SenderRecord record;
        EXPECT_EQ(SpoutReceiver::ReadSenderRecord(name, record), c.valid)
            << c.handle << " " << c.width << "x" << c.height;
    }
    SenderRecord record;
    EXPECT_FALSE(SpoutReceiver::ReadSenderRecord(UniqueName("absent"), record));
    EXPECT_FALSE(SpoutReceiver::ReadSenderRecord("", record));
    FakeSender tooShort(UniqueName("small"), 4);
    ASSERT_TRUE(tooShort.open());
    EXPECT_FALSE(SpoutReceiver::ReadSenderRecord(UniqueName("small"), record));
}

TEST(SpoutReceiverTest, WaitsQuietlyForAMissingSenderAndStopsWithDisconnected) {
    Recorder recorder;
    auto receiver = SpoutReceiver::Create();
    receiver->SetStatusCallback(recorder.Status());
    const std::string name = UniqueName("missing");
    ASSERT_TRUE(receiver->Start(name));
    Sleep(1200);  // several 250 ms polls
    ASSERT_EQ(recorder.states(), std::vector<std::string>{"connecting"});
    EXPECT_EQ(recorder.reports()[0].source, name);

    const ULONGLONG stopAt = GetTickCount64();
    receiver->Stop();
    EXPECT_LT(GetTickCount64() - stopAt, 1000u);
    EXPECT_EQ(recorder.states(), (std::vector<std::string>{"connecting", "disconnected"}));
    EXPECT_EQ(recorder.reports()[1].source, "");
}

TEST(SpoutReceiverTest, StartWhileRunningEndsTheOldWorkerFirst) {
    Recorder recorder;
    auto receiver = SpoutReceiver::Create();
    receiver->SetStatusCallback(recorder.Status());
    ASSERT_TRUE(receiver->Start(UniqueName("first")));
    ASSERT_TRUE(recorder.WaitFor(1));
    ASSERT_TRUE(receiver->Start(UniqueName("second")));
    ASSERT_TRUE(recorder.WaitFor(3));
    receiver->Stop();
    std::vector<Report> reports = recorder.reports();
    ASSERT_EQ(recorder.states(), (std::vector<std::string>{"connecting", "disconnected",
                                                           "connecting", "disconnected"}));
    EXPECT_EQ(reports[0].source, UniqueName("first"));
    EXPECT_EQ(reports[2].source, UniqueName("second"));
}

TEST(SpoutReceiverTest, RealOpenFailsOnWineAndIsRetriedAfterOneSecond) {
    ComPtr<ID3D11Device> device = MakeDevice();
    ASSERT_TRUE(device);
    const std::string name = UniqueName("wine");
    FakeSender sender(name);
    sender.Write(0x1234, 640, 360);

    Recorder recorder;
    auto receiver = SpoutReceiver::Create();
    receiver->SetDevice(device.Get(), nullptr);
    receiver->SetStatusCallback(recorder.Status());
    ASSERT_TRUE(receiver->Start(name));
    ASSERT_TRUE(recorder.WaitFor(3));
    receiver->Stop();
    std::vector<Report> reports = recorder.reports();
    ASSERT_GE(reports.size(), 3u);
    EXPECT_EQ(reports[1].state, "error");
    EXPECT_EQ(reports[1].source, "Cannot open shared texture");
    EXPECT_EQ(reports[2].state, "connecting");
    const ULONGLONG retryMs = reports[2].atMs - reports[1].atMs;
    EXPECT_GE(retryMs, 900u);
    EXPECT_LE(retryMs, 2500u);
}

// While the presenter makes a new device the receiver has none: it waits quietly, with no
// error, and opens the sender's texture once the device is there.
TEST(SpoutReceiverTest, WithoutADeviceWaitsQuietlyUntilOneComes) {
    const std::string name = UniqueName("nodevice");
    FakeSender sender(name);
    sender.Write(0x1234, 640, 360);
    ComPtr<ID3D11Device> device = MakeDevice();
    ASSERT_TRUE(device);
    Recorder recorder;
    auto receiver = SpoutReceiver::Create();
    receiver->SetStatusCallback(recorder.Status());
    receiver->SetSharedTextureOpener(
        [&](ID3D11Device* on, HANDLE, ComPtr<ID3D11Texture2D>& texture) {
            texture = MakeTestTexture(on, DXGI_FORMAT_B8G8R8A8_UNORM, 640, 360);
            return texture != nullptr;
        });
    ASSERT_TRUE(receiver->Start(name));
    ASSERT_TRUE(recorder.WaitFor(1));
    Sleep(1500);  // longer than the pause after a failed open: an error would be here
    EXPECT_EQ(recorder.reports().size(), 1u);
    receiver->SwitchDevice(device.Get());
    ASSERT_TRUE(recorder.WaitFor(2));
    receiver->Stop();
    EXPECT_EQ(recorder.reports()[0].state, "connecting");
    EXPECT_EQ(recorder.reports()[1].state, "connected");
}

// The connected path: an opener that hands out textures made here, by handle value.
class ConnectedReceiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        device_ = MakeDevice();
        ASSERT_TRUE(device_);
        textures_[0x10] = MakeTestTexture(device_.Get(), DXGI_FORMAT_B8G8R8A8_UNORM, 640, 360);
        textures_[0x20] = MakeTestTexture(device_.Get(), DXGI_FORMAT_B8G8R8A8_UNORM, 1920, 1080);
        receiver_->SetDevice(device_.Get(), nullptr);
        receiver_->SetStatusCallback(recorder_.Status());
        receiver_->SetSharedTextureOpener(
            [this](ID3D11Device*, HANDLE handle, ComPtr<ID3D11Texture2D>& texture) {
                auto found = textures_.find(reinterpret_cast<uintptr_t>(handle));
                texture = found == textures_.end() ? nullptr : found->second;
                return texture != nullptr;
            });
        receiver_->SetTextureCallback([this](ID3D11Texture2D* texture, int width, int height) {
            {
                ScopedLock lock(lock_);
                lastTexture_ = texture;
                lastWidth_ = width;
                lastHeight_ = height;
                deliveredAtMs_.push_back(NowMs());
                ++deliveries_;
            }
            if (onDelivery_) {
                onDelivery_();
            }
        });
        receiver_->SetStatsCallback([this](float fps, int width, int height) {
            ScopedLock lock(lock_);
            lastFps_ = fps;
            statsWidth_ = width;
            statsHeight_ = height;
            ++stats_;
        });
    }
    void TearDown() override { receiver_->Stop(); }

    // Waits until a delivery of `texture` arrives.
    bool WaitForDelivery(uint32_t handle, int timeoutMs = 3000) {
        return WaitUntil(
            [&] {
                ScopedLock lock(lock_);
                return lastTexture_ == textures_.at(handle).Get();
            },
            timeoutMs);
    }
    int deliveries() {
        ScopedLock lock(lock_);
        return deliveries_;
    }
    // Milliseconds between delivery n (0-based) and the one after it.
    double DeliveryGap(int n) {
        ScopedLock lock(lock_);
        return deliveredAtMs_.at(static_cast<size_t>(n) + 1) - deliveredAtMs_.at(n);
    }

    const std::string name_ = UniqueName("connected");
    ComPtr<ID3D11Device> device_;
    std::map<uintptr_t, ComPtr<ID3D11Texture2D>> textures_;
    Recorder recorder_;
    ReceiverHandle<SpoutReceiver> receiver_ = SpoutReceiver::Create();
    CriticalSection lock_;
    ID3D11Texture2D* lastTexture_ = nullptr;
    int lastWidth_ = 0, lastHeight_ = 0, deliveries_ = 0, stats_ = 0;
    int statsWidth_ = 0, statsHeight_ = 0;
    float lastFps_ = 0.0f;
    std::vector<double> deliveredAtMs_;
    // Runs on the worker after each delivery; set before Start.
    std::function<void()> onDelivery_;
};

TEST_F(ConnectedReceiverTest, DeliversFollowsResizesAndReportsTheRate) {
    // One failed poll, armed from the worker's own delivery: the next poll is bound to
    // read the invalid record.
    std::atomic<bool> armed{false};
    UniqueHandle invalidWritten(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    FakeSender* sender = nullptr;
    onDelivery_ = [&] {
        if (armed.exchange(false)) {
            sender->Write(0, 1920, 1080);
            SetEvent(invalidWritten.Get());
        }
    };
    ASSERT_TRUE(receiver_->Start(name_));
    ASSERT_TRUE(recorder_.WaitFor(1));
    Sleep(300);  // the sender appears while the receiver waits
    FakeSender appearing(name_);
    sender = &appearing;
    const ULONGLONG appearedAt = GetTickCount64();
    sender->Write(0x10, 640, 360);
    ASSERT_TRUE(recorder_.WaitFor(2));
    EXPECT_EQ(recorder_.states(), (std::vector<std::string>{"connecting", "connected"}));
    // Found at the next of the 250 ms polls, with 1000 ms to spare for a busy machine.
    EXPECT_LE(recorder_.reports()[1].atMs - appearedAt, 1250u);
    ASSERT_TRUE(WaitForDelivery(0x10));

    sender->Write(0x20, 1920, 1080);  // resized: new handle and size
    ASSERT_TRUE(WaitForDelivery(0x20));
    {
        ScopedLock lock(lock_);
        EXPECT_EQ(lastWidth_, 1920);
        EXPECT_EQ(lastHeight_, 1080);
    }
    ASSERT_TRUE(WaitUntil(
        [&] {
            ScopedLock lock(lock_);
            return statsWidth_ == 1920 && statsHeight_ == 1080;
        },
        5000));
    {
        ScopedLock lock(lock_);
        EXPECT_GT(lastFps_, 5.0f);
        EXPECT_LT(lastFps_, 70.0f);
    }

    // One failed poll between good ones, twice: each costs the 100 ms pause and nothing
    // else. The good record goes back 50 ms after the invalid one, well inside that pause
    // after the poll ~16 ms later. A gap of 100 ms in the deliveries shows the failed poll
    // happened; a worker too slow to see the invalid record gets another try.
    int failedPolls = 0;
    for (int attempt = 0; attempt < 6 && failedPolls < 2; ++attempt) {
        armed.store(true);
        ASSERT_EQ(WaitForSingleObject(invalidWritten.Get(), 5000), WAIT_OBJECT_0);
        const int arming = deliveries() - 1;  // none follows until the record is good again
        Sleep(50);
        sender->Write(0x20, 1920, 1080);
        ASSERT_TRUE(WaitUntil([&] { return deliveries() > arming + 1; }, 5000));
        failedPolls += DeliveryGap(arming) >= 100.0 ? 1 : 0;
    }
    EXPECT_EQ(failedPolls, 2);
    EXPECT_EQ(recorder_.states(), (std::vector<std::string>{"connecting", "connected"}));
}

TEST_F(ConnectedReceiverTest, ClosedSenderReconnectsTwiceThenWaitsAgain) {
    FakeSender sender(name_);
    sender.Write(0x10, 640, 360);
    ASSERT_TRUE(receiver_->Start(name_));
    ASSERT_TRUE(WaitForDelivery(0x10));
    sender.Close();
    ASSERT_TRUE(recorder_.WaitFor(5));
    std::vector<Report> reports = recorder_.reports();
    EXPECT_EQ(recorder_.states(),
              (std::vector<std::string>{"connecting", "connected", "reconnecting", "reconnecting",
                                        "connecting"}));
    const ULONGLONG pauseMs = reports[4].atMs - reports[3].atMs;
    EXPECT_GE(pauseMs, 400u);
    EXPECT_LE(pauseMs, 1500u);
    receiver_->Stop();
    EXPECT_EQ(recorder_.states().back(), "disconnected");
}

TEST_F(ConnectedReceiverTest, UnopenableNewHandleGivesTheConnectionUp) {
    FakeSender sender(name_);
    sender.Write(0x10, 640, 360);
    ASSERT_TRUE(receiver_->Start(name_));
    ASSERT_TRUE(WaitForDelivery(0x10));
    sender.Write(0x30, 640, 360);  // the stand-in knows no 0x30
    ASSERT_TRUE(recorder_.WaitFor(4));
    std::vector<Report> reports = recorder_.reports();
    EXPECT_EQ(reports[2].state, "error");
    EXPECT_EQ(reports[2].source, "Cannot reopen shared texture");
    EXPECT_EQ(reports[3].state, "reconnecting");
    sender.Write(0x10, 640, 360);
    ASSERT_TRUE(recorder_.WaitFor(6));
    EXPECT_EQ(recorder_.reports()[4].state, "connecting");
    EXPECT_EQ(recorder_.reports()[5].state, "connected");
}

}  // namespace
