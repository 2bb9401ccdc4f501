#include "presenter_support.h"

#include <algorithm>
#include <cstring>

#include <wrl/client.h>

#include "host_window.h"

using Microsoft::WRL::ComPtr;

const HostTraits& TestTraits() {
    static const HostTraits kTraits{"PresenterTest",
                                    L"PresenterTestWindowClass",
                                    L"PresenterTest",
                                    "--source=",
                                    "source",
                                    true,
                                    3000};
    return kTraits;
}

TestWindow::TestWindow(int width, int height) {
    CreateHostWindow(GetModuleHandleW(nullptr), TestTraits(), width, height, window_);
}

TestWindow::~TestWindow() {
    DestroyHostWindow(window_);
    // Drop the quit request the destruction posted, so that it cannot end a later loop.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

RECT TestWindow::Rect() const {
    RECT rect = {};
    GetWindowRect(window_, &rect);
    return rect;
}

RECT TestWindow::Client() const {
    RECT rect = {};
    GetClientRect(window_, &rect);
    return rect;
}

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
    pictureWidth = pictureHeight = 0;
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
    pictureWidth = static_cast<int>(desc.Width);
    pictureHeight = static_cast<int>(desc.Height);
    const size_t rowBytes = static_cast<size_t>(pictureWidth) * 4;
    picture.resize(rowBytes * static_cast<size_t>(pictureHeight));
    const auto* source = static_cast<const unsigned char*>(mapped.pData);
    for (int row = 0; row < pictureHeight; ++row) {
        std::memcpy(picture.data() + row * rowBytes, source + row * size_t{mapped.RowPitch},
                    rowBytes);
    }
    context_->Unmap(staging.Get(), 0);
}

GuardedFrame::GuardedFrame(int width, int height, int strideBytes, int seed)
    : width_(width), height_(height), stride_(strideBytes) {
    SYSTEM_INFO info = {};
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    const size_t bytes = static_cast<size_t>(height) * static_cast<size_t>(strideBytes);
    const size_t dataPages = (bytes + page - 1) / page;
    block_ =
        VirtualAlloc(nullptr, (dataPages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (block_ == nullptr) {
        return;
    }
    auto* base = static_cast<unsigned char*>(block_);
    DWORD old = 0;
    VirtualProtect(base + dataPages * page, page, PAGE_NOACCESS, &old);
    data_ = base + dataPages * page - bytes;
    FillPattern(data_, width, height, strideBytes, seed);
}

GuardedFrame::~GuardedFrame() {
    if (block_ != nullptr) {
        VirtualFree(block_, 0, MEM_RELEASE);
    }
}

unsigned char PatternByte(int x, int y, int channel, int seed) {
    // Position, channel and seed all move every byte, so a shifted row, a swapped channel,
    // a flipped picture or a stale frame all show up as mismatches.
    uint32_t h = static_cast<uint32_t>(x) * 0x9E3779B1u ^ static_cast<uint32_t>(y) * 0x85EBCA77u ^
                 static_cast<uint32_t>(channel) * 0xC2B2AE3Du ^
                 static_cast<uint32_t>(seed) * 0x27D4EB2Fu;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 13;
    return static_cast<unsigned char>(h);
}

void FillPattern(unsigned char* data, int width, int height, int strideBytes, int seed) {
    const int patternBytes = std::min(width * 4, strideBytes);
    for (int y = 0; y < height; ++y) {
        unsigned char* row = data + static_cast<size_t>(y) * static_cast<size_t>(strideBytes);
        for (int i = 0; i < strideBytes; ++i) {
            row[i] = i < patternBytes ? PatternByte(i / 4, y, i % 4, seed) : kPaddingByte;
        }
    }
}

size_t CountMismatches(const ReadbackPresenter& presenter, int width, int height, int bytesPerRow,
                       int seed) {
    if (presenter.pictureWidth != width || presenter.pictureHeight != height) {
        return static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
    }
    size_t mismatches = 0;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = presenter.picture.data() + static_cast<size_t>(y) * width * 4;
        for (int i = 0; i < bytesPerRow; ++i) {
            if (row[i] != PatternByte(i / 4, y, i % 4, seed)) {
                ++mismatches;
            }
        }
    }
    return mismatches;
}
