// Starts a host process inside a job object of its own, so that the host ends with the
// controlling application however that ends: the job kills what it holds when its last
// handle closes, and the system closes ours when our process goes, a crash included.
// Any thread.
#pragma once

#include <string>

#include "host_error_output.h"
#include "win_types.h"

struct LaunchedHost {
    UniqueHandle process;
    UniqueHandle job;
    DWORD processId = 0;
    HostErrorOutput errorOutput;  // the host's standard error: why it could not start
};

// Starts `application` (an absolute path, so the system searches nowhere) with
// `commandLine`, in `folder`, with `environment` (a block of EnvironmentBlock's form;
// null: ours), suspended and with none of our inheritable handles but `standardError`
// (not inheritable: it is made so only for the system's call that starts the host), which
// becomes its standard error; puts it in the job, then lets it run.
// On failure nothing is left running; `error` holds the system's code and `step` names
// what failed.
bool LaunchHostInJob(const std::wstring& application, const std::wstring& commandLine,
                     const std::wstring& folder, const std::wstring* environment,
                     HANDLE standardError, LaunchedHost& host, DWORD& error, std::string& step);
