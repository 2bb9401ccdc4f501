// Surviving a lost graphics device. Wine cannot remove a device for real, so the
// presenter's calls are made to answer with the removal and reset codes; everything else
// is real: the rebuild on the same window, the pictures read back after it (pixel rows and
// shared textures), the reports the controller reads from the pipe, and a Spout worker that
// follows the switch to the new device.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <vector>

#include <d3d11.h>
#include <wrl/client.h>

#include "cpu_frame_receiver.h"
#include "device_recovery.h"
#include "pipe_client.h"
#include "presenter_support.h"
#include "spout_receiver.h"
#include "status_relay.h"
#include "test_pattern.h"
#include "test_pipe_server.h"
#include "test_texture.h"
#include "texture_slot.h"
#include "timing.h"

using Microsoft::WRL::ComPtr;

namespace {

// A ReadbackPresenter whose chosen calls answer with a loss code the next `count` times.
class LosingPresenter : public ReadbackPresenter {
public:
    void Fail(PresenterCall call, HRESULT code, int count = 1) { faults_[call] = {code, count}; }

protected:
    HRESULT Result(PresenterCall call, HRESULT result) override {
        auto fault = faults_.find(call);
        if (fault == faults_.end() || fault->second.count == 0) {
            return result;
        }
        --fault->second.count;
        return fault->second.code;
    }

private:
    struct Fault {
        HRESULT code;
        int count;
    };
    std::map<PresenterCall, Fault> faults_;
};

bool ShowFrame(FramePresenter& presenter, int width, int height, int seed) {
    GuardedFrame frame(width, height, width * 4, seed);
    if (!presenter.UploadFrame(frame.Data(), width, height, width * 4)) {
        return false;
    }
    presenter.Render();
    return true;
}

int ClientWidth(const TestWindow& window) {
    RECT client = window.Client();
    return client.right - client.left;
}

TEST(DeviceLoss, EachCallThatReportsALossIsRecoveredAndThePictureComesBack) {
    struct Case {
        const char* what;
        PresenterCall call;
        HRESULT code;
        int width;  // of the frame that meets the loss: a new size reaches texture creation
        int height;
    };
    const Case cases[] = {
        {"Present removed", PresenterCall::Present, DXGI_ERROR_DEVICE_REMOVED, 64, 32},
        {"Map reset", PresenterCall::Map, DXGI_ERROR_DEVICE_RESET, 64, 32},
        {"texture creation removed", PresenterCall::CreateTexture, DXGI_ERROR_DEVICE_REMOVED, 96,
         48},
        {"ResizeBuffers reset", PresenterCall::ResizeBuffers, DXGI_ERROR_DEVICE_RESET, 96, 48},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestWindow window(320, 180);
        LosingPresenter presenter;
        ASSERT_TRUE(presenter.Initialize(window.Get()));
        ASSERT_TRUE(ShowFrame(presenter, 64, 32, 1));
        ASSERT_EQ(CountMismatches(presenter, 64, 32, 64 * 4, 1), 0u);
        ASSERT_FALSE(presenter.DeviceLost());

        presenter.Fail(c.call, c.code);
        ShowFrame(presenter, c.width, c.height, 2);
        EXPECT_TRUE(presenter.DeviceLost());

        ASSERT_TRUE(presenter.RecreateDevice());
        EXPECT_FALSE(presenter.DeviceLost());
        const int presents = presenter.presents;
        ASSERT_TRUE(ShowFrame(presenter, 96, 48, 3));
        EXPECT_EQ(presenter.presents, presents + 1);
        EXPECT_EQ(CountMismatches(presenter, 96, 48, 96 * 4, 3), 0u);
        EXPECT_EQ(ClientWidth(window), 96);
    }
}

TEST(DeviceLoss, TheSharedTexturePathComesBackAndDropsTexturesOfTheOldDevice) {
    TestWindow window(320, 180);
    LosingPresenter presenter;
    ASSERT_TRUE(presenter.Initialize(window.Get()));
    auto make = [&](int frame) {
        std::vector<unsigned char> pixels = RenderPattern(PatternFormat::B8G8R8A8, 80, 40, frame);
        return MakeTestTexture(presenter.device(), DXGI_FORMAT_B8G8R8A8_UNORM, 80, 40,
                               pixels.data(), 80 * 4);
    };
    auto shown = [&](int frame) {
        if (presenter.width != 80 || presenter.height != 40) {
            return false;
        }
        for (int y = 0; y < 40; ++y) {
            for (int x = 0; x < 80; ++x) {
                const Bgra want = PatternPixel(x, y, frame);
                const unsigned char* got =
                    &presenter.picture[(static_cast<size_t>(y) * 80 + x) * 4];
                if (got[0] != want.b || got[1] != want.g || got[2] != want.r || got[3] != want.a) {
                    return false;
                }
            }
        }
        return true;
    };
    ComPtr<ID3D11Texture2D> old = make(1);
    ASSERT_TRUE(old);
    ASSERT_TRUE(presenter.PresentTexture(old.Get(), 80, 40));
    EXPECT_TRUE(shown(1));

    presenter.Fail(PresenterCall::Present, DXGI_ERROR_DEVICE_REMOVED);
    presenter.PresentTexture(old.Get(), 80, 40);
    ASSERT_TRUE(presenter.DeviceLost());
    ASSERT_TRUE(presenter.RecreateDevice());

    // A texture the worker delivered from the old device is dropped, not drawn.
    TextureSlot slot;
    StoreTexture(slot, window.Get(), old.Get(), 80, 40);
    const int presents = presenter.presents;
    PresentPendingTexture(slot, presenter);
    EXPECT_EQ(presenter.presents, presents);
    EXPECT_FALSE(slot.pending);

    ComPtr<ID3D11Texture2D> fresh = make(2);
    ASSERT_TRUE(fresh);
    StoreTexture(slot, window.Get(), fresh.Get(), 80, 40);
    PresentPendingTexture(slot, presenter);
    EXPECT_EQ(presenter.presents, presents + 1);
    EXPECT_TRUE(shown(2));
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
}

// The host's recovery with a fake receiver: what it is told and what the controller reads.
class DeviceWatchingReceiver : public HostReceiver {
public:
    std::vector<ID3D11Device*> devices;  // every OnDeviceChanged, in order
    bool Prepare(FramePresenter&, StartupProblem&) override { return true; }
    void InstallCallbacks(HWND, StatusCallback, StatsCallback) override {}
    void OnFrameNotification(FramePresenter&) override {}
    void OnDeviceChanged(ID3D11Device* device) override { devices.push_back(device); }
    bool Start(const std::string&, int) override { return true; }
    void Stop() override {}
    void SetQuality(int) override {}
    void ReleaseFrames() override {}
    bool Stuck() override { return false; }
};

// Dispatches messages until `done` or `timeoutMs`, handing the retry timer to `recovery`.
bool PumpUntil(DeviceRecovery& recovery, const std::function<bool()>& done, int timeoutMs) {
    return WaitUntil(
        [&] {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (!recovery.HandleMessage(message)) {
                    DispatchMessageW(&message);
                }
            }
            return done();
        },
        timeoutMs);
}

