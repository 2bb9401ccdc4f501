// The receive loop the three receivers share: attempt after attempt until the worker is
// stopped, with the same reports and pauses between them. Runs on the receiver's worker.
#pragma once

#include <string>

#include "worker_thread.h"

// How one attempt of a receiver ended; it decides what follows it.
enum class AttemptEnd {
    NoSource,         // no source name: "disconnected", then 100 ms
    OpenFailed,       // the receiver reported its error: 1000 ms
    ConnectionEnded,  // a connection ran and ended: "reconnecting" while still running, 500 ms
    Stopped,          // stopped before a connection was made: nothing
};

constexpr unsigned kNoSourcePauseMs = 100;
constexpr unsigned kOpenFailedPauseMs = 1000;
constexpr unsigned kConnectionEndedPauseMs = 500;

// attempt(std::string& source) runs one attempt and names its source; notify(state,
// source) reports a status. The worker's end is reported as "disconnected".
template <typename Attempt, typename Notify>
void RunReceiveCycle(WorkerThread& worker, Attempt&& attempt, Notify&& notify) {
    while (worker.running()) {
        std::string source;
        switch (attempt(source)) {
            case AttemptEnd::NoSource:
                notify("disconnected", "");
                worker.Pause(kNoSourcePauseMs);
                break;
            case AttemptEnd::OpenFailed:
                worker.Pause(kOpenFailedPauseMs);
                break;
            case AttemptEnd::ConnectionEnded:
                if (worker.running()) {
                    notify("reconnecting", source.c_str());
                    worker.Pause(kConnectionEndedPauseMs);
                }
                break;
            case AttemptEnd::Stopped:
                break;
        }
    }
    notify("disconnected", "");
}
