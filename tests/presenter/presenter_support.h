// Test support for the frame presenter: a real host window and patterned frames in
// guarded memory, checked against what ReadbackPresenter read back. Main thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include <windows.h>

#include "host_kind.h"
#include "readback_presenter.h"

// Owns a host window made by CreateHostWindow under a class of the test's own.
class TestWindow {
public:
    TestWindow(int width, int height);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND Get() const { return window_; }
    RECT Rect() const;
    RECT Client() const;

private:
    HWND window_ = nullptr;
};

const HostTraits& TestTraits();

// A patterned frame of exactly height x strideBytes bytes whose end touches an
// inaccessible page, so that reading a byte too far faults instead of passing unnoticed.
class GuardedFrame {
public:
    GuardedFrame(int width, int height, int strideBytes, int seed = 0);
    ~GuardedFrame();
    GuardedFrame(const GuardedFrame&) = delete;
    GuardedFrame& operator=(const GuardedFrame&) = delete;

    const unsigned char* Data() const { return data_; }
    int width() const { return width_; }
    int height() const { return height_; }
    int stride() const { return stride_; }

private:
    void* block_ = nullptr;
    unsigned char* data_ = nullptr;
    int width_;
    int height_;
    int stride_;
};

// The pattern byte of channel `channel` (0..3) of pixel (x, y); `seed` tells frames apart.
unsigned char PatternByte(int x, int y, int channel, int seed = 0);
// Padding bytes past width x 4 in a row: never the pattern.
constexpr unsigned char kPaddingByte = 0xEE;

// Fills `bytes` per row with the pattern and the rest of the stride with padding.
void FillPattern(unsigned char* data, int width, int height, int strideBytes, int seed = 0);

// Counts mismatches between the read-back picture and the pattern, over the first
// `bytesPerRow` bytes of each row (the whole row when it is width x 4).
size_t CountMismatches(const ReadbackPresenter& presenter, int width, int height, int bytesPerRow,
                       int seed = 0);
