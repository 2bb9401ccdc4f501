// FramePresenter::PresentTexture, Grelm's frame operation: copies the sender's texture
// on the graphics card into the presenter's own copy target and draws it. Main thread
// only, under the texture slot's lock. Built into Grelm only.
#include <cstdint>

#include "frame_presenter.h"
#include "log.h"
#include "texture_format.h"

using Microsoft::WRL::ComPtr;

namespace {

// The last refused format, so that a sender stuck on one logs it once, not every frame.
// Main thread only.
uint32_t lastRefusedFormat = 0;

bool TargetMatches(ID3D11Texture2D* target, const D3D11_TEXTURE2D_DESC& source,
                   const CopyTargetPlan& plan) {
    if (target == nullptr) {
        return false;
    }
    D3D11_TEXTURE2D_DESC desc = {};
    target->GetDesc(&desc);
    return desc.Width == source.Width && desc.Height == source.Height &&
           desc.MipLevels == source.MipLevels &&
           static_cast<uint32_t>(desc.Format) == plan.textureFormat;
}

bool CanSample(ID3D11Device* device, uint32_t viewFormat) {
    UINT support = 0;
    return SUCCEEDED(device->CheckFormatSupport(static_cast<DXGI_FORMAT>(viewFormat), &support)) &&
           (support & D3D11_FORMAT_SUPPORT_SHADER_SAMPLE) != 0;
}

// A copy target of the source's own size, mip count and type group, so that
// CopyResource is legal; only the graphics card reads and writes it. Returns the first
// failure, leaving no half-made target.
HRESULT CreateCopyTarget(ID3D11Device* device, const D3D11_TEXTURE2D_DESC& source,
                         const CopyTargetPlan& plan, ComPtr<ID3D11Texture2D>& texture,
                         ComPtr<ID3D11ShaderResourceView>& view) {
    view.Reset();
    texture.Reset();
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = source.Width;
    desc.Height = source.Height;
    desc.MipLevels = source.MipLevels;
    desc.ArraySize = 1;
    desc.Format = static_cast<DXGI_FORMAT>(plan.textureFormat);
    desc.SampleDesc = {1, 0};
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    HRESULT result = device->CreateTexture2D(&desc, nullptr, &texture);
    if (FAILED(result)) {
        return result;
    }
    D3D11_SHADER_RESOURCE_VIEW_DESC viewDesc = {};
    viewDesc.Format = static_cast<DXGI_FORMAT>(plan.viewFormat);
    viewDesc.ViewDimension = D3D11_SRV_DIMENSION_TEXTURE2D;
    viewDesc.Texture2D.MipLevels = static_cast<UINT>(-1);
    const bool sameFormat = plan.viewFormat == plan.textureFormat;
    result =
        device->CreateShaderResourceView(texture.Get(), sameFormat ? nullptr : &viewDesc, &view);
    if (FAILED(result)) {
        texture.Reset();
    }
    return result;
}

}  // namespace

bool FramePresenter::PresentTexture(ID3D11Texture2D* source, int width, int height) {
    if (!device_ || !context_ || source == nullptr) {
        return false;
    }
    D3D11_TEXTURE2D_DESC sourceDesc = {};
    source->GetDesc(&sourceDesc);
    const CopyTargetPlan plan = PlanCopyTarget({static_cast<uint32_t>(sourceDesc.Format),
                                                sourceDesc.SampleDesc.Count, sourceDesc.ArraySize});
    if (!TargetMatches(frameTexture_.Get(), sourceDesc, plan)) {
        // The picture shown last stays when a texture cannot be drawn.
        if (!plan.drawable || !CanSample(device_.Get(), plan.viewFormat)) {
            if (lastRefusedFormat != static_cast<uint32_t>(sourceDesc.Format)) {
                lastRefusedFormat = static_cast<uint32_t>(sourceDesc.Format);
                HostLog("[Spout] PresentTexture: cannot draw DXGI format %u (%s)",
                        static_cast<unsigned>(sourceDesc.Format),
                        plan.drawable ? "no sampling support" : plan.reason);
            }
            return false;
        }
        if (static_cast<int>(sourceDesc.Width) != width ||
            static_cast<int>(sourceDesc.Height) != height) {
            HostLog("[Spout] PresentTexture: texture is %ux%u, the sender announced %dx%d",
                    sourceDesc.Width, sourceDesc.Height, width, height);
        }
        if (!Check(PresenterCall::CreateTexture,
                   CreateCopyTarget(device_.Get(), sourceDesc, plan, frameTexture_, frameView_))) {
            return false;
        }
        lastRefusedFormat = 0;
        // Window and swap chain follow the texture's real size, not the announced one.
        const int realWidth = static_cast<int>(sourceDesc.Width);
        const int realHeight = static_cast<int>(sourceDesc.Height);
        if (realWidth != textureWidth_ || realHeight != textureHeight_) {
            FollowFrameSize(realWidth, realHeight);
        }
    }
    context_->CopyResource(frameTexture_.Get(), source);
    DrawAndPresent();
    return true;
}
