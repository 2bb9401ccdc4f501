// What a host writes to its standard error: our end of a pipe that the host gets as that
// handle. The hosts write there only when they fail at start-up, one line saying why
// (startup_failure.h); a library a host loads may write there too, all through the host's
// life, so a thread of ours drains the pipe at once and keeps the newest 64 KiB: the host
// never waits for us. Any thread.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "startup_failure.h"
#include "win_types.h"

class HostErrorOutput {
public:
    HostErrorOutput() = default;
    // Stops the draining thread and waits for its end (a moment), taking sent messages.
    ~HostErrorOutput();
    HostErrorOutput(const HostErrorOutput&) = delete;
    HostErrorOutput& operator=(const HostErrorOutput&) = delete;

    // Makes the pipe \\.\pipe\<name> (as the host's own pipe is made: for the current user
    // alone) and starts draining it. `hostEnd` is for the host's STARTUPINFO (not
    // inheritable: LaunchHostInJob passes it); the caller closes it once the host has
    // started. False with the system's error.
    bool Start(const std::string& name, UniqueHandle& hostEnd, DWORD& error);
    // Once `process` has ended: the start-up failure it reported, read at the first such
    // call and kept (reason None when it reported none); the draining stops then, which
    // takes a moment: waits at most waitMs for it, taking sent messages. Before the end:
    // None.
    StartupProblem Take(HANDLE process, DWORD waitMs);

    struct Drain;

private:
    void Stop(DWORD waitMs);

    std::mutex takeLock_;  // one Take at a time
    std::shared_ptr<Drain> drain_;
    UniqueHandle thread_;
    bool taken_ = false;      // under takeLock_
    StartupProblem problem_;  // under takeLock_
};