TEST(DeviceLoss, TheControllerHearsTheLossUntilTheDeviceIsBackThenTheReceiversState) {
    TestPipeServer server;
    ASSERT_TRUE(server.Create());
    PipeClient pipe;
    ASSERT_TRUE(pipe.Connect(server.name()));
    ASSERT_TRUE(server.AwaitClient());
    TestWindow window(320, 180);
    LosingPresenter presenter;
    ASSERT_TRUE(presenter.Initialize(window.Get()));
    DeviceWatchingReceiver receiver;
    StatusRelay relay(HostKind::Tivane, pipe.StatusSender());
    DeviceRecovery recovery(window.Get(), presenter, receiver, relay);
    const std::string connected = R"({"type":"status","state":"connected","source":"cam"})";
    const std::string lost = R"({"type":"status","state":"error","source":"Graphics device lost"})";

    relay.Relay("connected", "cam");
    std::string line;
    ASSERT_TRUE(server.ReadLine(line));
    EXPECT_EQ(line, connected);

    // Lost at a present; the first rebuild and one retry fail, the next one succeeds.
    presenter.Fail(PresenterCall::Present, DXGI_ERROR_DEVICE_REMOVED);
    presenter.Fail(PresenterCall::CreateDevice, DXGI_ERROR_DEVICE_REMOVED, 2);
    ShowFrame(presenter, 64, 32, 1);
    const double lostAt = NowMs();
    recovery.AfterDraw();
    ASSERT_TRUE(recovery.Retrying());
    ASSERT_EQ(receiver.devices.size(), 1u);
    EXPECT_EQ(receiver.devices[0], nullptr);
    ASSERT_TRUE(server.ReadLine(line));
    EXPECT_EQ(line, lost);

    // The receiver's reports wait while the window cannot show anything.
    relay.Relay("connected", "cam");
    EXPECT_TRUE(server.DrainLinesFor(200).empty());

    ASSERT_TRUE(PumpUntil(
        recovery, [&] { return !recovery.Retrying(); }, 10000));
    std::vector<std::string> lines = server.DrainLinesFor(300);
    EXPECT_EQ(lines, (std::vector<std::string>{lost, connected}));
    // Two retries a second apart (the timer's own period; generous for a busy machine).
    EXPECT_GE(NowMs() - lostAt, 1800.0);
    ASSERT_EQ(receiver.devices.size(), 2u);
    EXPECT_EQ(receiver.devices[1], presenter.device());
    EXPECT_NE(presenter.device(), nullptr);

    ASSERT_TRUE(ShowFrame(presenter, 64, 32, 4));
    EXPECT_EQ(CountMismatches(presenter, 64, 32, 64 * 4, 4), 0u);
    relay.Relay("connecting", "next");
    ASSERT_TRUE(server.ReadLine(line));
    EXPECT_EQ(line, R"({"type":"status","state":"connecting","source":"next"})");
}

