#include "texture_format.h"

#include <algorithm>
#include <iterator>

namespace {

// Colour formats that a float4 Texture2D can sample: float, UNORM and SNORM, neither
// typeless, nor depth, nor block-compressed, nor video.
constexpr uint32_t kSampled[] = {
    2,    // R32G32B32A32_FLOAT
    6,    // R32G32B32_FLOAT
    10,   // R16G16B16A16_FLOAT
    11,   // R16G16B16A16_UNORM
    13,   // R16G16B16A16_SNORM
    16,   // R32G32_FLOAT
    24,   // R10G10B10A2_UNORM
    26,   // R11G11B10_FLOAT
    28,   // R8G8B8A8_UNORM
    31,   // R8G8B8A8_SNORM
    34,   // R16G16_FLOAT
    35,   // R16G16_UNORM
    37,   // R16G16_SNORM
    41,   // R32_FLOAT
    49,   // R8G8_UNORM
    51,   // R8G8_SNORM
    54,   // R16_FLOAT
    56,   // R16_UNORM
    58,   // R16_SNORM
    61,   // R8_UNORM
    63,   // R8_SNORM
    65,   // A8_UNORM
    67,   // R9G9B9E5_SHAREDEXP
    85,   // B5G6R5_UNORM
    86,   // B5G5R5A1_UNORM
    87,   // B8G8R8A8_UNORM
    88,   // B8G8R8X8_UNORM
    115,  // B4G4R4A4_UNORM
};

struct SrgbGroup {
    uint32_t srgb;
    uint32_t typeless;
    uint32_t unorm;
};

constexpr SrgbGroup kSrgbGroups[] = {
    {29, 27, 28},  // R8G8B8A8
    {91, 90, 87},  // B8G8R8A8
    {93, 92, 88},  // B8G8R8X8
};

constexpr uint32_t kTypeless[] = {1,  5,  9,  15, 19, 21, 22, 23, 27, 33, 39, 44, 46,
                                  47, 48, 53, 60, 70, 73, 76, 79, 82, 90, 92, 94, 97};
constexpr uint32_t kDepth[] = {20, 40, 45, 55};
constexpr uint32_t kInteger[] = {3,  4,  7,  8,  12, 14, 17, 18, 25, 30, 32,
                                 36, 38, 42, 43, 50, 52, 57, 59, 62, 64};

template <size_t N>
bool Contains(const uint32_t (&list)[N], uint32_t value) {
    return std::find(std::begin(list), std::end(list), value) != std::end(list);
}

bool IsCompressed(uint32_t format) {
    return (format >= 70 && format <= 84) || (format >= 94 && format <= 99);
}

const char* Unsamplable(uint32_t format) {
    if (Contains(kTypeless, format))
        return "typeless";
    if (Contains(kDepth, format))
        return "depth-stencil";
    if (IsCompressed(format))
        return "block-compressed";
    if (Contains(kInteger, format))
        return "integer";
    if (format == 0)
        return "unknown";
    return "not sampled as colour";
}

}  // namespace

CopyTargetPlan PlanCopyTarget(const SharedTextureShape& shape) {
    CopyTargetPlan plan;
    if (shape.sampleCount != 1) {
        plan.reason = "multisampled";
        return plan;
    }
    if (shape.arraySize != 1) {
        plan.reason = "texture array";
        return plan;
    }
    for (const SrgbGroup& group : kSrgbGroups) {
        if (group.srgb == shape.format) {
            plan.drawable = true;
            plan.textureFormat = group.typeless;
            plan.viewFormat = group.unorm;
            return plan;
        }
    }
    if (Contains(kSampled, shape.format)) {
        plan.drawable = true;
        plan.textureFormat = shape.format;
        plan.viewFormat = shape.format;
        return plan;
    }
    plan.reason = Unsamplable(shape.format);
    return plan;
}
