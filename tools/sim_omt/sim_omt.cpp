// A simulated libomt.dll for tests and demos: the four receive exports Parlex uses, with
// a synthetic source chosen by the address string, and the discovery export. Each instance
// is used by one thread (the receiver's worker); the per-address create counters, the
// discovery's answer and the call log are shared and guarded by one lock.
//
// Address grammar: items separated by ',', each `name` or `name:value`, spaces around an
// item, its name and its value ignored:
//   pattern:WxH@FPS  picture size and frame rate (default 320x180@30)
//   novideo          never delivers a frame; receive waits out its timeout
//   silent-after:N   each connection delivers N frames, then nothing
//   fail-creates:N   the first N creates with this exact address fail (counted per
//                    address for as long as the library stays loaded)
//   null-data        records with a null data pointer (length set)
//   zero-length      records with data but a data length of 0
//   padded-stride    each row padded by 64 bytes beyond width x 4
//   short-data       data length one row short of height x stride
//   stall:MS         the receive call after a connection's first frame blocks MS ms,
//                    ignoring its timeout (a library that hangs)
//   stall-create:MS  every create blocks MS ms before it answers
//   stderr:N         every frame delivered comes with a line of N bytes on the process's
//                    standard error (a library that talks there, as some do)
//   still            a still picture instead of the gradient (sim_still.h): no frame
//                    number, no quality, no bar
//   tag:TEXT         ignored; keeps otherwise equal addresses apart
// Unknown items are ignored. An empty address fails every create.
//
// Suggested quality sets the delivered size: Low (1) a quarter of width and height,
// Medium (50) half, anything else the full size. Pixel 0 of every frame holds the
// frame number of its connection (blue, green, red = bits 0-7, 8-15, 16-23); pixel 1's
// blue holds the suggested quality last received (0 before any). A bar moves across.
//
// Discovery: omt_discovery_getaddresses lists the names in the file that SIM_OMT_SOURCES
// names (see sim_source_list.h), read again at every call. Like the library, whose
// discovery starts at the first call, it answers with no addresses for the first 100 ms
// after that call, with the first half of them until 300 ms, and with all of them after.
// Lines starting with `!` hold tokens for it:
//   stall:MS         every call blocks MS ms (a discovery that hangs)
//
// Call log: when SIM_OMT_LOG names a file, every call is appended to it as one line:
//   create address='...' types=T format=F flags=G -> instance N | null
//   setsuggestedquality instance=N quality=Q
//   receive instance=N types=T timeout=MS -> frame WxH | null
//   destroy instance=N
//   discovery -> N
//
// Build variants leave out omt_receive_setsuggestedquality (SIM_OMT_NO_QUALITY),
// omt_receive (SIM_OMT_NO_RECEIVE) or omt_discovery_getaddresses (SIM_OMT_NO_DISCOVERY).
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "omt_api.h"
#include "sim_source_list.h"
#include "sim_still.h"
#include "sim_tokens.h"
#include "win_types.h"

#define SIM_OMT_EXPORT extern "C" __declspec(dllexport)

// A left-out entry is still compiled, under another name and without export, so that
// both variants build from the same code.
#if defined(SIM_OMT_NO_RECEIVE)
#define SIM_OMT_RECEIVE_ENTRY extern "C" OmtMediaFrame* sim_omt_receive_left_out
#else
#define SIM_OMT_RECEIVE_ENTRY SIM_OMT_EXPORT OmtMediaFrame* omt_receive
#endif
#if defined(SIM_OMT_NO_QUALITY)
#define SIM_OMT_QUALITY_ENTRY extern "C" void sim_omt_setsuggestedquality_left_out
#else
#define SIM_OMT_QUALITY_ENTRY SIM_OMT_EXPORT void omt_receive_setsuggestedquality
#endif
#if defined(SIM_OMT_NO_DISCOVERY)
#define SIM_OMT_DISCOVERY_ENTRY extern "C" char** sim_omt_discovery_left_out
#else
#define SIM_OMT_DISCOVERY_ENTRY SIM_OMT_EXPORT char** omt_discovery_getaddresses
#endif

