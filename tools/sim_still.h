// The still picture of both simulated runtimes (the `still` token): four quadrants of
// fixed colours and nothing that moves, so that a test can tell what any point of the
// shown picture must hold, whatever the frame and however the picture is scaled. BGRA:
// top left red, top right green, bottom left blue, bottom right white; a quadrant boundary
// at width / 2 and height / 2. Padding bytes beyond width x 4 are left as they are.
#pragma once

#include <cstdint>
#include <cstring>

inline void DrawStillPicture(uint8_t* pixels, int width, int height, int stride) {
    static const uint8_t kQuadrants[4][4] = {
        {0, 0, 255, 255}, {0, 255, 0, 255}, {255, 0, 0, 255}, {255, 255, 255, 255}};
    for (int y = 0; y < height; ++y) {
        uint8_t* row = pixels + static_cast<size_t>(y) * static_cast<size_t>(stride);
        const int lower = y >= height / 2 ? 2 : 0;
        for (int x = 0; x < width; ++x) {
            std::memcpy(row + x * 4, kQuadrants[lower + (x >= width / 2 ? 1 : 0)], 4);
        }
    }
}
