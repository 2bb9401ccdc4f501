#include "status_relay.h"

#include "log.h"

StatusCallback MakeStatusCallback(HostKind kind, PipeClient& pipe) {
    return [kind, &pipe](const char* state, const char* source) {
        if (kind != HostKind::Parlex) {
            HostLog("[StatusCallback] state='%s', source='%s'", state ? state : "",
                    source ? source : "");
        }
        pipe.SendStatus(state, source);
    };
}

StatsCallback MakeStatsCallback(PipeClient& pipe) {
    return [&pipe](float framesPerSecond, int width, int height) {
        pipe.SendStats(framesPerSecond, width, height);
    };
}
