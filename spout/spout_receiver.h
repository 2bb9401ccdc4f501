// Grelm's receiver: its attempt waits for a named Spout sender record, opens the sender's
// shared texture on the presenter's device, polls the record about sixty times a second
// and hands the texture to the TextureCallback. Start, Stop and the reports are the shared
// receiver's (source_receiver.h).
//
// Threads: the main thread constructs, assigns callbacks and the device, switches the
// device after a device loss, stops and destroys; the pipe reader thread starts and stops;
// the worker runs the attempts, opens and releases textures on the device (never the
// immediate context) and calls every callback. The device is read and used for an open
// only under deviceLock_, so once SwitchDevice has returned the worker never touches the
// old device again.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include <d3d11.h>
#include <wrl/client.h>

#include "receiver_callbacks.h"
#include "sender_record.h"
#include "source_receiver.h"
#include "win_types.h"

// The texture belongs to the receiver; a callback that keeps it takes its own reference.
using TextureCallback = std::function<void(ID3D11Texture2D* texture, int width, int height)>;

// Opens a sender's texture from its widened handle. The default calls the device's
// OpenSharedResource; tests stand in for it where the platform cannot share textures.
using SharedTextureOpener = std::function<bool(ID3D11Device* device, HANDLE handle,
                                               Microsoft::WRL::ComPtr<ID3D11Texture2D>& texture)>;

class SpoutReceiver final : public SourceReceiver {
public:
    static constexpr unsigned kStopWaitMs = 3000;

    static ReceiverHandle<SpoutReceiver> Create() {
        return ReceiverHandle<SpoutReceiver>(std::shared_ptr<SpoutReceiver>(new SpoutReceiver()));
    }
    ~SpoutReceiver() override;

    // Borrowed from the presenter, which outlives the worker; only the device is used.
    void SetDevice(ID3D11Device* device, ID3D11DeviceContext* context);
    // Main thread, after the presenter lost its device (null) or rebuilt it: a texture
    // opened on the old device is released and the sender's texture opened again on the
    // new one, without a status report.
    void SwitchDevice(ID3D11Device* device);
    void SetTextureCallback(TextureCallback callback) { onTexture_ = std::move(callback); }
    void SetSharedTextureOpener(SharedTextureOpener opener) { opener_ = std::move(opener); }

    bool Start(const std::string& senderName);

    // Reads the first 16 bytes of the sender's mapping through a fresh read-only view.
    // False when the mapping is missing, cannot be viewed, or holds an invalid record.
    static bool ReadSenderRecord(const std::string& senderName, SenderRecord& record);

private:
    struct Connection;  // the worker's per-connection state

    SpoutReceiver();

    enum class OpenResult { Opened, NoDevice, Failed };

    AttemptEnd RunAttempt(const Settings& settings) override;
    bool WaitForRecord(const std::string& senderName, SenderRecord& record);
    // Opens the texture, waiting quietly while the presenter has no device (it is making
    // a new one after a device loss). Opened or Failed, or NoDevice when stopped.
    OpenResult OpenWhenDeviceIsThere(uint32_t handle);
    void RunConnection(const std::string& senderName, const SenderRecord& record);
    void Poll(const std::string& senderName, Connection& connection);
    OpenResult OpenTexture(uint32_t handle);
    bool TextureIsCurrent(uint32_t handle);
    void ReleaseTexture();

    std::mutex deviceLock_;
    ID3D11Device* device_ = nullptr;          // under deviceLock_
    unsigned deviceGeneration_ = 0;           // under deviceLock_; counts switches
    ID3D11DeviceContext* context_ = nullptr;  // belongs to the main thread; never used here
    Microsoft::WRL::ComPtr<ID3D11Texture2D> sharedTexture_;  // worker only
    uint32_t sharedHandle_ = 0;                              // worker only
    unsigned textureGeneration_ = 0;  // worker only: the device generation it was opened on
    TextureCallback onTexture_;
    SharedTextureOpener opener_;
};
