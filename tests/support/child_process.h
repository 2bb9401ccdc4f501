// A program the test starts and owns: ended (exit code 99) if it still runs when the
// object goes; and an environment variable set for the children started meanwhile. Used by
// the thread that made them.
#pragma once

#include <string>

#include "win_types.h"

// Sets `name` for the life of the object, then puts back what was there.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        char old[32768] = {};
        had_ = GetEnvironmentVariableA(name, old, sizeof old) > 0;
        old_ = old;
        SetEnvironmentVariableA(name, value.c_str());
    }
    ~ScopedVariable() { SetEnvironmentVariableA(name_, had_ ? old_.c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    bool had_;
    std::string old_;
};

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { End(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `commandLine` in `workingDir` ("" for ours). With an inheritable `output`
    // handle the child's stdout and stderr go there and it has no stdin.
    bool Start(const std::string& commandLine, const std::string& workingDir = "",
               HANDLE output = nullptr);
    HANDLE handle() const { return process_.Get(); }

    // The exit code, or -1 when it is still running after `timeoutMs`.
    int WaitForExit(DWORD timeoutMs);
    // Waits at most `timeoutMs`, then ends it with `code`; its exit code either way.
    DWORD EndWithin(DWORD timeoutMs, DWORD code);
    // Ends a child that still runs and lets go of it.
    void End();

private:
    UniqueHandle process_;
};

// Runs `commandLine` with stdout and stderr going to `outputPath` (made afresh) for at most
// `timeoutMs`. Its exit code; kNotStarted when it did not start, kTimedOut when it had to
// be ended.
constexpr DWORD kNotStarted = 1000;
constexpr DWORD kTimedOut = 1001;
DWORD RunRedirected(const std::string& commandLine, const std::string& outputPath, DWORD timeoutMs);
