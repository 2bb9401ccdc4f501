// SpoutReceiver under Wine: the record rule on real file mappings, the worker's status
// sequences, the real (failing) shared-texture open, and the connected path through an
// opener stand-in that hands out textures created here; and the sender list as Grelm lists
// it, from list mappings of any size and content.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <d3d11.h>
#include <wrl/client.h>

#include "spout_receiver.h"
#include "spout_sender_list.h"
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
            std::lock_guard<std::mutex> lock(lock_);
            reports_.push_back({state, source ? source : "", GetTickCount64()});
        };
    }
    std::vector<Report> reports() {
        std::lock_guard<std::mutex> lock(lock_);
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
    std::mutex lock_;
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

// A mapping of `size` bytes whose pages are only reserved, but for the first `committed`
// bytes, which hold `bytes`.
UniqueHandle ReservedMapping(const std::string& name, size_t size, size_t committed,
                             const std::string& bytes = std::string()) {
    UniqueHandle mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr,
                                            PAGE_READWRITE | SEC_RESERVE, 0,
                                            static_cast<DWORD>(size), name.c_str()));
    if (mapping && committed > 0) {
        void* view = MapViewOfFile(mapping.Get(), FILE_MAP_WRITE, 0, 0, 0);
        if (view == nullptr || !VirtualAlloc(view, committed, MEM_COMMIT, PAGE_READWRITE)) {
            return UniqueHandle();
        }
        std::memcpy(view, bytes.data(), bytes.size() < committed ? bytes.size() : committed);
        UnmapViewOfFile(view);
    }
    return mapping;
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
    // Another process may make a record whose pages are reserved and never committed.
    UniqueHandle reserved(ReservedMapping(UniqueName("reserved"), kSenderMappingBytes, 0));
    ASSERT_TRUE(reserved);
    EXPECT_FALSE(SpoutReceiver::ReadSenderRecord(UniqueName("reserved"), record));
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

// The bytes of a sender list: one name a slot, the rest zero, cut at `size`.
std::string ListBytes(const std::vector<std::string>& slots, size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < slots.size() && i * kSenderNameBytes < size; ++i) {
        const size_t room = size - i * kSenderNameBytes;
        bytes.replace(i * kSenderNameBytes, std::min(slots[i].size(), room),
                      slots[i].substr(0, room));
    }
    return bytes;
}

// Another sender in the middle of rewriting the list: it holds the list's mutex 3 s.
struct MutexHolder {
    HANDLE mutex;
    std::atomic<bool> holding{false};
};

DWORD WINAPI HoldMutex(LPVOID context) {
    auto* holder = static_cast<MutexHolder*>(context);
    WaitForSingleObject(holder->mutex, INFINITE);
    holder->holding.store(true);
    Sleep(3000);
    holder->holding.store(false);
    ReleaseMutex(holder->mutex);
    return 0;
}

