// Command lines on any bytes: the arguments of a line come back whole from their quoted
// form, an option's value is that of the first argument that begins with its key, and the
// launch quality is always one the host knows.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"
#include "fuzz_check.h"
#include "host_args.h"

namespace {

void CheckExtract(const std::string& commandLine, const std::string& key) {
    std::string expected;
    for (const std::string& argument : SplitArguments(commandLine)) {
        if (argument.compare(0, key.size(), key) == 0) {
            expected = argument.substr(key.size());
            break;
        }
    }
    FUZZ_CHECK(ExtractOption(commandLine, key) == expected);
}

// Whatever the arguments hold, quoting them and cutting the line gives them back.
void CheckRoundTrip(const std::vector<std::string>& arguments) {
    std::string line;
    for (const std::string& argument : arguments) {
        line += QuoteArgument(argument);
        line += ' ';
    }
    FUZZ_CHECK(SplitArguments(line) == arguments);
}

bool KnownQuality(HostKind kind, int quality) {
    switch (kind) {
        case HostKind::Parlex:
            return quality == 1 || quality == 50 || quality == 100;
        case HostKind::Tivane:
            return quality == 0 || quality == 100;
        case HostKind::Grelm:
            break;
    }
    return quality == 100;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::string key =
        provider.ConsumeBool()
            ? provider.ConsumeRandomLengthString(32)
            : std::string(provider.PickValueInArray(
                  {"--pipeName=", "--quality=", "--address=", "--ndiName=", "--senderName="}));
    std::vector<std::string> arguments;
    while (arguments.size() < 8 && provider.ConsumeBool()) {
        arguments.push_back(provider.ConsumeRandomLengthString(64));
    }
    CheckRoundTrip(arguments);
    const std::string commandLine = provider.ConsumeRemainingBytesAsString();
    CheckExtract(commandLine, key);

    for (HostKind kind : {HostKind::Parlex, HostKind::Tivane, HostKind::Grelm}) {
        const HostArgs args = ParseHostArgs(kind, commandLine);
        FUZZ_CHECK(args.pipeName == ExtractOption(commandLine, "--pipeName="));
        FUZZ_CHECK(args.source == ExtractOption(commandLine, TraitsOf(kind).sourceOption));
        FUZZ_CHECK(KnownQuality(kind, args.quality));
    }
    return 0;
}
