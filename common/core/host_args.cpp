#include "host_args.h"

#include "command_line.h"
#include "quality.h"

std::string ExtractOption(const std::string& commandLine, const std::string& key) {
    for (const std::string& argument : SplitArguments(commandLine)) {
        if (argument.compare(0, key.size(), key) == 0) {
            return argument.substr(key.size());
        }
    }
    return std::string();
}

HostArgs ParseHostArgs(HostKind kind, const std::string& commandLine) {
    HostArgs args;
    args.pipeName = ExtractOption(commandLine, "--pipeName=");
    args.source = ExtractOption(commandLine, TraitsOf(kind).sourceOption);
    if (TraitsOf(kind).hasQuality) {
        args.quality = LaunchQuality(kind, ExtractOption(commandLine, "--quality="));
    }
    return args;
}