TEST(SpoutSenderListTest, ListsTheLiveSendersOfWhateverTheListHolds) {
    const std::string a = UniqueName("live_a"), c = UniqueName("live_c"), d = UniqueName("live_d");
    FakeSender senderA(a), senderC(c), senderD(d);
    const std::string stale = UniqueName("stale_b");  // in the list, its record gone
    const std::string garbage(4 * kSenderNameBytes, '\xEE');
    // Live senders right at and right past the bound of 4096 slots.
    std::vector<std::string> crowd(SpoutSenderList::kMaxListBytes / kSenderNameBytes - 1,
                                   "not a sender");
    crowd.push_back(a);
    crowd.push_back(c);
    constexpr size_t kAll = ~size_t{0};
    struct Case {
        const char* what;
        size_t size;
        std::string bytes;
        std::vector<std::string> listed;
        size_t committed = kAll;  // the rest only reserved
        const char* error = "";
    } cases[] = {
        {"live and stale senders, up to the first empty slot",
         64 * kSenderNameBytes,
         ListBytes({a, stale, c, "", d}, 64 * kSenderNameBytes),
         {a, c}},
        {"a list smaller than one slot", 100, ListBytes({d}, 100).substr(0, 100), {d}},
        {"a size that is no multiple of a slot",
         2 * kSenderNameBytes + 7,
         ListBytes({c, a}, 2 * kSenderNameBytes + 7),
         {c, a}},
        {"garbage without terminators after a live sender",
         5 * kSenderNameBytes,
         a + std::string(kSenderNameBytes - a.size(), '\0') + garbage,
         {a}},
        {"a huge list is read to its bound, no slot further",
         4400 * kSenderNameBytes,
         ListBytes(crowd, 4400 * kSenderNameBytes),
         {a}},
        {"a list exactly as large as the bound, full to its end",
         SpoutSenderList::kMaxListBytes,
         ListBytes(crowd, SpoutSenderList::kMaxListBytes),
         {a}},
        {"a list whose pages are only reserved",
         64 * kSenderNameBytes,
         "",
         {},
         0,
         "Cannot read sender list"},
        {"a list committed only as far as its first page",
         64 * kSenderNameBytes,
         ListBytes({d, c}, 4096),
         {d, c},
         4096},
    };
    const std::string listName = UniqueName("list");
    EXPECT_TRUE(SpoutSenderList(listName).Find().names.empty()) << "no list at all";
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        UniqueHandle list;
        if (test.committed == kAll) {
            list.Reset(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                          static_cast<DWORD>(test.size), listName.c_str()));
            ASSERT_TRUE(list);
            void* view = MapViewOfFile(list.Get(), FILE_MAP_WRITE, 0, 0, test.size);
            ASSERT_NE(view, nullptr);
            std::memcpy(view, test.bytes.data(), test.bytes.size());
            UnmapViewOfFile(view);
        } else {
            list = ReservedMapping(listName, test.size, test.committed, test.bytes);
            ASSERT_TRUE(list);
        }
        FoundSources found = SpoutSenderList(listName).Find();
        EXPECT_EQ(found.error, test.error);
        EXPECT_EQ(found.names, test.listed);
    }
    // A sender that keeps the list's mutex does not keep the list from being read.
    UniqueHandle list(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                         listName.c_str()));
    void* view = MapViewOfFile(list.Get(), FILE_MAP_WRITE, 0, 0, 0);
    ASSERT_NE(view, nullptr);
    std::memcpy(view, a.c_str(), a.size() + 1);
    UnmapViewOfFile(view);
    UniqueHandle mutex(CreateMutexA(nullptr, FALSE, (listName + "_mutex").c_str()));
    MutexHolder holding{mutex.Get()};
    UniqueHandle holder(CreateThread(nullptr, 0, &HoldMutex, &holding, 0, nullptr));
    ASSERT_TRUE(WaitUntil([&] { return holding.holding.load(); }, 2000));
    EXPECT_EQ(SpoutSenderList(listName).Find().names, std::vector<std::string>{a});
    EXPECT_TRUE(holding.holding.load()) << "waited for the mutex until it was free";
    WaitForSingleObject(holder.Get(), 5000);
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
                std::lock_guard<std::mutex> lock(lock_);
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
            std::lock_guard<std::mutex> lock(lock_);
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
                std::lock_guard<std::mutex> lock(lock_);
                return lastTexture_ == textures_.at(handle).Get();
            },
            timeoutMs);
    }
    int deliveries() {
        std::lock_guard<std::mutex> lock(lock_);
        return deliveries_;
    }
    // Milliseconds between delivery n (0-based) and the one after it.
    double DeliveryGap(int n) {
        std::lock_guard<std::mutex> lock(lock_);
        return deliveredAtMs_.at(static_cast<size_t>(n) + 1) - deliveredAtMs_.at(n);
    }

    const std::string name_ = UniqueName("connected");
    ComPtr<ID3D11Device> device_;
    std::map<uintptr_t, ComPtr<ID3D11Texture2D>> textures_;
    Recorder recorder_;
    ReceiverHandle<SpoutReceiver> receiver_ = SpoutReceiver::Create();
    std::mutex lock_;
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
        std::lock_guard<std::mutex> lock(lock_);
        EXPECT_EQ(lastWidth_, 1920);
        EXPECT_EQ(lastHeight_, 1080);
    }
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(lock_);
            return statsWidth_ == 1920 && statsHeight_ == 1080;
        },
        5000));
    {
        std::lock_guard<std::mutex> lock(lock_);
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
