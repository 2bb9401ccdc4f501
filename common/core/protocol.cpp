#include "protocol.h"

#include <unordered_set>

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

std::string BuildFrameSize(int32_t width, int32_t height) {
    return JsonWriter()
        .AddString("type", "frame_size")
        .AddInt("width", width)
        .AddInt("height", height)
        .Finish();
}

std::string BuildSource(const std::string& name) {
    return JsonWriter().AddString("type", "source").AddString("name", name).Finish();
}

std::string BuildSourcesDone(int32_t count, const std::string& error) {
    JsonWriter writer;
    writer.AddString("type", "sources_done").AddInt("count", count);
    if (!error.empty()) {
        writer.AddString("error", error);
    }
    return writer.Finish();
}

std::vector<std::string> BuildListing(const FoundSources& found) {
    std::vector<std::string> lines;
    std::unordered_set<std::string> listed;
    lines.reserve(found.names.size() + 1);
    for (const std::string& name : found.names) {
        if (!name.empty() && listed.insert(name).second) {
            lines.push_back(BuildSource(name));
        }
    }
    const int32_t count = static_cast<int32_t>(lines.size());
    lines.push_back(BuildSourcesDone(count, found.error));
    return lines;
}
