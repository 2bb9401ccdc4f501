#include "protocol.h"

#include "json.h"

std::string BuildHostReady(int64_t windowHandle, int32_t processId) {
    return JsonWriter()
        .AddString("type", "host_ready")
        .AddInt64("hwnd", windowHandle)
        .AddInt("pid", processId)
        .Finish();
}

std::string BuildStatus(const char* state, const char* source) {
    return JsonWriter()
        .AddString("type", "status")
        .AddString("state", state ? state : "")
        .AddString("source", source ? source : "")
        .Finish();
}

std::string BuildStats(float framesPerSecond, int32_t width, int32_t height) {
    return JsonWriter()
        .AddString("type", "stats")
        .AddFloat("fps", framesPerSecond)
        .AddInt("width", width)
        .AddInt("height", height)
        .Finish();
}
