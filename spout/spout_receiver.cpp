#include "spout_receiver.h"

#include <mutex>
#include <vector>

#include "log.h"
#include "mapped_view.h"
#include "performance_counter.h"

using Microsoft::WRL::ComPtr;

namespace {

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

SpoutReceiver::SpoutReceiver() : SourceReceiver("[Spout]", kStopWaitMs), opener_(&OpenOnDevice) {}

// No worker runs any more: one that hung held the receiver until it ended.
SpoutReceiver::~SpoutReceiver() {
    ReleaseTexture();
}

void SpoutReceiver::SetDevice(ID3D11Device* device, ID3D11DeviceContext* context) {
    std::lock_guard<std::mutex> lock(deviceLock_);
    device_ = device;
    context_ = context;
}

void SpoutReceiver::SwitchDevice(ID3D11Device* device) {
    std::lock_guard<std::mutex> lock(deviceLock_);
    device_ = device;
    ++deviceGeneration_;
}

bool SpoutReceiver::Start(const std::string& senderName) {
    HostLog("[Spout] Start: sender='%s'", senderName.c_str());
    return StartReceiving(senderName, 0);
}

bool SpoutReceiver::ReadSenderRecord(const std::string& senderName, SenderRecord& record) {
    if (senderName.empty()) {
        return false;
    }
    // A fresh mapping per read: a sender that closed is simply not found next time. A
    // record that cannot be read whole counts as a missing one.
    std::vector<unsigned char> bytes;
    if (ReadMapping(senderName.c_str(), kSenderRecordBytes, kSenderRecordBytes, bytes) !=
            MappedRead::Read ||
        bytes.size() < kSenderRecordBytes) {
        return false;
    }
    record = DecodeSenderRecord(bytes.data());
    return IsValidSenderRecord(record);
}

AttemptEnd SpoutReceiver::RunAttempt(const Settings& settings) {
    const std::string& senderName = settings.source;
    HostLog("[Spout] ReceiveLoop: connecting to sender '%s'", senderName.c_str());
    NotifyStatus("connecting", senderName.c_str());

    SenderRecord record;
    if (!WaitForRecord(senderName, record)) {
        return AttemptEnd::Stopped;
    }
    switch (OpenWhenDeviceIsThere(record.handle)) {
        case OpenResult::Opened:
            break;
        case OpenResult::NoDevice:
            return AttemptEnd::Stopped;
        case OpenResult::Failed:
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
    while (Receiving()) {
        if (ReadSenderRecord(senderName, record)) {
            break;
        }
        ++attempt;
        if (attempt == 1 || attempt % 20 == 0) {
            HostLog("[Spout] Waiting for sender '%s' shared memory... (attempt %d)",
                    senderName.c_str(), attempt);
        }
        Pause(kWaitingPollMs);
    }
    return Receiving();
}

SpoutReceiver::OpenResult SpoutReceiver::OpenWhenDeviceIsThere(uint32_t handle) {
    OpenResult opened = OpenTexture(handle);
    while (opened == OpenResult::NoDevice && Pause(kWaitingPollMs) && Receiving()) {
        opened = OpenTexture(handle);
    }
    return opened;
}

void SpoutReceiver::RunConnection(const std::string& senderName, const SenderRecord& record) {
    Connection connection;
    connection.width = static_cast<int>(record.width);
    connection.height = static_cast<int>(record.height);
    connection.stats.Begin(CounterNow(), CounterFrequency());
    while (Receiving()) {
        Poll(senderName, connection);
    }
}

void SpoutReceiver::Poll(const std::string& senderName, Connection& connection) {
    SenderRecord record;
    if (!ReadSenderRecord(senderName, record)) {
        if (++connection.failedPolls >= kFailedPollLimit) {
            NotifyStatus("reconnecting", senderName.c_str());
            RequestReconnect();
        } else {
            Pause(kFailedPollPauseMs);
        }
        return;
    }
    connection.failedPolls = 0;
    if (SenderTextureChanged(record, sharedHandle_, connection.width, connection.height) ||
        !TextureIsCurrent(record.handle)) {
        // A resized sender shares a new texture, and a new device needs the texture opened
        // on it; following either needs no report, and while the presenter is making its
        // new device there is nothing to open it on yet: that is waited out quietly.
        const OpenResult opened = OpenTexture(record.handle);
        if (opened == OpenResult::NoDevice) {
            Pause(kPollPauseMs);
            return;
        }
        if (opened == OpenResult::Failed) {
            NotifyStatus("error", "Cannot reopen shared texture");
            RequestReconnect();
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
        ReportStats(framesPerSecond, static_cast<int>(record.width),
                    static_cast<int>(record.height));
        connection.failedPolls = hadFrames ? 0 : 1;
    }
    Pause(kPollPauseMs);
}

// Opened under the device lock, so that a device switch waits for an open in progress and
// an open never starts on a device that is being replaced.
SpoutReceiver::OpenResult SpoutReceiver::OpenTexture(uint32_t handle) {
    ReleaseTexture();
    std::lock_guard<std::mutex> lock(deviceLock_);
    if (device_ == nullptr) {
        return OpenResult::NoDevice;
    }
    if (!opener_ || !opener_(device_, WidenHandle(handle), sharedTexture_) || !sharedTexture_) {
        sharedTexture_.Reset();
        return OpenResult::Failed;
    }
    sharedHandle_ = handle;
    textureGeneration_ = deviceGeneration_;
    return OpenResult::Opened;
}

bool SpoutReceiver::TextureIsCurrent(uint32_t handle) {
    std::lock_guard<std::mutex> lock(deviceLock_);
    return sharedTexture_ && handle == sharedHandle_ && textureGeneration_ == deviceGeneration_;
}

void SpoutReceiver::ReleaseTexture() {
    sharedTexture_.Reset();
    sharedHandle_ = 0;
}
