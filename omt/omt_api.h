// Our own declarations of the part of libomt's interface that Parlex uses: four receiving
// C exports and the discovery export, the enum values passed to them and the few fields
// of the media-frame record that are read. Win32-free; shared by the receiver, its source
// finder and the simulated library.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {

// The library's receive instance; opaque to us.
struct OmtReceiveInstance;

enum OmtFrameType : int32_t {
    kOmtFrameNone = 0,
    kOmtFrameMetadata = 1,
    kOmtFrameVideo = 2,
    kOmtFrameAudio = 4,
};

enum OmtPreferredVideoFormat : int32_t {
    kOmtFormatUyvy = 0,
    kOmtFormatUyvyOrBgra = 1,
    kOmtFormatBgra = 2,
};

enum OmtReceiveFlags : int32_t {
    kOmtReceiveFlagsNone = 0,
};

enum OmtQuality : int32_t {
    kOmtQualityDefault = 0,
    kOmtQualityLow = 1,
    kOmtQualityMedium = 50,
    kOmtQualityHigh = 100,
};

// The library's record is 112 bytes; only width, height, stride, data and data length
// are ours to read. The rest is kept opaque so that nothing comes to depend on it.
struct OmtMediaFrame {
    unsigned char leading[20];
    int32_t width;
    int32_t height;
    int32_t stride;
    unsigned char middle[32];
    void* data;
    int32_t dataLength;
    unsigned char trailing[36];
};

using OmtReceiveCreateFn = OmtReceiveInstance* (*)(const char* address, OmtFrameType frameTypes,
                                                   OmtPreferredVideoFormat format,
                                                   OmtReceiveFlags flags);
using OmtReceiveDestroyFn = void (*)(OmtReceiveInstance* instance);
using OmtReceiveFn = OmtMediaFrame* (*)(OmtReceiveInstance* instance, OmtFrameType frameTypes,
                                        int timeoutMs);
using OmtReceiveSetSuggestedQualityFn = void (*)(OmtReceiveInstance* instance, OmtQuality quality);
// Not in every version of the library. The array and its strings belong to the library
// and stay valid until the next call; null (or a count of 0) when nothing is known yet.
using OmtDiscoveryGetAddressesFn = char** (*)(int* count);

}  // extern "C"

static_assert(offsetof(OmtMediaFrame, width) == 20, "OmtMediaFrame width");
static_assert(offsetof(OmtMediaFrame, height) == 24, "OmtMediaFrame height");
static_assert(offsetof(OmtMediaFrame, stride) == 28, "OmtMediaFrame stride");
static_assert(offsetof(OmtMediaFrame, data) == 64, "OmtMediaFrame data");
static_assert(offsetof(OmtMediaFrame, dataLength) == 72, "OmtMediaFrame data length");
static_assert(sizeof(OmtMediaFrame) == 112, "OmtMediaFrame size");

// Whether a returned record is a video frame the host may copy: data present, and
// height rows of stride bytes, each holding width 4-byte pixels, inside the data length.
// The host copies height x stride bytes, so a record that claims more than it carries
// is refused rather than read past its end.
inline bool IsUsableVideoFrame(const OmtMediaFrame* frame) {
    if (frame == nullptr || frame->data == nullptr || frame->dataLength <= 0) {
        return false;
    }
    if (frame->width <= 0 || frame->height <= 0 ||
        static_cast<int64_t>(frame->stride) < static_cast<int64_t>(frame->width) * 4) {
        return false;
    }
    return static_cast<int64_t>(frame->stride) * frame->height <= frame->dataLength;
}
