#include "presenter_support.h"

#include <algorithm>

#include "host_window.h"

const HostTraits& TestTraits() {
    static const HostTraits kTraits{"PresenterTest", L"PresenterTestWindowClass", L"PresenterTest",
                                    "--source=", true};
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
    if (presenter.width != width || presenter.height != height) {
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
