#include "host_args.h"

#include "quality.h"

std::string ExtractOption(const std::string& commandLine, const std::string& key) {
    size_t at = commandLine.find(key);
    if (at == std::string::npos) {
        return std::string();
    }
    size_t p = at + key.size();
    if (p < commandLine.size() && commandLine[p] == '"') {
        size_t close = commandLine.find('"', p + 1);
        return commandLine.substr(p + 1,
                                  close == std::string::npos ? std::string::npos : close - (p + 1));
    }
    size_t space = commandLine.find(' ', p);
    return commandLine.substr(p, space == std::string::npos ? std::string::npos : space - p);
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
