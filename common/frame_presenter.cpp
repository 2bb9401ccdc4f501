#include "frame_presenter.h"

#include <d3dcompiler.h>

#include <algorithm>
#include <cstring>

#include "frame_slot_state.h"
#include "log.h"

using Microsoft::WRL::ComPtr;

namespace {

const char kVertexShader[] =
    "\nvoid main(uint id : SV_VertexID, out float4 pos : SV_Position, out float2 uv : "
    "TEXCOORD0) {\n    // Generate fullscreen triangle from vertex ID\n    uv = float2((id << "
    "1) & 2, id & 2);\n    pos = float4(uv * float2(2, -2) + float2(-1, 1), 0, 1);\n}\n";

const char kPixelShader[] =
    "\nTexture2D tex : register(t0);\nSamplerState samp : register(s0);\n\nfloat4 "
    "main(float4 pos : SV_Position, float2 uv : TEXCOORD0) : SV_Target {\n    return "
    "tex.Sample(samp, uv);\n}\n";

bool IsDeviceLossCode(HRESULT result) {
    return result == DXGI_ERROR_DEVICE_REMOVED || result == DXGI_ERROR_DEVICE_RESET;
}

// Compiles one embedded shader; the compiler's message goes to the diagnostic log.
ComPtr<ID3DBlob> Compile(const char* source, const char* name, const char* target,
                         const char* errorFormat) {
    ComPtr<ID3DBlob> code;
    ComPtr<ID3DBlob> errors;
    HRESULT result = D3DCompile(source, std::strlen(source), name, nullptr, nullptr, "main", target,
                                0, 0, &code, &errors);
    if (FAILED(result)) {
        if (errors) {
            HostLog(errorFormat, static_cast<const char*>(errors->GetBufferPointer()));
        }
        return nullptr;
    }
    return code;
}

}  // namespace

bool FramePresenter::Initialize(HWND window) {
    window_ = window;
    RECT client = {};
    GetClientRect(window, &client);
    backBufferWidth_ = client.right - client.left;
    backBufferHeight_ = client.bottom - client.top;
    if (backBufferWidth_ < 1)
        backBufferWidth_ = 320;
    if (backBufferHeight_ < 1)
        backBufferHeight_ = 180;

    DXGI_SWAP_CHAIN_DESC desc = {};
    desc.BufferDesc.Width = static_cast<UINT>(backBufferWidth_);
    desc.BufferDesc.Height = static_cast<UINT>(backBufferHeight_);
    desc.BufferDesc.RefreshRate = {0, 1};
    desc.BufferDesc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc = {1, 0};
    desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    desc.BufferCount = 1;
    desc.OutputWindow = window;
    desc.Windowed = TRUE;
    desc.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;

    // Not single-threaded: Grelm's worker opens shared textures on this device.
    const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
    HRESULT result = D3D11CreateDeviceAndSwapChain(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0,
                                                   &level, 1, D3D11_SDK_VERSION, &desc, &swapChain_,
                                                   &device_, nullptr, &context_);
    createDeviceResult_ = result;
    if (!Check(PresenterCall::CreateDevice, result)) {
        return false;
    }
    return CreateBackBufferView() && CompileShaders();
}

bool FramePresenter::Check(PresenterCall call, HRESULT result) {
    result = Result(call, result);
    if (SUCCEEDED(result)) {
        return true;
    }
    // Other failure codes can hide a removal too; the device knows.
    if (IsDeviceLossCode(result) || (device_ && FAILED(device_->GetDeviceRemovedReason()))) {
        if (!deviceLost_) {
            HostLog("[D3D11] device lost (0x%08lX)", static_cast<unsigned long>(result));
        }
        deviceLost_ = true;
    }
    return false;
}

bool FramePresenter::RecreateDevice() {
    HWND window = window_;
    ReleaseResources();
    textureWidth_ = 0;
    textureHeight_ = 0;
    deviceLost_ = false;
    if (Initialize(window)) {
        return true;
    }
    ReleaseResources();  // nothing half made stays
    deviceLost_ = true;
    return false;
}

