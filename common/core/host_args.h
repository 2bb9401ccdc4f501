// Launch settings read from the host's command line. Win32-free.
#pragma once

#include <string>

#include "host_kind.h"

struct HostArgs {
    std::string pipeName;  // without the \\.\pipe\ prefix; empty when not given
    std::string source;    // --address= / --ndiName= / --senderName=; never starts reception
    int quality = 100;     // remembered quality (Parlex, Tivane)
};

// The value of the first argument that begins with `key` (which includes its '='), the
// command line cut into arguments as command_line.h says; empty when none does. Text
// inside another argument is never taken for an option, so a value cannot set one.
std::string ExtractOption(const std::string& commandLine, const std::string& key);

HostArgs ParseHostArgs(HostKind kind, const std::string& commandLine);
