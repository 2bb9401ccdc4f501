// Command handling on any sequence of commands, against a receiver that records what it
// is asked to do: nothing crashes and every call is one the command table allows.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "command_handler.h"
#include "fuzz_check.h"
#include "json.h"
#include "quality.h"

namespace {

struct Call {
    enum Kind { Stop, Start, SetQuality, RequestQuit } kind;
    std::string source;
    int quality = 0;
};

class RecordingReceiver : public ReceiverControl {
public:
    void Stop() override { calls.push_back({Call::Stop, {}, 0}); }
    void Start(const std::string& source, int quality) override {
        calls.push_back({Call::Start, source, quality});
    }
    void SetQuality(int quality) override { calls.push_back({Call::SetQuality, {}, quality}); }
    void RequestQuit() override { calls.push_back({Call::RequestQuit, {}, 0}); }

    std::vector<Call> calls;
};

bool KnownQuality(HostKind kind, int quality) {
    switch (kind) {
        case HostKind::Parlex:
            return quality == 1 || quality == 50 || quality == 100;
        case HostKind::Tivane:
            return quality == 0 || quality == 100;
        case HostKind::Grelm:
            break;
    }
    return true;  // Grelm has no quality; whatever it passes is ignored
}

std::string Word(FuzzedDataProvider& provider) {
    if (provider.ConsumeIntegralInRange(0, 3) == 0) {
        return provider.ConsumeRandomLengthString(16);
    }
    return provider.PickValueInArray({"set_source", "set_quality", "shutdown", "Shutdown", "Low",
                                      "low", "LOW", "Medium", "medium", "High", "high", "0", "50",
                                      "", "A", "type", "name", "quality"});
}

JsonObject NextCommand(FuzzedDataProvider& provider) {
    if (provider.ConsumeBool()) {
        return ParseJson(provider.ConsumeRandomLengthString(256));
    }
    JsonObject command;
    const int fields = provider.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < fields; ++i) {
        std::string key = Word(provider);
        command.fields[key] = Word(provider);
    }
    return command;
}

void CheckCalls(HostKind kind, const JsonObject& command, const std::vector<Call>& calls) {
    const std::string& type = command.Get("type");
    if (type == "set_source" && !command.Get("name").empty()) {
        FUZZ_CHECK(calls.size() == 2 && calls[0].kind == Call::Stop &&
                   calls[1].kind == Call::Start);
        FUZZ_CHECK(calls[1].source == command.Get("name"));
        FUZZ_CHECK(KnownQuality(kind, calls[1].quality));
    } else if (type == "set_quality" && kind != HostKind::Grelm) {
        FUZZ_CHECK(calls.size() == 1 && calls[0].kind == Call::SetQuality);
        FUZZ_CHECK(KnownQuality(kind, calls[0].quality));
    } else if (type == "shutdown") {
        FUZZ_CHECK(calls.size() == 2 && calls[0].kind == Call::Stop &&
                   calls[1].kind == Call::RequestQuit);
    } else {
        FUZZ_CHECK(calls.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    const HostKind kind =
        provider.PickValueInArray({HostKind::Parlex, HostKind::Tivane, HostKind::Grelm});
    const int launchQuality = LaunchQuality(kind, Word(provider));
    int remembered = launchQuality;

    RecordingReceiver receiver;
    for (int i = 0; i < 8 && provider.remaining_bytes() > 0; ++i) {
        const JsonObject command = NextCommand(provider);
        receiver.calls.clear();
        HandleCommand(kind, command, remembered, receiver);
        CheckCalls(kind, command, receiver.calls);
        // Only Tivane's commands change what "set_source" falls back on.
        if (kind != HostKind::Tivane) {
            FUZZ_CHECK(remembered == launchQuality);
        }
        FUZZ_CHECK(KnownQuality(kind, remembered));
    }
    return 0;
}
