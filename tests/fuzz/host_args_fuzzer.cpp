// Option extraction on any command line and any key: the value is the text right after
// the key's first occurrence, cut as the quoting rules say, and the launch quality is
// always one the host knows.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "host_args.h"

namespace {

void CheckExtract(const std::string& commandLine, const std::string& key) {
    const std::string value = ExtractOption(commandLine, key);
    const size_t at = commandLine.find(key);
    if (at == std::string::npos) {
        FUZZ_CHECK(value.empty());
        return;
    }
    size_t p = at + key.size();
    const bool quoted = p < commandLine.size() && commandLine[p] == '"';
    if (quoted) {
        ++p;
    }
    FUZZ_CHECK(commandLine.compare(p, value.size(), value) == 0);
    const size_t end = p + value.size();
    if (quoted) {
        FUZZ_CHECK(value.find('"') == std::string::npos);
        FUZZ_CHECK(end == commandLine.size() || commandLine[end] == '"');
    } else {
        FUZZ_CHECK(value.find(' ') == std::string::npos);
        FUZZ_CHECK(end == commandLine.size() || commandLine[end] == ' ');
    }
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