bool FramePresenter::CreateBackBufferView() {
    ComPtr<ID3D11Texture2D> backBuffer;
    if (!Check(PresenterCall::CreateView, swapChain_->GetBuffer(0, IID_PPV_ARGS(&backBuffer)))) {
        return false;
    }
    return Check(PresenterCall::CreateView,
                 device_->CreateRenderTargetView(backBuffer.Get(), nullptr, &backBufferView_));
}

bool FramePresenter::CompileShaders() {
    ComPtr<ID3DBlob> vertexCode =
        Compile(kVertexShader, "vs", "vs_5_0", "[D3D11] VS compile error: %s");
    if (!vertexCode ||
        FAILED(device_->CreateVertexShader(vertexCode->GetBufferPointer(),
                                           vertexCode->GetBufferSize(), nullptr, &vertexShader_))) {
        return false;
    }
    ComPtr<ID3DBlob> pixelCode =
        Compile(kPixelShader, "ps", "ps_5_0", "[D3D11] PS compile error: %s");
    if (!pixelCode ||
        FAILED(device_->CreatePixelShader(pixelCode->GetBufferPointer(), pixelCode->GetBufferSize(),
                                          nullptr, &pixelShader_))) {
        return false;
    }
    D3D11_SAMPLER_DESC sampler = {};
    sampler.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
    sampler.AddressU = D3D11_TEXTURE_ADDRESS_CLAMP;
    sampler.AddressV = D3D11_TEXTURE_ADDRESS_CLAMP;
    sampler.AddressW = D3D11_TEXTURE_ADDRESS_CLAMP;
    sampler.ComparisonFunc = D3D11_COMPARISON_NEVER;
    sampler.MaxLOD = D3D11_FLOAT32_MAX;
    return SUCCEEDED(device_->CreateSamplerState(&sampler, &sampler_));
}

bool FramePresenter::ResizeSwapChain(int width, int height) {
    if (width < 1 || height < 1) {
        return false;
    }
    if (width == backBufferWidth_ && height == backBufferHeight_) {
        return true;
    }
    backBufferView_.Reset();
    // The context still holds the view bound by the last draw, and with it the back
    // buffer; ResizeBuffers fails while any reference to a buffer is outstanding.
    context_->OMSetRenderTargets(0, nullptr, nullptr);
    if (!Check(PresenterCall::ResizeBuffers,
               swapChain_->ResizeBuffers(0, static_cast<UINT>(width), static_cast<UINT>(height),
                                         DXGI_FORMAT_UNKNOWN, 0))) {
        return false;  // no view until the frame size changes again
    }
    backBufferWidth_ = width;
    backBufferHeight_ = height;
    return CreateBackBufferView();
}

void FramePresenter::FollowFrameSize(int width, int height) {
    textureWidth_ = width;
    textureHeight_ = height;
    if (sizing_ == nullptr || sizing_->FrameSizeChanged(width, height)) {
        ResizeWindow(width, height);
    }
    ResizeSwapChain(width, height);
}

void FramePresenter::ResizeWindow(int width, int height) {
    if (window_ != nullptr) {
        SetWindowPos(window_, nullptr, 0, 0, width, height,
                     SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOMOVE);
    }
}

void FramePresenter::KeepWindowSize(bool kept) {
    if (sizing_ != nullptr && sizing_->SetKept(kept, textureWidth_, textureHeight_)) {
        ResizeWindow(textureWidth_, textureHeight_);
    }
}

D3D11_TEXTURE2D_DESC FrameTextureDesc(int width, int height) {
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = static_cast<UINT>(width);
    desc.Height = static_cast<UINT>(height);
    desc.MipLevels = 1;
    desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc = {1, 0};
    desc.Usage = D3D11_USAGE_DYNAMIC;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_WRITE;
    return desc;
}

