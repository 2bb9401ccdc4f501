// Launch settings read from the host's command line. Win32-free.
#pragma once

#include <string>

#include "host_kind.h"

struct HostArgs {
    std::string pipeName;  // without the \\.\pipe\ prefix; empty when not given
    std::string source;    // --address= / --ndiName= / --senderName=; never starts reception
    int quality = 100;     // remembered quality (Parlex, Tivane)
};

// Value of the first occurrence of `key` (which includes its '='): a quoted value runs to
// the next double quote (or the end), an unquoted one to the next space (or the end).
std::string ExtractOption(const std::string& commandLine, const std::string& key);

HostArgs ParseHostArgs(HostKind kind, const std::string& commandLine);