namespace {

struct SourcePlan {
    int width = 320;
    int height = 180;
    int framesPerSecond = 30;
    bool noVideo = false;
    int silentAfter = -1;
    int failCreates = 0;
    bool nullData = false;
    bool zeroLength = false;
    bool paddedStride = false;
    bool shortData = false;
    bool still = false;
    int stallMs = 0;
    int stallCreateMs = 0;
    int stderrBytes = 0;
};

struct Instance {
    int id = 0;
    SourcePlan plan;
    int quality = 0;
    int framesSent = 0;
    bool stalled = false;
    int64_t nextDueTicks = 0;
    std::vector<unsigned char> pixels;
    OmtMediaFrame record = {};
};

std::mutex& SharedLock() {
    static std::mutex lock;
    return lock;
}
std::map<std::string, int>& CreateCounts() {
    static std::map<std::string, int> counts;
    return counts;
}
int nextInstanceId = 1;  // under SharedLock

// What the last discovery call handed out, valid until the next call; under SharedLock.
struct Discovery {
    int64_t startedTicks = 0;  // the first call
    std::vector<std::string> addresses;
    std::vector<char*> array;
};
Discovery& SharedDiscovery() {
    static Discovery discovery;
    return discovery;
}

int64_t Ticks() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return value.QuadPart;
}

int64_t TicksPerSecond() {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return value.QuadPart;
}

