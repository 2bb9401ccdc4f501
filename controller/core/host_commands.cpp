#include "host_commands.h"

#include "command_line.h"
#include "json.h"

namespace {

bool HasNul(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

}  // namespace

std::string CheckSourceName(const std::string& name) {
    if (name.empty()) {
        return "the source name is empty";
    }
    return HasNul(name) ? "the source name holds a NUL byte" : "";
}

std::string CheckQuality(const std::string& quality) {
    return HasNul(quality) ? "the quality holds a NUL byte" : "";
}

std::string CheckHostExecutable(const std::string& path) {
    if (path.empty()) {
        return "no host executable given";
    }
    if (HasNul(path) || path.find('"') != std::string::npos) {
        return "the host executable's path holds a quote or a NUL byte";
    }
    auto separator = [](char c) { return c == '\\' || c == '/'; };
    char drive = path[0];
    bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
    bool absolute = (path.size() > 2 && letter && path[1] == ':' && separator(path[2])) ||
                    (path.size() > 2 && separator(path[0]) && separator(path[1]));
    if (!absolute) {
        return "the host executable must be given with its absolute path: " + path + " is relative";
    }
    std::string extension = path.size() > 4 ? path.substr(path.size() - 4) : "";
    for (char& c : extension) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    if (extension != ".exe" || separator(path[path.size() - 5])) {
        return "the host executable must be a .exe program: " + path + " is not";
    }
    return "";
}

std::string HostFolder(const std::string& executable) {
    size_t separator = executable.find_last_of("\\/");
    return separator == std::string::npos ? "" : executable.substr(0, separator + 1);
}

std::string SetSourceCommand(const std::string& name) {
    return JsonWriter().AddString("type", "set_source").AddString("name", name).Finish();
}

std::string SetSourceCommand(const std::string& name, const std::string& quality) {
    return JsonWriter()
        .AddString("type", "set_source")
        .AddString("name", name)
        .AddString("quality", quality)
        .Finish();
}

std::string SetQualityCommand(const std::string& quality) {
    return JsonWriter().AddString("type", "set_quality").AddString("quality", quality).Finish();
}

std::string ShutdownCommand() {
    return JsonWriter().AddString("type", "shutdown").Finish();
}

std::string ListSourcesCommand() {
    return JsonWriter().AddString("type", "list_sources").Finish();
}

std::string WindowSizeCommand(bool kept) {
    return JsonWriter()
        .AddString("type", "window_size")
        .AddString("mode", kept ? "keep" : "follow")
        .Finish();
}

std::string HostCommandLine(const std::string& executable, const std::string& pipeName,
                            const std::vector<std::string>& arguments) {
    std::string line = "\"" + executable + "\"";
    if (!pipeName.empty()) {
        line += " " + QuoteArgument("--pipeName=" + pipeName);
    }
    for (const std::string& argument : arguments) {
        line += " " + QuoteArgument(argument);
    }
    return line;
}