// A pixel receiver whose frames the test hands in through the frame callback the host
// adapter installed.
class HandFedReceiver {
public:
    static HandFedReceiver* latest;
    static ReceiverHandle<HandFedReceiver> Create() {
        auto receiver = std::make_shared<HandFedReceiver>();
        latest = receiver.get();
        return ReceiverHandle<HandFedReceiver>(receiver);
    }
    bool Initialize(StartupProblem* = nullptr) { return true; }
    void SetFrameCallback(FrameCallback callback) { frame = std::move(callback); }
    void SetStatsCallback(StatsCallback) {}
    void SetStatusCallback(StatusCallback) {}
    std::unique_ptr<SourceFinder> CreateSourceFinder() { return nullptr; }
    bool Start(const std::string&, int) { return true; }
    void Stop() {}
    void SetQuality(int) {}
    bool Stuck() { return false; }
    FrameCallback frame;
};
HandFedReceiver* HandFedReceiver::latest = nullptr;

bool OnDevice(ID3D11Texture2D* texture, ID3D11Device* device) {
    ComPtr<ID3D11Device> owner;
    texture->GetDevice(&owner);
    return owner.Get() == device;
}

TEST(DeviceLoss, ThePixelHostsRingOfTexturesIsMadeAgainOnTheNewDevice) {
    TestWindow window(320, 180);
    LosingPresenter presenter;
    ASSERT_TRUE(presenter.Initialize(window.Get()));
    CpuFrameHostReceiver<HandFedReceiver, &HandFedReceiver::SetQuality> host;
    // The rebuild succeeds, so nothing is reported.
    StatusRelay relay(HostKind::Tivane, [](const char*, const char*) {});
    host.InstallCallbacks(window.Get(), relay.MakeCallback(), nullptr);
    DeviceRecovery recovery(window.Get(), presenter, host, relay);
    // One frame from the worker, and the host loop's answer to its notification.
    auto deliverAndDraw = [&](int seed) {
        GuardedFrame frame(64, 32, 64 * 4 + 16, seed);
        HandFedReceiver::latest->frame(frame.Data(), 64, 32, 64 * 4 + 16);
        host.OnFrameNotification(presenter);
        recovery.AfterDraw();
    };
    // Frames after the first alternate between the ring's textures.
    auto drawsFromTheRing = [&](int firstSeed) {
        ID3D11Texture2D* previous = presenter.frameTexture();
        for (int seed = firstSeed; seed < firstSeed + kRingTextures; ++seed) {
            SCOPED_TRACE(seed);
            const int presents = presenter.presents;
            deliverAndDraw(seed);
            ASSERT_EQ(presenter.presents, presents + 1);
            EXPECT_EQ(CountMismatches(presenter, 64, 32, 64 * 4, seed), 0u);
            EXPECT_NE(presenter.frameTexture(), previous);
            EXPECT_TRUE(OnDevice(presenter.frameTexture(), presenter.device()));
            previous = presenter.frameTexture();
        }
    };
    deliverAndDraw(1);
    drawsFromTheRing(2);
    ComPtr<ID3D11Device> old = presenter.device();

    presenter.Fail(PresenterCall::Present, DXGI_ERROR_DEVICE_REMOVED);
    deliverAndDraw(10);
    ASSERT_FALSE(presenter.DeviceLost());
    ASSERT_NE(presenter.device(), old.Get());

    // The first frame on the new device comes through the block, the others through a
    // ring made on that device.
    const int presents = presenter.presents;
    deliverAndDraw(11);
    ASSERT_EQ(presenter.presents, presents + 1);
    EXPECT_EQ(CountMismatches(presenter, 64, 32, 64 * 4, 11), 0u);
    drawsFromTheRing(12);
    host.ReleaseFrames();
}

