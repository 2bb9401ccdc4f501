#include "test_pattern.h"

#include <cstring>

namespace {

struct FormatName {
    const char* name;
    PatternFormat format;
};

constexpr FormatName kFormatNames[] = {
    {"bgra8", PatternFormat::B8G8R8A8},
    {"rgba8", PatternFormat::R8G8B8A8},
    {"rgb10a2", PatternFormat::R10G10B10A2},
    {"rgba16f", PatternFormat::R16G16B16A16Float},
    {"rgba32f", PatternFormat::R32G32B32A32Float},
};

// Half precision of a value in [0, 1]; exact enough for every 8-bit level.
uint16_t ToHalf(float value) {
    if (value <= 0.0f) {
        return 0;
    }
    uint32_t bits = 0;
    std::memcpy(&bits, &value, sizeof(bits));
    const int exponent = static_cast<int>((bits >> 23) & 0xFF) - 127 + 15;
    uint32_t mantissa = bits & 0x7FFFFF;
    if (exponent <= 0) {
        // Subnormal half: shift the implicit one in.
        mantissa |= 0x800000;
        return static_cast<uint16_t>(mantissa >> (14 - exponent));
    }
    // Round to nearest on the dropped 13 bits.
    uint32_t half = (static_cast<uint32_t>(exponent) << 10) | (mantissa >> 13);
    if ((mantissa & 0x1FFF) > 0x1000) {
        ++half;
    }
    return static_cast<uint16_t>(half);
}

uint32_t To10Bits(uint8_t level) {
    return (static_cast<uint32_t>(level) * 1023 + 127) / 255;
}

void WritePixel(PatternFormat format, const Bgra& p, unsigned char* out) {
    const float r = p.r / 255.0f, g = p.g / 255.0f, b = p.b / 255.0f, a = p.a / 255.0f;
    switch (format) {
        case PatternFormat::B8G8R8A8: {
            const unsigned char bytes[4] = {p.b, p.g, p.r, p.a};
            std::memcpy(out, bytes, 4);
            break;
        }
        case PatternFormat::R8G8B8A8: {
            const unsigned char bytes[4] = {p.r, p.g, p.b, p.a};
            std::memcpy(out, bytes, 4);
            break;
        }
        case PatternFormat::R10G10B10A2: {
            const uint32_t packed = To10Bits(p.r) | (To10Bits(p.g) << 10) | (To10Bits(p.b) << 20) |
                                    (static_cast<uint32_t>(p.a >> 6) << 30);
            std::memcpy(out, &packed, 4);
            break;
        }
        case PatternFormat::R16G16B16A16Float: {
            const uint16_t halves[4] = {ToHalf(r), ToHalf(g), ToHalf(b), ToHalf(a)};
            std::memcpy(out, halves, sizeof(halves));
            break;
        }
        case PatternFormat::R32G32B32A32Float: {
            const float floats[4] = {r, g, b, a};
            std::memcpy(out, floats, sizeof(floats));
            break;
        }
    }
}

}  // namespace

bool ParsePatternFormat(const char* text, PatternFormat& format) {
    for (const FormatName& entry : kFormatNames) {
        if (std::strcmp(entry.name, text) == 0) {
            format = entry.format;
            return true;
        }
    }
    return false;
}

int BytesPerPixel(PatternFormat format) {
    switch (format) {
        case PatternFormat::R16G16B16A16Float:
            return 8;
        case PatternFormat::R32G32B32A32Float:
            return 16;
        default:
            return 4;
    }
}

Bgra PatternPixel(int x, int y, int frame) {
    const int u = x - frame;
    return Bgra{static_cast<uint8_t>((u ^ y) & 0xFF), static_cast<uint8_t>(y & 0xFF),
                static_cast<uint8_t>(u & 0xFF), 255};
}

std::vector<unsigned char> RenderPattern(PatternFormat format, int width, int height, int frame) {
    const size_t pixelBytes = static_cast<size_t>(BytesPerPixel(format));
    std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * pixelBytes);
    unsigned char* out = pixels.data();
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x, out += pixelBytes) {
            WritePixel(format, PatternPixel(x, y, frame), out);
        }
    }
    return pixels;
}
