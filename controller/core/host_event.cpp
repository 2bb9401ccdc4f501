#include "host_event.h"

#include <charconv>
#include <cmath>

#include "json.h"

namespace {

template <typename Integer>
Integer ReadInteger(const std::string& text) {
    Integer value = 0;
    const char* end = text.data() + text.size();
    return std::from_chars(text.data(), end, value).ec == std::errc() ? value : 0;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// 10^exponent; exact up to 10^22, so that a mantissa below 2^53 scaled by it is rounded
// once, correctly.
double PowerOfTen(int exponent) {
    static const double kExact[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                    1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                    1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    return exponent <= 22 ? kExact[exponent] : std::pow(10.0, exponent);
}

}  // namespace

// strtod and the streams read with the C locale of the process, which an application may
// have set to one that writes a decimal comma; this reads the JSON grammar alone.
double ReadJsonNumber(const std::string& text) {
    size_t i = 0;
    const size_t n = text.size();
    bool negative = i < n && text[i] == '-';
    i += negative ? 1 : 0;
    uint64_t mantissa = 0;
    int exponent = 0;
    int digits = 0;
    auto take = [&](bool fraction) {
        size_t begin = i;
        for (; i < n && IsDigit(text[i]); ++i) {
            if (mantissa < 1000000000000000000ULL) {  // 18 digits kept; the rest only scale
                mantissa = mantissa * 10 + static_cast<uint64_t>(text[i] - '0');
                exponent -= fraction ? 1 : 0;
            } else {
                exponent += fraction ? 0 : 1;
            }
            ++digits;
        }
        return i > begin;
    };
    if (!take(false)) {
        return 0.0;
    }
    if (i < n && text[i] == '.') {
        ++i;
        if (!take(true)) {
            return 0.0;
        }
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool down = i < n && text[i] == '-';
        i += i < n && (text[i] == '-' || text[i] == '+') ? 1 : 0;
        int power = 0;
        size_t begin = i;
        for (; i < n && IsDigit(text[i]); ++i) {
            power = power < 10000 ? power * 10 + (text[i] - '0') : power;
        }
        if (i == begin) {
            return 0.0;
        }
        exponent += down ? -power : power;
    }
    if (i != n || digits == 0) {
        return 0.0;
    }
    double value = static_cast<double>(mantissa);
    if (mantissa != 0) {
        value = exponent < 0 ? value / PowerOfTen(-exponent) : value * PowerOfTen(exponent);
    }
    return negative ? -value : value;
}

HostEvent DecodeHostLine(const std::string& line) {
    return DecodeHostLine(line, ParseJson(line));
}

HostEvent DecodeHostLine(const std::string& line, const JsonObject& message) {
    HostEvent event;
    event.line = line;
    const std::string& type = message.Get("type");
    if (type == "host_ready") {
        event.type = HostEventType::Ready;
        event.window = ReadInteger<int64_t>(message.Get("hwnd"));
        event.processId = ReadInteger<uint32_t>(message.Get("pid"));
    } else if (type == "status") {
        event.type = HostEventType::Status;
        event.state = message.Get("state");
        event.source = message.Get("source");
    } else if (type == "stats") {
        event.type = HostEventType::Stats;
        event.fps = ReadJsonNumber(message.Get("fps"));
        event.width = ReadInteger<int>(message.Get("width"));
        event.height = ReadInteger<int>(message.Get("height"));
    } else if (type == "frame_size") {
        event.type = HostEventType::FrameSize;
        event.width = ReadInteger<int>(message.Get("width"));
        event.height = ReadInteger<int>(message.Get("height"));
    }
    return event;
}