void LogCall(const char* format, ...) {
    char path[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableA("SIM_OMT_LOG", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    char line[1024];
    va_list args;
    va_start(args, format);
    int written = std::vsnprintf(line, sizeof(line) - 1, format, args);
    va_end(args);
    if (written < 0) {
        return;
    }
    size_t size = std::strlen(line);
    line[size++] = '\n';
    std::lock_guard<std::mutex> lock(SharedLock());
    UniqueHandle file(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        DWORD done = 0;
        WriteFile(file.Get(), line, static_cast<DWORD>(size), &done, nullptr);
    }
}

int ToInt(const std::string& text, int fallback) {
    if (text.empty()) {
        return fallback;
    }
    return std::atoi(text.c_str());
}

void ParsePattern(const std::string& value, SourcePlan& plan) {
    size_t x = value.find('x');
    size_t at = value.find('@');
    if (x == std::string::npos) {
        return;
    }
    plan.width = ToInt(value.substr(0, x), plan.width);
    plan.height = ToInt(
        value.substr(x + 1, at == std::string::npos ? std::string::npos : at - x - 1), plan.height);
    if (at != std::string::npos) {
        plan.framesPerSecond = ToInt(value.substr(at + 1), plan.framesPerSecond);
    }
}

void ApplyItem(const std::string& item, SourcePlan& plan) {
    size_t colon = item.find(':');
    std::string name = TrimSimToken(item.substr(0, colon));
    std::string value =
        colon == std::string::npos ? std::string() : TrimSimToken(item.substr(colon + 1));
    if (name == "pattern")
        ParsePattern(value, plan);
    else if (name == "novideo")
        plan.noVideo = true;
    else if (name == "silent-after")
        plan.silentAfter = ToInt(value, 0);
    else if (name == "fail-creates")
        plan.failCreates = ToInt(value, 0);
    else if (name == "null-data")
        plan.nullData = true;
    else if (name == "zero-length")
        plan.zeroLength = true;
    else if (name == "padded-stride")
        plan.paddedStride = true;
    else if (name == "short-data")
        plan.shortData = true;
    else if (name == "still")
        plan.still = true;
    else if (name == "stall")
        plan.stallMs = ToInt(value, 0);
    else if (name == "stall-create")
        plan.stallCreateMs = ToInt(value, 0);
    else if (name == "stderr")
        plan.stderrBytes = ToInt(value, 0);
}

SourcePlan ParseAddress(const std::string& address) {
    SourcePlan plan;
    for (const std::string& item : SplitSimTokens(address, ',')) {
        ApplyItem(item, plan);
    }
    if (plan.width < 1)
        plan.width = 1;
    if (plan.height < 1)
        plan.height = 1;
    if (plan.framesPerSecond < 1)
        plan.framesPerSecond = 1;
    return plan;
}

// True when this create is one of the address's first failCreates.
bool CreateShouldFail(const std::string& address, const SourcePlan& plan) {
    std::lock_guard<std::mutex> lock(SharedLock());
    int& count = CreateCounts()[address];
    ++count;
    return count <= plan.failCreates;
}

int ScaledSize(int size, int quality) {
    int divisor = quality == kOmtQualityLow ? 4 : (quality == kOmtQualityMedium ? 2 : 1);
    int scaled = size / divisor;
    return scaled > 0 ? scaled : 1;
}

void PutInt32(OmtMediaFrame& record, size_t offset, int32_t value) {
    std::memcpy(reinterpret_cast<unsigned char*>(&record) + offset, &value, sizeof(value));
}

void DrawFrame(Instance& instance, int width, int height, int stride) {
    instance.pixels.assign(static_cast<size_t>(stride) * height, 0);
    int barLeft = (instance.framesSent * 8) % width;
    int barWidth = width / 8 > 0 ? width / 8 : 1;
    for (int y = 0; y < height; ++y) {
        unsigned char* row = instance.pixels.data() + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            bool inBar = x >= barLeft && x < barLeft + barWidth;
            row[x * 4 + 0] = inBar ? 255 : static_cast<unsigned char>(x * 255 / width);
            row[x * 4 + 1] = inBar ? 255 : static_cast<unsigned char>(y * 255 / height);
            row[x * 4 + 2] = inBar ? 255 : 64;
            row[x * 4 + 3] = 255;
        }
    }
    unsigned char* first = instance.pixels.data();
    first[0] = static_cast<unsigned char>(instance.framesSent & 0xFF);
    first[1] = static_cast<unsigned char>((instance.framesSent >> 8) & 0xFF);
    first[2] = static_cast<unsigned char>((instance.framesSent >> 16) & 0xFF);
    if (width > 1) {
        first[4] = static_cast<unsigned char>(instance.quality);
    }
}

OmtMediaFrame* MakeFrame(Instance& instance) {
    const SourcePlan& plan = instance.plan;
    int width = ScaledSize(plan.width, instance.quality);
    int height = ScaledSize(plan.height, instance.quality);
    int stride = width * 4 + (plan.paddedStride ? 64 : 0);
    if (plan.still) {
        instance.pixels.assign(static_cast<size_t>(stride) * height, 0);
        DrawStillPicture(instance.pixels.data(), width, height, stride);
    } else {
        DrawFrame(instance, width, height, stride);
    }
    ++instance.framesSent;

    OmtMediaFrame& record = instance.record;
    record = OmtMediaFrame{};
    PutInt32(record, 0, kOmtFrameVideo);
    PutInt32(record, 16, 0x41524742);  // BGRA codec
    record.width = width;
    record.height = height;
    record.stride = stride;
    record.data = plan.nullData ? nullptr : instance.pixels.data();
    int length = static_cast<int>(instance.pixels.size());
    if (plan.zeroLength)
        length = 0;
    if (plan.shortData)
        length -= stride;
    record.dataLength = length;
    return &record;
}

bool Silent(const Instance& instance) {
    return instance.plan.noVideo ||
           (instance.plan.silentAfter >= 0 && instance.framesSent >= instance.plan.silentAfter);
}

// Frames are paced by the rate: a call returns the next frame once it is due, waiting
// for it at most `timeoutMs`, and returns null when it is not due within that time.
OmtMediaFrame* PacedReceive(Instance& instance, int timeoutMs) {
    if (timeoutMs < 0)
        timeoutMs = 0;
    if (instance.plan.stallMs > 0 && instance.framesSent > 0 && !instance.stalled) {
        instance.stalled = true;
        Sleep(static_cast<DWORD>(instance.plan.stallMs));
        return nullptr;
    }
    if (Silent(instance)) {
        Sleep(static_cast<DWORD>(timeoutMs));
        return nullptr;
    }
    int64_t frequency = TicksPerSecond();
    int64_t period = frequency / instance.plan.framesPerSecond;
    int64_t now = Ticks();
    if (instance.nextDueTicks > now) {
        int64_t waitMs = (instance.nextDueTicks - now) * 1000 / frequency;
        if (waitMs > timeoutMs) {
            Sleep(static_cast<DWORD>(timeoutMs));
            return nullptr;
        }
        Sleep(static_cast<DWORD>(waitMs));
        now = Ticks();
    }
    // A caller that fell behind does not get a burst of catch-up frames.
    instance.nextDueTicks =
        instance.nextDueTicks + period < now ? now + period : instance.nextDueTicks + period;
    return MakeFrame(instance);
}

}  // namespace