// Where the platform cannot share textures, the opener makes a texture of its own on the
// device it is given; what matters here is which device that is.
class DeviceLog {
public:
    void Opened(ID3D11Device* device) {
        std::lock_guard<std::mutex> lock(mutex_);
        opened_.push_back(device);
    }
    std::vector<ID3D11Device*> Opened() {
        std::lock_guard<std::mutex> lock(mutex_);
        return opened_;
    }

private:
    std::mutex mutex_;
    std::vector<ID3D11Device*> opened_;
};

TEST(DeviceLoss, TheSpoutWorkerLeavesTheOldDeviceAndReopensOnTheNewOneSilently) {
    // A sender record that stays valid for the whole test.
    const std::string name = "device-loss-sender-" + std::to_string(GetCurrentProcessId());
    UniqueHandle mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                            kSenderMappingBytes, name.c_str()));
    ASSERT_TRUE(mapping);
    auto* view = static_cast<unsigned char*>(
        MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, kSenderRecordBytes));
    ASSERT_NE(view, nullptr);
    EncodeSenderRecord({0x1234, 32, 16, 87}, view);

    auto makeDevice = [] {
        ComPtr<ID3D11Device> device;
        const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
        D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1,
                          D3D11_SDK_VERSION, &device, nullptr, nullptr);
        return device;
    };
    ComPtr<ID3D11Device> first = makeDevice();
    ComPtr<ID3D11Device> second = makeDevice();
    ASSERT_TRUE(first && second);
    DeviceLog log;
    std::atomic<int> delivered{0};
    std::atomic<ID3D11Device*> deliveredFrom{nullptr};
    std::vector<std::string> states;
    std::mutex statesLock;

    auto receiver = SpoutReceiver::Create();
    receiver->SetDevice(first.Get(), nullptr);
    receiver->SetSharedTextureOpener(
        [&log](ID3D11Device* device, HANDLE, ComPtr<ID3D11Texture2D>& texture) {
            log.Opened(device);
            D3D11_TEXTURE2D_DESC desc = {32,
                                         16,
                                         1,
                                         1,
                                         DXGI_FORMAT_B8G8R8A8_UNORM,
                                         {1, 0},
                                         D3D11_USAGE_DEFAULT,
                                         D3D11_BIND_SHADER_RESOURCE,
                                         0,
                                         0};
            return SUCCEEDED(device->CreateTexture2D(&desc, nullptr, &texture));
        });
    receiver->SetTextureCallback([&](ID3D11Texture2D* texture, int, int) {
        ComPtr<ID3D11Device> owner;
        texture->GetDevice(&owner);
        deliveredFrom.store(owner.Get());
        delivered.fetch_add(1);
    });
    receiver->SetStatusCallback([&](const char* state, const char*) {
        std::lock_guard<std::mutex> lock(statesLock);
        states.push_back(state);
    });
    ASSERT_TRUE(receiver->Start(name));
    ASSERT_TRUE(WaitUntil([&] { return deliveredFrom.load() == first.Get(); }, 5000));

    receiver->SwitchDevice(nullptr);
    // The worker polls meanwhile: with no device to open on it waits, and says nothing.
    Sleep(300);
    const size_t opensBeforeNew = log.Opened().size();
    receiver->SwitchDevice(second.Get());
    ASSERT_TRUE(WaitUntil([&] { return deliveredFrom.load() == second.Get(); }, 5000));
    receiver->Stop();
    UnmapViewOfFile(view);

    // After the switch to null the old device was never opened on again.
    std::vector<ID3D11Device*> opened = log.Opened();
    for (size_t i = opensBeforeNew; i < opened.size(); ++i) {
        EXPECT_EQ(opened[i], second.Get());
    }
    std::lock_guard<std::mutex> lock(statesLock);
    EXPECT_EQ(states, (std::vector<std::string>{"connecting", "connected", "disconnected"}));
}

}  // namespace
