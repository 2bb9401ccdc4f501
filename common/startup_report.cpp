#include "startup_report.h"

#include "bounded_thread.h"
#include "log.h"

StartupReporter::StartupReporter() : output_(GetStdHandle(STD_ERROR_HANDLE)) {
    SetStdHandle(STD_ERROR_HANDLE, nullptr);
}

void StartupReporter::Report(const StartupProblem& problem) const {
    HostLog("[Startup] %s: %s", StartupFailureWord(problem.reason), problem.text.c_str());
    if (output_ == nullptr || output_ == INVALID_HANDLE_VALUE) {
        return;  // started without one: the exit code is all the controller gets
    }
    // The line is the writing thread's own: the main thread may stop waiting for it.
    const HANDLE output = output_;
    BoundedThread writer;
    if (writer.Start(nullptr, [output, line = BuildStartupFailed(problem) + "\n"] {
            DWORD written = 0;
            WriteFile(output, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        })) {
        writer.Join(kStartupReportWaitMs);
    }
}
