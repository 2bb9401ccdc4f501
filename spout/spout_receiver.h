// Grelm's receiver: one worker that waits for a named Spout sender record, opens the
// sender's shared texture on the presenter's device, polls the record about sixty times
// a second and hands the texture to the TextureCallback.
//
// Threads: the main thread constructs, assigns callbacks and the device, stops and
// destroys; the pipe reader thread starts and stops; the worker runs ReceiveLoop, opens
// and releases textures on the device (never the immediate context) and calls every
// callback.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include <d3d11.h>
#include <wrl/client.h>

#include "receiver_callbacks.h"
#include "sender_record.h"
#include "stats_interval.h"
#include "win_types.h"
#include "receive_cycle.h"
#include "worker_thread.h"

// The texture belongs to the receiver; a callback that keeps it takes its own reference.
using TextureCallback = std::function<void(ID3D11Texture2D* texture, int width, int height)>;

// Opens a sender's texture from its widened handle. The default calls the device's
// OpenSharedResource; tests stand in for it where the platform cannot share textures.
using SharedTextureOpener = std::function<bool(ID3D11Device* device, HANDLE handle,
                                               Microsoft::WRL::ComPtr<ID3D11Texture2D>& texture)>;

class SpoutReceiver {
public:
    SpoutReceiver();
    ~SpoutReceiver();
    SpoutReceiver(const SpoutReceiver&) = delete;
    SpoutReceiver& operator=(const SpoutReceiver&) = delete;

    // Borrowed from the presenter, which outlives the worker; only the device is used.
    void SetDevice(ID3D11Device* device, ID3D11DeviceContext* context);
    void SetTextureCallback(TextureCallback callback) { onTexture_ = std::move(callback); }
    void SetStatusCallback(StatusCallback callback) { onStatus_ = std::move(callback); }
    void SetStatsCallback(StatsCallback callback) { onStats_ = std::move(callback); }
    void SetSharedTextureOpener(SharedTextureOpener opener) { opener_ = std::move(opener); }

    bool Start(const std::string& senderName);
    void Stop();
    bool Stuck() { return worker_.Stuck(); }

    // Reads the first 16 bytes of the sender's mapping through a fresh read-only view.
    // False when the mapping is missing, cannot be viewed, or holds an invalid record.
    static bool ReadSenderRecord(const std::string& senderName, SenderRecord& record);

private:
    struct Connection;  // the worker's per-connection state

    void ReceiveLoop();
    // One attempt: waiting phase, open, connected phase. Returns after the pause that
    // follows it, or at once when stopped.
    AttemptEnd RunAttempt(const std::string& senderName);
    bool WaitForRecord(const std::string& senderName, SenderRecord& record);
    void RunConnection(const std::string& senderName, const SenderRecord& record);
    void Poll(const std::string& senderName, Connection& connection);
    bool OpenTexture(uint32_t handle);
    void ReleaseTexture();
    void NotifyStatus(const char* state, const char* source);
    std::string SenderName();

    ID3D11Device* device_ = nullptr;
    ID3D11DeviceContext* context_ = nullptr;  // belongs to the main thread; never used here
    WorkerThread worker_;
    std::atomic<bool> reconnectRequested_{false};
    CriticalSection control_;  // keeps concurrent Start and Stop calls apart
    CriticalSection nameLock_;
    std::string senderName_;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> sharedTexture_;  // worker only
    uint32_t sharedHandle_ = 0;                              // worker only
    TextureCallback onTexture_;
    StatusCallback onStatus_;
    StatsCallback onStats_;
    SharedTextureOpener opener_;
};
