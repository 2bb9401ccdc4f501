#include "host_commands.h"

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

std::string QuoteHostArgument(const std::string& argument) {
    if (argument.find(' ') == std::string::npos || argument.find('"') != std::string::npos) {
        return argument;
    }
    size_t equals = argument.find('=');
    if (argument.rfind("--", 0) == 0 && equals != std::string::npos) {
        return argument.substr(0, equals + 1) + "\"" + argument.substr(equals + 1) + "\"";
    }
    return "\"" + argument + "\"";
}

std::string HostCommandLine(const std::string& executable, const std::string& pipeName,
                            const std::vector<std::string>& arguments) {
    std::string line = "\"" + executable + "\"";
    if (!pipeName.empty()) {
        line += " --pipeName=" + pipeName;
    }
    for (const std::string& argument : arguments) {
        line += " " + QuoteHostArgument(argument);
    }
    return line;
}
