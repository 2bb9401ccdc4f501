#include "startup_report.h"

#include "log.h"
#include "win_types.h"

namespace {

struct PendingLine {
    HANDLE output;
    std::string bytes;
};

// Owns `context`: the main thread may have stopped waiting for it.
DWORD WINAPI WriteLine(LPVOID context) {
    auto* line = static_cast<PendingLine*>(context);
    DWORD written = 0;
    WriteFile(line->output, line->bytes.data(), static_cast<DWORD>(line->bytes.size()), &written,
              nullptr);
    delete line;
    return 0;
}

}  // namespace

StartupReporter::StartupReporter() : output_(GetStdHandle(STD_ERROR_HANDLE)) {
    SetStdHandle(STD_ERROR_HANDLE, nullptr);
}

void StartupReporter::Report(const StartupProblem& problem) const {
    HostLog("[Startup] %s: %s", StartupFailureWord(problem.reason), problem.text.c_str());
    if (output_ == nullptr || output_ == INVALID_HANDLE_VALUE) {
        return;  // started without one: the exit code is all the controller gets
    }
    auto* line = new PendingLine{output_, BuildStartupFailed(problem) + "\n"};
    UniqueHandle writer(CreateThread(nullptr, 0, &WriteLine, line, 0, nullptr));
    if (!writer) {
        delete line;
        return;
    }
    WaitForSingleObject(writer.Get(), kStartupReportWaitMs);
}