bool FramePresenter::CreateFrameTexture(int width, int height, ComPtr<ID3D11Texture2D>& texture,
                                        ComPtr<ID3D11ShaderResourceView>& view) {
    view.Reset();
    texture.Reset();
    if (!device_ || width < 1 || height < 1) {
        return false;
    }
    const D3D11_TEXTURE2D_DESC desc = FrameTextureDesc(width, height);
    if (!Check(PresenterCall::CreateTexture, device_->CreateTexture2D(&desc, nullptr, &texture)) ||
        !Check(PresenterCall::CreateView,
               device_->CreateShaderResourceView(texture.Get(), nullptr, &view))) {
        view.Reset();
        texture.Reset();  // nothing half made
        return false;
    }
    return true;
}

bool FramePresenter::MapFrameTexture(ID3D11Texture2D* texture, D3D11_MAPPED_SUBRESOURCE& mapped) {
    mapped = {};
    return context_ && texture != nullptr &&
           Check(PresenterCall::Map,
                 context_->Map(texture, 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped));
}

void FramePresenter::ShowFrameTexture(ID3D11Texture2D* texture, ID3D11ShaderResourceView* view,
                                      int width, int height) {
    frameTexture_ = texture;
    frameView_ = view;
    if (width != textureWidth_ || height != textureHeight_) {
        FollowFrameSize(width, height);
    }
}

bool FramePresenter::UploadFrame(const unsigned char* pixels, int width, int height,
                                 int strideBytes) {
    // An empty frame, or rows that do not run forward, is refused before anything is
    // released, so the last picture and its texture stay as they were.
    if (!device_ || !context_ || pixels == nullptr || width < 1 || height < 1 || strideBytes < 1) {
        return false;
    }
    // A texture lost to a failed creation is made again even at the old size.
    if (!frameTexture_ || width != textureWidth_ || height != textureHeight_) {
        // Never keep a texture whose size is not recorded.
        if (!CreateFrameTexture(width, height, frameTexture_, frameView_)) {
            return false;
        }
        FollowFrameSize(width, height);
    }
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    if (!MapFrameTexture(frameTexture_.Get(), mapped)) {
        return false;
    }
    CopyFrameRows(static_cast<unsigned char*>(mapped.pData), mapped.RowPitch, pixels,
                  static_cast<size_t>(strideBytes), width, height);
    context_->Unmap(frameTexture_.Get(), 0);
    return true;
}

void FramePresenter::Render() {
    if (!context_ || !backBufferView_ || !frameView_) {
        return;
    }
    DrawAndPresent();
}

void FramePresenter::DrawAndPresent() {
    ID3D11RenderTargetView* target = backBufferView_.Get();
    context_->OMSetRenderTargets(1, &target, nullptr);
    D3D11_VIEWPORT viewport = {
        0.0f, 0.0f, static_cast<float>(backBufferWidth_), static_cast<float>(backBufferHeight_),
        0.0f, 1.0f};
    context_->RSSetViewports(1, &viewport);
    context_->VSSetShader(vertexShader_.Get(), nullptr, 0);
    context_->PSSetShader(pixelShader_.Get(), nullptr, 0);
    ID3D11ShaderResourceView* view = frameView_.Get();
    context_->PSSetShaderResources(0, 1, &view);
    ID3D11SamplerState* sampler = sampler_.Get();
    context_->PSSetSamplers(0, 1, &sampler);
    context_->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    context_->IASetInputLayout(nullptr);
    context_->Draw(3, 0);
    Present();
}

void FramePresenter::Present() {
    Check(PresenterCall::Present, swapChain_->Present(0, 0));
}

void FramePresenter::ReleaseResources() {
    // Unbinds the views the last draw left on the context, so that the swap chain is gone
    // once its references are: a new one may then be made on the same window.
    if (context_) {
        context_->ClearState();
        context_->Flush();
    }
    frameView_.Reset();
    frameTexture_.Reset();
    sampler_.Reset();
    pixelShader_.Reset();
    vertexShader_.Reset();
    backBufferView_.Reset();
    swapChain_.Reset();
    context_.Reset();
    device_.Reset();
}
