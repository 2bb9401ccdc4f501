// The host's messages to the controlling application, one JSON object each, in the
// protocol's field order, without the trailing LF. Win32-free.
#pragma once

#include <cstdint>
#include <string>

std::string BuildHostReady(int64_t windowHandle, int32_t processId);
// A null state or source is written as the empty string.
std::string BuildStatus(const char* state, const char* source);
std::string BuildStats(float framesPerSecond, int32_t width, int32_t height);
