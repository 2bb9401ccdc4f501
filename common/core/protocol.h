// The host's messages to the controlling application, one JSON object each, in the
// protocol's field order, without the trailing LF. Win32-free.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "source_finder.h"

std::string BuildHostReady(int64_t windowHandle, int32_t processId);
// A null state or source is written as the empty string.
std::string BuildStatus(const char* state, const char* source);
std::string BuildStats(float framesPerSecond, int32_t width, int32_t height);
// The size of the frames presented now, while the controller keeps the window's size.
std::string BuildFrameSize(int32_t width, int32_t height);

// One source of a listing, and the line that closes it; `error` empty leaves the field out.
std::string BuildSource(const std::string& name);
std::string BuildSourcesDone(int32_t count, const std::string& error);
// Every line of one listing in order: a "source" per name (empty names and repeats left
// out), then "sources_done" with the number of "source" lines and the finder's error.
std::vector<std::string> BuildListing(const FoundSources& found);
