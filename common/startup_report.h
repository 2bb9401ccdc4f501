// A start-up failure told to the controller (the line of startup_failure.h, on the
// standard error handle the host was given) and to the diagnostic log, right before the
// host exits with code 1. Main thread, at start-up.
//
// The handle is taken out of the process's standard handles as the host starts, so that a
// library loaded later does not find it and write there: the controller reads it for this
// one line.
#pragma once

#include <string>

#include <windows.h>

#include "startup_failure.h"

// The longest the host waits for its line to be taken: a controller that gave a pipe it
// never reads cannot hold the host's exit.
constexpr DWORD kStartupReportWaitMs = 1000;

class StartupReporter {
public:
    StartupReporter();
    StartupReporter(const StartupReporter&) = delete;
    StartupReporter& operator=(const StartupReporter&) = delete;

    void Report(const StartupProblem& problem) const;

private:
    HANDLE output_;  // the process's, never closed: the C runtime may still hold its number
};
