// A simulated NDI runtime (Processing.NDI.Lib.x64.dll) for tests and demos. It exports the
// load entries and hands out a v5 table whose receive members produce frames from a
// script carried in the source name itself, and whose finder members discover the sources
// listed in a file. No networking.
//
// Source name grammar: tokens separated by ';', spaces around each token ignored, unknown
// tokens ignored.
//   pattern:WxH@R     video of W x H pixels at R frames a second (default 320x180@30)
//   novideo           never any video; captures time out
//   silent-after:N    video stops for good after N frames of this process
//   fail-creates:N    the first N receiver creates of this process return null
//   errors-every:N    every Nth capture call of a connection returns the error type
//   audio-meta        each video frame is followed by one audio and one metadata frame
//   null-data         video frames carry no pixel pointer
//   padded-stride     rows are 64 bytes longer than the pixels (padding bytes 0xEE)
//   stall:MS          the capture call after a connection's first video frame blocks MS ms,
//                     ignoring its timeout (a runtime that hangs)
//   stall-create:MS   every receiver create blocks MS ms before it answers
//   still             a still picture instead of the stripes (sim_still.h), no frame number
// At the lowest bandwidth the picture is half as wide and half as high.
//
// Pixels are BGRA: moving vertical stripes; the first pixel of the first row carries the
// frame number (blue = bits 0-7, green = 8-15, red = 16-23, alpha 255).
//
// Discovery: the finder lists the names in the file that SIM_NDI_SOURCES names (see
// sim_source_list.h), read again at every finder call. For its first 200 ms a finder sees
// no sources (discovery warming up); find_wait_for_sources returns true as soon as what it
// sees differs from what find_get_current_sources last returned (at first: no sources). Lines
// starting with `!` hold tokens for the finder:
//   stall:MS          every find_wait_for_sources and find_get_current_sources call blocks
//                     MS ms, ignoring its timeout (a discovery that hangs)
//   fail-create       find_create_v2 returns null
//
// Call log: when the environment variable SIM_NDI_LOG names a file, every call appends
// one line to it (one open-append-close per line, so several processes may share a file).
//
// Threads: any; each receiver and finder instance is used by one thread at a time, the
// process-wide counters are interlocked.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <vector>

#include "ndi_api.h"
#include "sim_source_list.h"
#include "sim_still.h"
#include "sim_tokens.h"

