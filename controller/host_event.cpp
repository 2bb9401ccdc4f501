#include "host_event.h"

#include <charconv>
#include <cstdlib>
#include <type_traits>

#include "json.h"

namespace {

template <typename Number>
Number ReadNumber(const std::string& text) {
    if constexpr (std::is_floating_point_v<Number>) {
        // Not every standard library has from_chars for floating point yet.
        return static_cast<Number>(std::strtod(text.c_str(), nullptr));
    } else {
        Number value = 0;
        const char* end = text.data() + text.size();
        if (std::from_chars(text.data(), end, value).ec != std::errc()) {
            return 0;
        }
        return value;
    }
}

}  // namespace

HostEvent DecodeHostLine(const std::string& line) {
    HostEvent event;
    event.line = line;
    JsonObject message = ParseJson(line);
    const std::string& type = message.Get("type");
    if (type == "host_ready") {
        event.type = HostEventType::Ready;
        event.window = ReadNumber<int64_t>(message.Get("hwnd"));
        event.processId = ReadNumber<uint32_t>(message.Get("pid"));
    } else if (type == "status") {
        event.type = HostEventType::Status;
        event.state = message.Get("state");
        event.source = message.Get("source");
    } else if (type == "stats") {
        event.type = HostEventType::Stats;
        event.fps = ReadNumber<double>(message.Get("fps"));
        event.width = ReadNumber<int>(message.Get("width"));
        event.height = ReadNumber<int>(message.Get("height"));
    }
    return event;
}
