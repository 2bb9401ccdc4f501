#include "controller_runs.h"

#include <cstdlib>

#include "child_process.h"
#include "test_files.h"
#include "timing.h"

ScopedHostSearchPath::ScopedHostSearchPath(bool withRuntimes) {
    char path[32768] = {};
    GetEnvironmentVariableA("PATH", path, sizeof path);
    saved_ = path;
    // Without them PATH stays as it is: the hosts' own folder holds no runtime.
    SetEnvironmentVariableA("PATH", withRuntimes ? (SimDir() + ";" + saved_).c_str() : path);
}

ScopedHostSearchPath::~ScopedHostSearchPath() {
    SetEnvironmentVariableA("PATH", saved_.c_str());
}

KilledController KillControllerUnderItsHost(const std::string& hostExe, DWORD waitMs) {
    KilledController result;
    std::string pidFile = UniqueTempPath("controller_child") + ".pid";
    ChildProcess controller;
    if (!controller.Start("\"" + ExeDir() + "controller_child.exe\" \"" + hostExe + "\" \"" +
                          pidFile + "\"")) {
        return result;
    }
    DWORD hostPid = 0;
    WaitUntil(
        [&] {
            std::vector<std::string> lines = ReadLines(pidFile);
            hostPid = lines.empty() ? 0 : std::strtoul(lines[0].c_str(), nullptr, 10);
            return hostPid != 0 || controller.WaitForExit(0) != -1;
        },
        60000);
    DeleteFileA(pidFile.c_str());
    UniqueHandle host(OpenProcess(SYNCHRONIZE, FALSE, hostPid));
    if (hostPid == 0 || !host) {
        return result;
    }
    result.started = true;
    result.aliveBeforeKill = WaitForSingleObject(host.Get(), 0) == WAIT_TIMEOUT;
    double killedAt = NowMs();
    TerminateProcess(controller.handle(), 9);
    result.hostGone = WaitForSingleObject(host.Get(), waitMs) == WAIT_OBJECT_0;
    if (result.hostGone) {
        result.goneAfterMs = NowMs() - killedAt;
    }
    return result;
}