namespace {

struct Script {
    int width = 320;
    int height = 180;
    int rate = 30;
    bool video = true;
    long silentAfter = -1;
    long failCreates = 0;
    int errorsEvery = 0;
    bool audioMeta = false;
    bool nullData = false;
    bool paddedStride = false;
    bool still = false;
    long stallMs = 0;
    long stallCreateMs = 0;
};

struct Instance {
    Script script;
    bool lowest = false;
    int64_t period = 1;
    int64_t nextDue = 0;
    int captures = 0;
    bool pendingAudio = false;
    bool pendingMetadata = false;
    bool stalled = false;
    long framesSent = 0;
};

// A finder, and the array it last handed out (valid until its next call).
struct Finder {
    int64_t createdAt = 0;
    std::vector<std::string> names;
    std::vector<ndi::Source> sources;
};

constexpr int64_t kFinderWarmUpMs = 200;

volatile LONG gCreates = 0;
volatile LONG gFrames = 0;
volatile LONG gOutstanding = 0;  // frames handed out and not yet freed

void SimLog(const char* format, ...) {
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("SIM_NDI_LOG", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    char line[1024];
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    if (written < 0) {
        return;
    }
    size_t size = static_cast<size_t>(written) < sizeof line - 1 ? static_cast<size_t>(written)
                                                                 : sizeof line - 2;
    line[size++] = '\n';
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD done = 0;
    WriteFile(file, line, static_cast<DWORD>(size), &done, nullptr);
    CloseHandle(file);
}

int64_t Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t Frequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

long NumberAfter(const std::string& token, size_t prefixLength) {
    return std::strtol(token.c_str() + prefixLength, nullptr, 10);
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Reads the number at `pos` and steps past it.
bool ReadNumber(const std::string& text, size_t& pos, int& value) {
    const char* begin = text.c_str() + pos;
    char* end = nullptr;
    long number = std::strtol(begin, &end, 10);
    if (end == begin) {
        return false;
    }
    pos += static_cast<size_t>(end - begin);
    value = static_cast<int>(number);
    return true;
}

// "pattern:WxH@R" with three positive numbers.
bool ReadPattern(const std::string& token, int& width, int& height, int& rate) {
    size_t pos = 8;
    return StartsWith(token, "pattern:") && ReadNumber(token, pos, width) &&
           token.compare(pos++, 1, "x") == 0 && ReadNumber(token, pos, height) &&
           token.compare(pos++, 1, "@") == 0 && ReadNumber(token, pos, rate) && width > 0 &&
           height > 0 && rate > 0;
}

void ApplyToken(const std::string& token, Script& script) {
    int width = 0, height = 0, rate = 0;
    if (ReadPattern(token, width, height, rate)) {
        script.width = width;
        script.height = height;
        script.rate = rate;
    } else if (token == "novideo") {
        script.video = false;
    } else if (StartsWith(token, "silent-after:")) {
        script.silentAfter = NumberAfter(token, 13);
    } else if (StartsWith(token, "fail-creates:")) {
        script.failCreates = NumberAfter(token, 13);
    } else if (StartsWith(token, "errors-every:")) {
        script.errorsEvery = static_cast<int>(NumberAfter(token, 13));
    } else if (token == "audio-meta") {
        script.audioMeta = true;
    } else if (token == "null-data") {
        script.nullData = true;
    } else if (token == "padded-stride") {
        script.paddedStride = true;
    } else if (token == "still") {
        script.still = true;
    } else if (StartsWith(token, "stall-create:")) {
        script.stallCreateMs = NumberAfter(token, 13);
    } else if (StartsWith(token, "stall:")) {
        script.stallMs = NumberAfter(token, 6);
    }
}

Script ParseScript(const char* name) {
    Script script;
    for (const std::string& token : SplitSimTokens(name ? name : "", ';')) {
        ApplyToken(token, script);
    }
    return script;
}

bool IsReset(const ndi::VideoFrameV2* v, const ndi::AudioFrameV2* a, const ndi::MetadataFrame* m) {
    bool video = v && v->xres == 0 && v->yres == 0 && v->fourCc == ndi::kFourCcUyvy &&
                 v->frameRateN == 30000 && v->frameRateD == 1001 && v->pictureAspectRatio == 0.0f &&
                 v->frameFormat == ndi::FrameFormat::kProgressive &&
                 v->timecode == ndi::kTimecodeDefault && v->data == nullptr &&
                 v->lineStrideBytes == 0 && v->metadata == nullptr && v->timestamp == 0;
    bool audio = a && a->sampleRate == 48000 && a->channels == 2 && a->samples == 0 &&
                 a->timecode == ndi::kTimecodeDefault && a->data == nullptr &&
                 a->channelStrideBytes == 0 && a->metadata == nullptr && a->timestamp == 0;
    bool metadata =
        m && m->length == 0 && m->timecode == ndi::kTimecodeDefault && m->data == nullptr;
    return video && audio && metadata;
}

void DrawPattern(uint8_t* pixels, int width, int height, int stride, long frame) {
    uint8_t* row = pixels;
    for (int x = 0; x < width; ++x) {
        row[x * 4 + 0] = static_cast<uint8_t>((x + frame * 4) & 0xFF);
        row[x * 4 + 1] = static_cast<uint8_t>(((x >> 2) + frame) & 0xFF);
        row[x * 4 + 2] = static_cast<uint8_t>((frame * 3) & 0xFF);
        row[x * 4 + 3] = 0xFF;
    }
    std::memset(row + width * 4, 0xEE, static_cast<size_t>(stride - width * 4));
    for (int y = 1; y < height; ++y) {
        std::memcpy(pixels + static_cast<size_t>(y) * stride, row, static_cast<size_t>(stride));
    }
    pixels[0] = static_cast<uint8_t>(frame & 0xFF);
    pixels[1] = static_cast<uint8_t>((frame >> 8) & 0xFF);
    pixels[2] = static_cast<uint8_t>((frame >> 16) & 0xFF);
    pixels[3] = 0xFF;
}

bool VideoDue(const Instance& instance) {
    const Script& s = instance.script;
    return s.video && (s.silentAfter < 0 || gFrames < s.silentAfter);
}

void FillVideo(Instance& instance, ndi::VideoFrameV2* video) {
    const Script& s = instance.script;
    int width = instance.lowest ? (s.width + 1) / 2 : s.width;
    int height = instance.lowest ? (s.height + 1) / 2 : s.height;
    int stride = width * 4 + (s.paddedStride ? 64 : 0);
    long frame = InterlockedIncrement(&gFrames);
    video->xres = width;
    video->yres = height;
    video->fourCc = ndi::kFourCcBgra;
    video->frameRateN = s.rate;
    video->frameRateD = 1;
    video->pictureAspectRatio = static_cast<float>(width) / static_cast<float>(height);
    video->timecode = frame;
    video->lineStrideBytes = stride;
    video->data = nullptr;
    if (!s.nullData) {
        video->data = new uint8_t[static_cast<size_t>(stride) * static_cast<size_t>(height)];
        if (s.still) {
            DrawStillPicture(video->data, width, height, stride);
        } else {
            DrawPattern(video->data, width, height, stride, frame);
        }
    }
    InterlockedIncrement(&gOutstanding);
    SimLog("capture -> video %dx%d stride=%d frame=%ld data=%s", width, height, stride, frame,
           video->data ? "yes" : "null");
}

ndi::FrameType DeliverPending(Instance& instance, ndi::AudioFrameV2* audio,
                              ndi::MetadataFrame* metadata) {
    if (instance.pendingAudio) {
        instance.pendingAudio = false;
        audio->samples = 480;
        audio->channelStrideBytes = 480 * 4;
        audio->data = new float[480 * 2]();
        InterlockedIncrement(&gOutstanding);
        SimLog("capture -> audio");
        return ndi::FrameType::kAudio;
    }
    instance.pendingMetadata = false;
    static const char kText[] = "<sim_ndi/>";
    metadata->length = static_cast<int>(sizeof kText);
    metadata->data = new char[sizeof kText];
    std::memcpy(metadata->data, kText, sizeof kText);
    InterlockedIncrement(&gOutstanding);
    SimLog("capture -> metadata");
    return ndi::FrameType::kMetadata;
}

// --- table members ---

bool Initialize() {
#if defined(SIM_NDI_INIT_FAILS)
    SimLog("initialize -> false");
    return false;
#else
    SimLog("initialize -> true");
    return true;
#endif
}

void Destroy() {
    SimLog("destroy");
}

void Unused() {
    SimLog("unexpected call of an unused slot");
}

ndi::RecvInstance RecvCreateV3(const ndi::RecvCreateV3* settings) {
    if (settings == nullptr) {
        SimLog("recv_create_v3 settings=null -> null");
        return nullptr;
    }
    const char* name = settings->sourceToConnectTo.ndiName;
    Script script = ParseScript(name);
    if (script.stallCreateMs > 0) {
        SimLog("recv_create_v3 stalls %ld ms", script.stallCreateMs);
        Sleep(static_cast<DWORD>(script.stallCreateMs));
    }
    long create = InterlockedIncrement(&gCreates);
    bool fail = create <= script.failCreates;
    SimLog("recv_create_v3 name='%s' url=%s color=%d bandwidth=%d fields=%d recv='%s' -> %s",
           name ? name : "(null)", settings->sourceToConnectTo.urlAddress ? "set" : "null",
           static_cast<int>(settings->colorFormat), static_cast<int>(settings->bandwidth),
           settings->allowVideoFields ? 1 : 0, settings->recvName ? settings->recvName : "(null)",
           fail ? "null" : "instance");
    if (fail) {
        return nullptr;
    }
    auto* instance = new Instance;
    instance->script = script;
    instance->lowest = settings->bandwidth == ndi::Bandwidth::kLowest;
    instance->period = Frequency() / script.rate;
    instance->nextDue = Now();
    return reinterpret_cast<ndi::RecvInstance>(instance);
}

void RecvDestroy(ndi::RecvInstance handle) {
    delete reinterpret_cast<Instance*>(handle);
    SimLog("recv_destroy outstanding=%ld", static_cast<long>(gOutstanding));
}

bool RecvSetTally(ndi::RecvInstance, const ndi::Tally* tally) {
    SimLog("recv_set_tally program=%d preview=%d", tally && tally->onProgram ? 1 : 0,
           tally && tally->onPreview ? 1 : 0);
    return true;
}

ndi::FrameType RecvCaptureV2(ndi::RecvInstance handle, ndi::VideoFrameV2* video,
                             ndi::AudioFrameV2* audio, ndi::MetadataFrame* metadata,
                             uint32_t timeoutMs) {
    auto* instance = reinterpret_cast<Instance*>(handle);
    SimLog("capture timeout=%u reset=%s", timeoutMs,
           IsReset(video, audio, metadata) ? "ok" : "bad");
    if (instance == nullptr || video == nullptr || audio == nullptr || metadata == nullptr) {
        return ndi::FrameType::kNone;
    }
    if (instance->pendingAudio || instance->pendingMetadata) {
        return DeliverPending(*instance, audio, metadata);
    }
    ++instance->captures;
    const Script& s = instance->script;
    if (s.stallMs > 0 && instance->framesSent > 0 && !instance->stalled) {
        instance->stalled = true;
        SimLog("capture stalls %ld ms", s.stallMs);
        Sleep(static_cast<DWORD>(s.stallMs));
        return ndi::FrameType::kNone;
    }
    if (s.errorsEvery > 0 && instance->captures % s.errorsEvery == 0) {
        SimLog("capture -> error");
        return ndi::FrameType::kError;
    }
    int64_t now = Now();
    int64_t timeoutTicks = Frequency() * timeoutMs / 1000;
    if (VideoDue(*instance) && instance->nextDue - now <= timeoutTicks) {
        int64_t wait = instance->nextDue - now;
        if (wait > 0) {
            Sleep(static_cast<DWORD>(wait * 1000 / Frequency()));
        }
        instance->nextDue += instance->period;
        if (instance->nextDue < now) {
            instance->nextDue = now + instance->period;  // fell behind: do not burst
        }
        FillVideo(*instance, video);
        ++instance->framesSent;
        instance->pendingAudio = instance->pendingMetadata = s.audioMeta;
        return ndi::FrameType::kVideo;
    }
    Sleep(timeoutMs);
    return ndi::FrameType::kNone;
}

void RecvFreeVideoV2(ndi::RecvInstance, const ndi::VideoFrameV2* video) {
    SimLog("free_video frame=%lld", video ? static_cast<long long>(video->timecode) : -1LL);
    if (video != nullptr) {
        delete[] video->data;
        InterlockedDecrement(&gOutstanding);
    }
}

void RecvFreeAudioV2(ndi::RecvInstance, const ndi::AudioFrameV2* audio) {
    SimLog("free_audio");
    if (audio != nullptr) {
        delete[] audio->data;
        InterlockedDecrement(&gOutstanding);
    }
}

void RecvFreeMetadata(ndi::RecvInstance, const ndi::MetadataFrame* metadata) {
    SimLog("free_metadata");
    if (metadata != nullptr) {
        delete[] metadata->data;
        InterlockedDecrement(&gOutstanding);
    }
}

int64_t MsSince(int64_t ticks) {
    return (Now() - ticks) * 1000 / Frequency();
}

SimSourceList ReadSources() {
    return ReadSimSourceList("SIM_NDI_SOURCES", ';');
}

// A discovery that hangs.
void StallIfListed(const SimSourceList& list) {
    const long stallMs = SimTokenNumber(list, "stall:");
    if (stallMs > 0) {
        SimLog("finder call stalls %ld ms", stallMs);
        Sleep(static_cast<DWORD>(stallMs));
    }
}

std::vector<std::string> Visible(const Finder& finder, const SimSourceList& list) {
    return MsSince(finder.createdAt) < kFinderWarmUpMs ? std::vector<std::string>() : list.names;
}

ndi::FindInstance FindCreateV2(const ndi::FindCreate* settings) {
    const SimSourceList list = ReadSources();
    const bool fail = SimHasToken(list, "fail-create");
    SimLog("find_create_v2 settings=%s local=%d -> %s", settings ? "set" : "null",
           settings && settings->showLocalSources ? 1 : 0, fail ? "null" : "finder");
    if (fail) {
        return nullptr;
    }
    auto* finder = new Finder;
    finder->createdAt = Now();
    return reinterpret_cast<ndi::FindInstance>(finder);
}

void FindDestroy(ndi::FindInstance handle) {
    delete reinterpret_cast<Finder*>(handle);
    SimLog("find_destroy");
}

bool FindWaitForSources(ndi::FindInstance handle, uint32_t timeoutMs) {
    auto* finder = reinterpret_cast<Finder*>(handle);
    SimSourceList list = ReadSources();
    StallIfListed(list);
    const int64_t start = Now();
    bool changed = Visible(*finder, list) != finder->names;
    for (int64_t waitedMs = 0; !changed && waitedMs < timeoutMs; waitedMs = MsSince(start)) {
        Sleep(static_cast<DWORD>(timeoutMs - waitedMs < 20 ? timeoutMs - waitedMs : 20));
        list = ReadSources();
        changed = Visible(*finder, list) != finder->names;
    }
    SimLog("find_wait_for_sources timeout=%u -> %s", timeoutMs, changed ? "true" : "false");
    return changed;
}

const ndi::Source* FindGetCurrentSources(ndi::FindInstance handle, uint32_t* count) {
    auto* finder = reinterpret_cast<Finder*>(handle);
    const SimSourceList list = ReadSources();
    StallIfListed(list);
    finder->names = Visible(*finder, list);
    finder->sources.clear();
    for (const std::string& name : finder->names) {
        finder->sources.push_back(ndi::Source{name.c_str(), nullptr});
    }
    if (count != nullptr) {
        *count = static_cast<uint32_t>(finder->sources.size());
    }
    SimLog("find_get_current_sources -> %u", static_cast<unsigned>(finder->sources.size()));
    return finder->sources.empty() ? nullptr : finder->sources.data();
}

const ndi::ApiV5* Table() {
    static ndi::ApiV5 table = [] {
        ndi::ApiV5 t{};
        auto** slots = reinterpret_cast<ndi::UnusedSlot*>(&t);
        for (size_t i = 0; i < sizeof t / sizeof(ndi::UnusedSlot); ++i) {
            slots[i] = &Unused;
        }
        t.initialize = &Initialize;
        t.destroy = &Destroy;
        t.recvDestroy = &RecvDestroy;
        t.recvFreeMetadata = &RecvFreeMetadata;
        t.recvSetTally = &RecvSetTally;
        t.recvFreeVideoV2 = &RecvFreeVideoV2;
        t.recvFreeAudioV2 = &RecvFreeAudioV2;
        t.recvCaptureV2 = &RecvCaptureV2;
        t.recvCreateV3 = &RecvCreateV3;
        t.findCreateV2 = &FindCreateV2;
        t.findDestroy = &FindDestroy;
        t.findWaitForSources = &FindWaitForSources;
        t.findGetCurrentSources = &FindGetCurrentSources;
        return t;
    }();
    return &table;
}

}  // namespace

#if !defined(SIM_NDI_NO_V6)
extern "C" __declspec(dllexport) const ndi::ApiV5* NDIlib_v6_load() {
    SimLog("load v6");
    return Table();
}
#endif

#if !defined(SIM_NDI_NO_V5)
extern "C" __declspec(dllexport) const ndi::ApiV5* NDIlib_v5_load() {
    SimLog("load v5");
    return Table();
}
#endif

#if defined(SIM_NDI_NO_V5) && defined(SIM_NDI_NO_V6)
// A library of the right name that offers neither load entry.
extern "C" __declspec(dllexport) int sim_ndi_no_entry() {
    return Table() != nullptr ? 0 : 1;
}
#endif
