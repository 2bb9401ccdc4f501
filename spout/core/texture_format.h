// Which shared textures the presenter can draw, and in what form it copies them: the
// copy target takes the sender's own format so that the copy is legal, and its view is
// sampled into the B8G8R8A8 back buffer. Formats are DXGI format numbers. Win32-free;
// used by the main thread's PresentTexture.
#pragma once

#include <cstdint>

constexpr uint32_t kFormatB8G8R8A8Unorm = 87;

struct SharedTextureShape {
    uint32_t format = 0;
    uint32_t sampleCount = 1;
    uint32_t arraySize = 1;
};

struct CopyTargetPlan {
    bool drawable = false;
    uint32_t textureFormat = 0;  // copy target, same type group as the source
    uint32_t viewFormat = 0;     // shader-resource view on the copy target
    const char* reason = "";     // why a texture cannot be drawn (diagnostics)
};

// sRGB sources are copied into their typeless group and viewed as UNORM, so their bytes
// reach the back buffer unchanged instead of being linearised by the sampler.
CopyTargetPlan PlanCopyTarget(const SharedTextureShape& shape);
