// Our own declarations of the NDI runtime's binary interface: the v5 function table (107
// pointer slots; only the members we call are named: receiving and the source finder),
// the records those members fill and the enum values we use. Layouts are x64 Windows; the
// static_asserts pin every offset we rely on. Shared by the receiver, its source finder and
// the simulated runtime; no thread state of its own.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ndi {

struct RecvInstanceType;  // opaque, owned by the runtime
using RecvInstance = RecvInstanceType*;
struct FindInstanceType;  // opaque, owned by the runtime
using FindInstance = FindInstanceType*;

enum class FrameType : int32_t {
    kNone = 0,
    kVideo = 1,
    kAudio = 2,
    kMetadata = 3,
    kError = 4,
    kStatusChange = 100,
    kSourceChange = 101,
    kMax = 0x7FFFFFFF,
};

enum class ColorFormat : int32_t { kBgrxBgra = 0, kUyvyBgra = 1, kMax = 0x7FFFFFFF };

enum class Bandwidth : int32_t {
    kMetadataOnly = -10,
    kLowest = 0,
    kAudioOnly = 10,
    kHighest = 100,
    kMax = 0x7FFFFFFF,
};

enum class FrameFormat : int32_t {
    kInterleaved = 0,
    kProgressive = 1,
    kField0 = 2,
    kField1 = 3,
    kMax = 0x7FFFFFFF,
};

constexpr int32_t MakeFourCc(char a, char b, char c, char d) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned char>(a)) |
                                static_cast<uint32_t>(static_cast<unsigned char>(b)) << 8 |
                                static_cast<uint32_t>(static_cast<unsigned char>(c)) << 16 |
                                static_cast<uint32_t>(static_cast<unsigned char>(d)) << 24);
}
constexpr int32_t kFourCcUyvy = MakeFourCc('U', 'Y', 'V', 'Y');
constexpr int32_t kFourCcBgra = MakeFourCc('B', 'G', 'R', 'A');
constexpr int64_t kTimecodeDefault = INT64_MAX;

struct Source {
    const char* ndiName;
    const char* urlAddress;
};

// Null groups and extra addresses mean the runtime's defaults.
struct FindCreate {
    bool showLocalSources;
    const char* groups;
    const char* extraIps;
};

struct RecvCreateV3 {
    Source sourceToConnectTo;
    ColorFormat colorFormat;
    Bandwidth bandwidth;
    bool allowVideoFields;
    const char* recvName;
};

struct VideoFrameV2 {
    int xres;
    int yres;
    int32_t fourCc;
    int frameRateN;
    int frameRateD;
    float pictureAspectRatio;
    FrameFormat frameFormat;
    int64_t timecode;
    uint8_t* data;
    int lineStrideBytes;
    const char* metadata;
    int64_t timestamp;
};

struct AudioFrameV2 {
    int sampleRate;
    int channels;
    int samples;
    int64_t timecode;
    float* data;
    int channelStrideBytes;
    const char* metadata;
    int64_t timestamp;
};

struct MetadataFrame {
    int length;
    int64_t timecode;
    char* data;
};

struct Tally {
    bool onProgram;
    bool onPreview;
};

// The reset values the runtime expects before a capture overwrites them.
inline VideoFrameV2 DefaultVideoFrame() {
    return VideoFrameV2{
        0,       0, kFourCcUyvy, 30000, 1001, 0.0f, FrameFormat::kProgressive, kTimecodeDefault,
        nullptr, 0, nullptr,     0};
}
inline AudioFrameV2 DefaultAudioFrame() {
    return AudioFrameV2{48000, 2, 0, kTimecodeDefault, nullptr, 0, nullptr, 0};
}
inline MetadataFrame DefaultMetadataFrame() {
    return MetadataFrame{0, kTimecodeDefault, nullptr};
}

using UnusedSlot = void (*)();

