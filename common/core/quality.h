// The quality words of each host and the values they stand for. Win32-free.
//
// Tivane's values are NDI receive bandwidths (0 lowest, 100 highest); Parlex's are OMT
// suggested qualities (1, 50, 100). Words match whole and case-sensitively.
#pragma once

#include <optional>
#include <string>

#include "host_kind.h"

// "--quality=" on the command line; also what an absent option gives.
int LaunchQuality(HostKind kind, const std::string& text);

// "set_source": the quality to start with. Tivane remembers a non-empty word in
// `remembered`; Parlex falls back on it and never changes it.
int SetSourceQuality(HostKind kind, const std::string& text, int& remembered);

// "set_quality": the value handed to the receiver. Tivane also remembers it.
int SetQualityValue(HostKind kind, const std::string& text, int& remembered);

// OMT suggested quality passed to the library for a stored quality value.
int MapOmtQuality(int quality);
