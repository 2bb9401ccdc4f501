#include "spout_receiver.h"

#include <cstring>

#include "log.h"
#include "performance_counter.h"
#include "receive_cycle.h"

using Microsoft::WRL::ComPtr;

namespace {

constexpr unsigned kStopWaitMs = 3000;
constexpr unsigned kWaitingPollMs = 250;
constexpr unsigned kFailedPollPauseMs = 100;
constexpr unsigned kPollPauseMs = 16;
constexpr int kFailedPollLimit = 2;

// The record stores the handle truncated to 32 bits; it is widened with zeros.
HANDLE WidenHandle(uint32_t handle) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle));
}

bool OpenOnDevice(ID3D11Device* device, HANDLE handle, ComPtr<ID3D11Texture2D>& texture) {
    return SUCCEEDED(
        device->OpenSharedResource(handle, __uuidof(ID3D11Texture2D),
                                   reinterpret_cast<void**>(texture.ReleaseAndGetAddressOf())));
}

}  // namespace

struct SpoutReceiver::Connection {
    int width = 0;
    int height = 0;
    int failedPolls = 0;
    bool firstFrame = true;
    StatsInterval stats;
};

SpoutReceiver::SpoutReceiver() : worker_(kStopWaitMs), opener_(&OpenOnDevice) {}

SpoutReceiver::~SpoutReceiver() {
    // The worker uses the callbacks and the texture below; it ends before they go.
    Stop();
    ReleaseTexture();
}

void SpoutReceiver::SetDevice(ID3D11Device* device, ID3D11DeviceContext* context) {
    device_ = device;
    context_ = context;
}

bool SpoutReceiver::Start(const std::string& senderName) {
    HostLog("[Spout] Start: sender='%s'", senderName.c_str());
    ScopedLock control(control_);
    // The old worker ends before the name changes, so it never starts an attempt on
    // the new sender.
    worker_.Stop();
    {
        ScopedLock lock(nameLock_);
        senderName_ = senderName;
    }
    reconnectRequested_.exchange(false);
    return worker_.Start<SpoutReceiver, &SpoutReceiver::ReceiveLoop>(this);
}

void SpoutReceiver::Stop() {
    ScopedLock control(control_);
    worker_.Stop();
}

bool SpoutReceiver::ReadSenderRecord(const std::string& senderName, SenderRecord& record) {
    if (senderName.empty()) {
        return false;
    }
    // A fresh mapping per read: a sender that closed is simply not found next time.
    UniqueHandle mapping(OpenFileMappingA(FILE_MAP_READ, FALSE, senderName.c_str()));
    if (!mapping) {
        return false;
    }
    const void* view = MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, kSenderRecordBytes);
    if (view == nullptr) {
        return false;
    }
    unsigned char bytes[kSenderRecordBytes];
    std::memcpy(bytes, view, sizeof(bytes));
    UnmapViewOfFile(view);
    record = DecodeSenderRecord(bytes);
    return IsValidSenderRecord(record);
}

void SpoutReceiver::ReceiveLoop() {
    RunReceiveCycle(
        worker_,
        [this](std::string& source) {
            source = SenderName();
            return source.empty() ? AttemptEnd::NoSource : RunAttempt(source);
        },
        [this](const char* state, const char* source) { NotifyStatus(state, source); });
}

AttemptEnd SpoutReceiver::RunAttempt(const std::string& senderName) {
    HostLog("[Spout] ReceiveLoop: connecting to sender '%s'", senderName.c_str());
    NotifyStatus("connecting", senderName.c_str());
    reconnectRequested_.exchange(false);

    SenderRecord record;
    if (!WaitForRecord(senderName, record)) {
        return AttemptEnd::Stopped;
    }
    if (device_ == nullptr) {
        NotifyStatus("error", "No D3D11 device");
        return AttemptEnd::OpenFailed;
    }
    if (!OpenTexture(record.handle)) {
        NotifyStatus("error", "Cannot open shared texture");
        return AttemptEnd::OpenFailed;
    }
    NotifyStatus("connected", senderName.c_str());
    RunConnection(senderName, record);
    ReleaseTexture();
    return AttemptEnd::ConnectionEnded;
}

bool SpoutReceiver::WaitForRecord(const std::string& senderName, SenderRecord& record) {
    int attempt = 0;
    while (worker_.running() && !reconnectRequested_.load()) {
        if (ReadSenderRecord(senderName, record)) {
            break;
        }
        ++attempt;
        if (attempt == 1 || attempt % 20 == 0) {
            HostLog("[Spout] Waiting for sender '%s' shared memory... (attempt %d)",
                    senderName.c_str(), attempt);
        }
        worker_.Pause(kWaitingPollMs);
    }
    return worker_.running() && !reconnectRequested_.load();
}

void SpoutReceiver::RunConnection(const std::string& senderName, const SenderRecord& record) {
    Connection connection;
    connection.width = static_cast<int>(record.width);
    connection.height = static_cast<int>(record.height);
    connection.stats.Begin(CounterNow(), CounterFrequency());
    while (worker_.running() && !reconnectRequested_.load()) {
        Poll(senderName, connection);
    }
}

void SpoutReceiver::Poll(const std::string& senderName, Connection& connection) {
    SenderRecord record;
    if (!ReadSenderRecord(senderName, record)) {
        if (++connection.failedPolls >= kFailedPollLimit) {
            NotifyStatus("reconnecting", senderName.c_str());
            reconnectRequested_.exchange(true);
        } else {
            worker_.Pause(kFailedPollPauseMs);
        }
        return;
    }
    connection.failedPolls = 0;
    if (SenderTextureChanged(record, sharedHandle_, connection.width, connection.height)) {
        // A resized sender shares a new texture; following it needs no report.
        if (!OpenTexture(record.handle)) {
            NotifyStatus("error", "Cannot reopen shared texture");
            reconnectRequested_.exchange(true);
            return;
        }
        connection.width = static_cast<int>(record.width);
        connection.height = static_cast<int>(record.height);
    }
    if (onTexture_ && sharedTexture_) {
        onTexture_(sharedTexture_.Get(), connection.width, connection.height);
        connection.stats.CountFrame();
    }
    if (connection.firstFrame && connection.stats.frames() > 0) {
        HostLog("[Spout] First frame received from '%s'", senderName.c_str());
        connection.firstFrame = false;
    }
    float framesPerSecond = 0.0f;
    bool hadFrames = false;
    if (connection.stats.Close(CounterNow(), framesPerSecond, hadFrames)) {
        if (onStats_) {
            onStats_(framesPerSecond, static_cast<int>(record.width),
                     static_cast<int>(record.height));
        }
        connection.failedPolls = hadFrames ? 0 : 1;
    }
    worker_.Pause(kPollPauseMs);
}

bool SpoutReceiver::OpenTexture(uint32_t handle) {
    ReleaseTexture();
    if (!opener_ || !opener_(device_, WidenHandle(handle), sharedTexture_) || !sharedTexture_) {
        sharedTexture_.Reset();
        return false;
    }
    sharedHandle_ = handle;
    return true;
}

void SpoutReceiver::ReleaseTexture() {
    sharedTexture_.Reset();
    sharedHandle_ = 0;
}

void SpoutReceiver::NotifyStatus(const char* state, const char* source) {
    HostLog("[Spout] NotifyStatus: state='%s', source='%s'", state, source);
    if (onStatus_) {
        onStatus_(state, source);
    }
}

std::string SpoutReceiver::SenderName() {
    ScopedLock lock(nameLock_);
    return senderName_;
}
