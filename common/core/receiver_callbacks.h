// The callbacks a receiver calls on its worker thread. Assigned once by the host before
// the first Start; an empty callback is skipped.
#pragma once

#include <functional>

// 4-byte BGRA pixels, valid only during the call.
using FrameCallback =
    std::function<void(const unsigned char* pixels, int width, int height, int strideBytes)>;
// state: "connecting", "connected", "reconnecting", "disconnected" or "error".
using StatusCallback = std::function<void(const char* state, const char* source)>;
using StatsCallback = std::function<void(float framesPerSecond, int width, int height)>;
