// What the controller tests and the benchmark share: the simulated runtimes on the
// search path of the hosts we start, and a controlling process killed under its host.
// One thread at a time.
#pragma once

#include <string>

#include "win_types.h"

// Puts <build>/sim in front of PATH for as long as it lives, so that hosts started
// meanwhile find the simulated runtimes; `withRuntimes` false leaves PATH alone.
class ScopedHostSearchPath {
public:
    explicit ScopedHostSearchPath(bool withRuntimes = true);
    ~ScopedHostSearchPath();
    ScopedHostSearchPath(const ScopedHostSearchPath&) = delete;
    ScopedHostSearchPath& operator=(const ScopedHostSearchPath&) = delete;

private:
    std::string saved_;
};

struct KilledController {
    bool started = false;  // controller_child ran and reported its host
    bool aliveBeforeKill = false;
    bool hostGone = false;      // within waitMs of the kill
    double goneAfterMs = -1.0;  // from TerminateProcess of the controller to the host's end
};

// Starts controller_child (beside the caller) on `hostExe`, waits for its host, kills the
// controller with TerminateProcess and waits at most waitMs for the host to end.
KilledController KillControllerUnderItsHost(const std::string& hostExe, DWORD waitMs);