SIM_OMT_EXPORT OmtReceiveInstance* omt_receive_create(const char* address, OmtFrameType frameTypes,
                                                      OmtPreferredVideoFormat format,
                                                      OmtReceiveFlags flags) {
    std::string text = address ? address : "";
    SourcePlan plan = ParseAddress(text);
    if (plan.stallCreateMs > 0) {
        Sleep(static_cast<DWORD>(plan.stallCreateMs));
    }
    Instance* instance = nullptr;
    if (!text.empty() && !CreateShouldFail(text, plan)) {
        instance = new Instance;
        instance->plan = plan;
        instance->nextDueTicks = Ticks();
        std::lock_guard<std::mutex> lock(SharedLock());
        instance->id = nextInstanceId++;
    }
    if (instance) {
        LogCall("create address='%s' types=%d format=%d flags=%d -> instance %d", text.c_str(),
                frameTypes, format, flags, instance->id);
    } else {
        LogCall("create address='%s' types=%d format=%d flags=%d -> null", text.c_str(), frameTypes,
                format, flags);
    }
    return reinterpret_cast<OmtReceiveInstance*>(instance);
}

SIM_OMT_EXPORT void omt_receive_destroy(OmtReceiveInstance* handle) {
    auto* instance = reinterpret_cast<Instance*>(handle);
    if (instance == nullptr) {
        return;
    }
    LogCall("destroy instance=%d", instance->id);
    delete instance;
}

SIM_OMT_RECEIVE_ENTRY(OmtReceiveInstance* handle, OmtFrameType frameTypes, int timeoutMs) {
    auto* instance = reinterpret_cast<Instance*>(handle);
    if (instance == nullptr) {
        return nullptr;
    }
    OmtMediaFrame* frame =
        (frameTypes & kOmtFrameVideo) ? PacedReceive(*instance, timeoutMs) : nullptr;
    if (frame && instance->plan.stderrBytes > 0) {
        // Through the C runtime, as a library's own messages go.
        std::fprintf(stderr, "%s\n", std::string(instance->plan.stderrBytes, 'x').c_str());
        std::fflush(stderr);
    }
    if (frame) {
        LogCall("receive instance=%d types=%d timeout=%d -> frame %dx%d", instance->id, frameTypes,
                timeoutMs, frame->width, frame->height);
    } else {
        LogCall("receive instance=%d types=%d timeout=%d -> null", instance->id, frameTypes,
                timeoutMs);
    }
    return frame;
}

SIM_OMT_QUALITY_ENTRY(OmtReceiveInstance* handle, OmtQuality quality) {
    auto* instance = reinterpret_cast<Instance*>(handle);
    if (instance == nullptr) {
        return;
    }
    instance->quality = quality;
    LogCall("setsuggestedquality instance=%d quality=%d", instance->id, quality);
}

SIM_OMT_DISCOVERY_ENTRY(int* count) {
    const SimSourceList list = ReadSimSourceList("SIM_OMT_SOURCES", ',');
    const long stallMs = SimTokenNumber(list, "stall:");
    if (stallMs > 0) {
        LogCall("discovery stalls %ld ms", stallMs);
        Sleep(static_cast<DWORD>(stallMs));
    }
    size_t visible = 0;
    char** result = nullptr;
    {
        std::lock_guard<std::mutex> lock(SharedLock());
        Discovery& discovery = SharedDiscovery();
        if (discovery.startedTicks == 0) {
            discovery.startedTicks = Ticks();
        }
        const int64_t elapsedMs = (Ticks() - discovery.startedTicks) * 1000 / TicksPerSecond();
        visible = elapsedMs < 100 ? 0 : elapsedMs < 300 ? list.names.size() / 2 : list.names.size();
        discovery.addresses.assign(list.names.begin(), list.names.begin() + visible);
        discovery.array.clear();
        for (std::string& address : discovery.addresses) {
            discovery.array.push_back(&address[0]);
        }
        result = visible > 0 ? discovery.array.data() : nullptr;
    }
    if (count != nullptr) {
        *count = static_cast<int>(visible);
    }
    LogCall("discovery -> %d", static_cast<int>(visible));
    return result;
}
