#include "readback_presenter.h"

#include <cstring>

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

ID3D11Texture2D* ReadbackPresenter::BackBuffer() const {
    ComPtr<ID3D11Texture2D> buffer;
    if (!swapChain_ || FAILED(swapChain_->GetBuffer(0, IID_PPV_ARGS(&buffer)))) {
        return nullptr;
    }
    return buffer.Get();  // the swap chain keeps it alive; only its identity is compared
}

void ReadbackPresenter::Present() {
    ++presents;
    ReadBack();
    FramePresenter::Present();
}

void ReadbackPresenter::ReadBack() {
    picture.clear();
    width = height = 0;
    ComPtr<ID3D11Texture2D> buffer;
    if (FAILED(swapChain_->GetBuffer(0, IID_PPV_ARGS(&buffer)))) {
        return;
    }
    D3D11_TEXTURE2D_DESC desc = {};
    buffer->GetDesc(&desc);
    desc.Usage = D3D11_USAGE_STAGING;
    desc.BindFlags = 0;
    desc.CPUAccessFlags = D3D11_CPU_ACCESS_READ;
    desc.MiscFlags = 0;
    ComPtr<ID3D11Texture2D> staging;
    if (FAILED(device_->CreateTexture2D(&desc, nullptr, &staging))) {
        return;
    }
    context_->CopyResource(staging.Get(), buffer.Get());
    D3D11_MAPPED_SUBRESOURCE mapped = {};
    if (FAILED(context_->Map(staging.Get(), 0, D3D11_MAP_READ, 0, &mapped))) {
        return;
    }
    width = static_cast<int>(desc.Width);
    height = static_cast<int>(desc.Height);
    const size_t rowBytes = static_cast<size_t>(width) * 4;
    picture.resize(rowBytes * static_cast<size_t>(height));
    const auto* source = static_cast<const unsigned char*>(mapped.pData);
    for (int row = 0; row < height; ++row) {
        std::memcpy(picture.data() + row * rowBytes, source + row * size_t{mapped.RowPitch},
                    rowBytes);
    }
    context_->Unmap(staging.Get(), 0);
}
