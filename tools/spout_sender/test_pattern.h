// The moving test picture of the Spout test sender, written in the texture formats a
// sender may share, and the BGRA bytes a receiver should show for it. Win32-free; used by
// the test sender and by the Grelm tests.
#pragma once

#include <cstdint>
#include <vector>

// DXGI format numbers the test sender can share.
enum class PatternFormat : uint32_t {
    B8G8R8A8 = 87,
    R8G8B8A8 = 28,
    R10G10B10A2 = 24,
    R16G16B16A16Float = 10,
    R32G32B32A32Float = 2,
};

// "bgra8", "rgba8", "rgb10a2", "rgba16f", "rgba32f".
bool ParsePatternFormat(const char* text, PatternFormat& format);
int BytesPerPixel(PatternFormat format);

struct Bgra {
    uint8_t b, g, r, a;
};

// The picture at one frame: it moves one pixel to the right per frame.
Bgra PatternPixel(int x, int y, int frame);

// Tightly packed rows of the picture in `format`; row pitch = width x BytesPerPixel.
std::vector<unsigned char> RenderPattern(PatternFormat format, int width, int height, int frame);