// The v5 table. Later runtimes hand out longer tables that begin with this same layout,
// so every member is reached by its v5 slot whichever load entry produced the table.
struct ApiV5 {
    bool (*initialize)();                                          // 0
    void (*destroy)();                                             // 1
    UnusedSlot unused2To4[3];                                      // 2..4
    FindInstance (*findCreateV2)(const FindCreate*);               // 5
    void (*findDestroy)(FindInstance);                             // 6
    UnusedSlot unused7To22[16];                                    // 7..22
    void (*recvDestroy)(RecvInstance);                             // 23
    UnusedSlot unused24To26[3];                                    // 24..26
    void (*recvFreeMetadata)(RecvInstance, const MetadataFrame*);  // 27
    UnusedSlot unused28[1];                                        // 28
    bool (*recvSetTally)(RecvInstance, const Tally*);              // 29
    UnusedSlot unused30To41[12];                                   // 30..41
    bool (*findWaitForSources)(FindInstance, uint32_t timeoutMs);  // 42
    // The array and its strings stay valid until the next call on that finder.
    const Source* (*findGetCurrentSources)(FindInstance, uint32_t* count);  // 43
    UnusedSlot unused44To46[3];                                             // 44..46
    void (*recvFreeVideoV2)(RecvInstance, const VideoFrameV2*);             // 47
    void (*recvFreeAudioV2)(RecvInstance, const AudioFrameV2*);             // 48
    FrameType (*recvCaptureV2)(RecvInstance, VideoFrameV2*, AudioFrameV2*, MetadataFrame*,
                               uint32_t timeoutMs);     // 49
    UnusedSlot unused50To83[34];                        // 50..83
    RecvInstance (*recvCreateV3)(const RecvCreateV3*);  // 84
    UnusedSlot unused85To106[22];                       // 85..106
};

using LoadEntry = const ApiV5* (*)();
constexpr const char* kRuntimeFileName = "Processing.NDI.Lib.x64.dll";
constexpr const char* kLoadV6Name = "NDIlib_v6_load";
constexpr const char* kLoadV5Name = "NDIlib_v5_load";

#if defined(_WIN64)
static_assert(sizeof(ApiV5) == 107 * 8, "the v5 table has 107 slots");
static_assert(offsetof(ApiV5, destroy) == 8, "slot 1");
static_assert(offsetof(ApiV5, findCreateV2) == 40, "slot 5");
static_assert(offsetof(ApiV5, findDestroy) == 48, "slot 6");
static_assert(offsetof(ApiV5, recvDestroy) == 184, "slot 23");
static_assert(offsetof(ApiV5, recvFreeMetadata) == 216, "slot 27");
static_assert(offsetof(ApiV5, recvSetTally) == 232, "slot 29");
static_assert(offsetof(ApiV5, findWaitForSources) == 336, "slot 42");
static_assert(offsetof(ApiV5, findGetCurrentSources) == 344, "slot 43");
static_assert(offsetof(ApiV5, recvFreeVideoV2) == 376, "slot 47");
static_assert(offsetof(ApiV5, recvFreeAudioV2) == 384, "slot 48");
static_assert(offsetof(ApiV5, recvCaptureV2) == 392, "slot 49");
static_assert(offsetof(ApiV5, recvCreateV3) == 672, "slot 84");

static_assert(sizeof(Source) == 16, "source record");
static_assert(sizeof(FindCreate) == 24, "find create record");
static_assert(offsetof(FindCreate, groups) == 8, "");
static_assert(offsetof(FindCreate, extraIps) == 16, "");

static_assert(sizeof(RecvCreateV3) == 40, "recv create v3 record");
static_assert(offsetof(RecvCreateV3, colorFormat) == 16, "");
static_assert(offsetof(RecvCreateV3, bandwidth) == 20, "");
static_assert(offsetof(RecvCreateV3, allowVideoFields) == 24, "");
static_assert(offsetof(RecvCreateV3, recvName) == 32, "");

static_assert(sizeof(VideoFrameV2) == 72, "video frame v2 record");
static_assert(offsetof(VideoFrameV2, frameFormat) == 24, "");
static_assert(offsetof(VideoFrameV2, timecode) == 32, "");
static_assert(offsetof(VideoFrameV2, data) == 40, "");
static_assert(offsetof(VideoFrameV2, lineStrideBytes) == 48, "");
static_assert(offsetof(VideoFrameV2, metadata) == 56, "");
static_assert(offsetof(VideoFrameV2, timestamp) == 64, "");

static_assert(sizeof(AudioFrameV2) == 56, "audio frame v2 record");
static_assert(offsetof(AudioFrameV2, timecode) == 16, "");
static_assert(offsetof(AudioFrameV2, data) == 24, "");
static_assert(offsetof(AudioFrameV2, channelStrideBytes) == 32, "");
static_assert(offsetof(AudioFrameV2, metadata) == 40, "");
static_assert(offsetof(AudioFrameV2, timestamp) == 48, "");

static_assert(sizeof(MetadataFrame) == 24, "metadata frame record");
static_assert(offsetof(MetadataFrame, data) == 16, "");
static_assert(sizeof(Tally) == 2, "tally record");
#endif

}  // namespace ndi
