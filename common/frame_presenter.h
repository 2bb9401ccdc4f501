// Draws received video into the host window with Direct3D 11: one windowed swap chain,
// one frame texture, one full-screen triangle. Main thread only.
//
// Parlex and Tivane draw BGRA pixel rows: mostly from a dynamic texture that the worker
// has already filled (ShowFrameTexture + Render, see frame_slot.h), and when no such
// texture fits yet, by uploading them here (UploadFrame + Render). Grelm copies a shared
// texture on the graphics card (PresentTexture, built with the Spout receiver).
//
// The presenter is the one owner of the device: when a call reports the device removed
// or reset, DeviceLost() says so and RecreateDevice() makes every device-bound object
// again on the same window. The frame slot's textures are let go before that switch
// (RetireFrameTextures); only one the worker is still writing into outlives it, until the
// worker is done with it.
#pragma once

#include <cstddef>

#include <d3d11.h>
#include <wrl/client.h>

#include "window_sizing.h"

// A dynamic BGRA texture of a frame's size, which the CPU writes and the draw samples.
D3D11_TEXTURE2D_DESC FrameTextureDesc(int width, int height);

// The Direct3D calls whose results the presenter acts on.
enum class PresenterCall { CreateDevice, CreateView, CreateTexture, Map, ResizeBuffers, Present };

class FramePresenter {
public:
    FramePresenter() = default;
    virtual ~FramePresenter() { ReleaseResources(); }
    FramePresenter(const FramePresenter&) = delete;
    FramePresenter& operator=(const FramePresenter&) = delete;

    bool Initialize(HWND window);
    bool UploadFrame(const unsigned char* pixels, int width, int height, int strideBytes);
    void Render();
    // A dynamic BGRA texture of the frame's size, which the CPU writes and the draw samples.
    bool CreateFrameTexture(int width, int height, Microsoft::WRL::ComPtr<ID3D11Texture2D>& texture,
                            Microsoft::WRL::ComPtr<ID3D11ShaderResourceView>& view);
    // Maps a frame texture for writing, discarding what it held.
    bool MapFrameTexture(ID3D11Texture2D* texture, D3D11_MAPPED_SUBRESOURCE& mapped);
    // Makes an unmapped frame texture of this device the one Render draws, following its
    // size with texture size, swap chain and window.
    void ShowFrameTexture(ID3D11Texture2D* texture, ID3D11ShaderResourceView* view, int width,
                          int height);
    bool PresentTexture(ID3D11Texture2D* source, int width, int height);  // Grelm only
    bool CreateBackBufferView();
    bool CompileShaders();
    void ReleaseResources();

    // Who sizes the window; none (the default): every new frame size. Borrowed.
    void SetWindowSizing(WindowSizing* sizing) { sizing_ = sizing; }
    // The controller's window_size command; given back, the window takes the frame size.
    void KeepWindowSize(bool kept);

    // True once a call found the device removed or reset; drawing does nothing useful
    // until RecreateDevice succeeds.
    bool DeviceLost() const { return deviceLost_; }
    // Releases everything and initialises again on the same window; the next frame makes
    // its texture anew. False (and still lost) when no device can be made.
    bool RecreateDevice();

    // What the last device creation returned: why Initialize found no device.
    HRESULT createDeviceResult() const { return createDeviceResult_; }
    ID3D11Device* device() const { return device_.Get(); }
    ID3D11DeviceContext* context() const { return context_.Get(); }
    IDXGISwapChain* swapChain() const { return swapChain_.Get(); }
    ID3D11Texture2D* frameTexture() const { return frameTexture_.Get(); }
    ID3D11ShaderResourceView* frameView() const { return frameView_.Get(); }
    int backBufferWidth() const { return backBufferWidth_; }
    int backBufferHeight() const { return backBufferHeight_; }
    int textureWidth() const { return textureWidth_; }
    int textureHeight() const { return textureHeight_; }

protected:
    // Binds the target, the shaders and the frame view, draws the triangle, presents.
    void DrawAndPresent();
    // Virtual only so that a test can read the back buffer back before it is presented.
    virtual void Present();
    // Every result listed in PresenterCall passes through here; a test stands in for a
    // lost device by returning the removal codes.
    virtual HRESULT Result(PresenterCall /*call*/, HRESULT result) { return result; }
    // The result, filtered; notes a lost device. True on success.
    bool Check(PresenterCall call, HRESULT result);
    // Resizes the window and the swap chain to a new frame size.
    bool ResizeSwapChain(int width, int height);
    void FollowFrameSize(int width, int height);
    void ResizeWindow(int width, int height);

    Microsoft::WRL::ComPtr<ID3D11Device> device_;
    Microsoft::WRL::ComPtr<ID3D11DeviceContext> context_;
    Microsoft::WRL::ComPtr<IDXGISwapChain> swapChain_;
    Microsoft::WRL::ComPtr<ID3D11RenderTargetView> backBufferView_;
    Microsoft::WRL::ComPtr<ID3D11VertexShader> vertexShader_;
    Microsoft::WRL::ComPtr<ID3D11PixelShader> pixelShader_;
    Microsoft::WRL::ComPtr<ID3D11SamplerState> sampler_;
    Microsoft::WRL::ComPtr<ID3D11Texture2D> frameTexture_;
    Microsoft::WRL::ComPtr<ID3D11ShaderResourceView> frameView_;
    HWND window_ = nullptr;
    WindowSizing* sizing_ = nullptr;
    int backBufferWidth_ = 0;
    int backBufferHeight_ = 0;
    int textureWidth_ = 0;
    int textureHeight_ = 0;
    bool deviceLost_ = false;
    HRESULT createDeviceResult_ = S_OK;
};
