// Controller figures (not a test): the time from starting a host to its host_ready
// through HostProcess against the same through hostctl.exe, in the same run and on the
// same host, and how soon a host is gone after its controller was killed.
//   controller_bench [rounds] [HOST.exe]      (default 5 rounds of Tivane.exe)
// A hostctl_baseline.exe beside it (any other hostctl build) is measured as well.
// Prints `key value` lines per round, then medians and ratios.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "child_process.h"
#include "controller_runs.h"
#include "host_process.h"
#include "test_files.h"
#include "timing.h"

namespace {

double Median(std::vector<double> values) {
    if (values.empty()) {
        return -1.0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Start alone (pipe, job, process) and Start through host_ready, in milliseconds.
struct LibraryTimes {
    double startCallMs = -1.0;
    double readyMs = -1.0;
};

LibraryTimes LibraryReadyMs(const std::string& host) {
    HostOptions options;
    options.executable = host;
    HostProcess process;
    LibraryTimes times;
    double begin = NowMs();
    if (!process.Start(options)) {
        return times;
    }
    times.startCallMs = NowMs() - begin;
    if (process.WaitForReady(30000)) {
        times.readyMs = NowMs() - begin;
    }
    process.End(20000);
    return times;
}

// hostctl's own clock starts before it makes the pipe; its host_ready line carries the
// seconds since then.
double HostctlReadyMs(const std::string& hostctl, const std::string& host) {
    std::string base = UniqueTempPath("controller_bench");
    WriteTextFile(base + ".script", "wait_for host_ready\n{\"type\":\"shutdown\"}\n");
    DWORD code =
        RunRedirected("\"" + hostctl + "\" --script=\"" + base + ".script\" \"" + host + "\"",
                      base + ".out", 60000);
    double ms = -1.0;
    for (const std::string& line : ReadLines(base + ".out")) {
        if (code == 0 && line.find("] <- {\"type\":\"host_ready\"") != std::string::npos) {
            ms = std::atof(line.c_str() + 1) * 1000.0;
            break;
        }
    }
    DeleteFileA((base + ".script").c_str());
    DeleteFileA((base + ".out").c_str());
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = argc > 1 ? std::atoi(argv[1]) : 5;
    std::string host = ExeDir() + (argc > 2 ? argv[2] : "Tivane.exe");
    std::string baseline = ExeDir() + "hostctl_baseline.exe";
    bool withBaseline = FileExists(baseline);
    ScopedHostSearchPath runtimes;
    std::map<std::string, std::vector<double>> figures;
    auto note = [&figures](const char* key, double value) {
        std::printf("%s %.1f\n", key, value);
        std::fflush(stdout);
        if (value >= 0) {
            figures[key].push_back(value);
        }
    };
    for (int round = 0; round < rounds; ++round) {
        LibraryTimes library = LibraryReadyMs(host);
        note("library_start_call_ms", library.startCallMs);
        note("library_ready_ms", library.readyMs);
        note("hostctl_ready_ms", HostctlReadyMs(ExeDir() + "hostctl.exe", host));
        if (withBaseline) {
            note("baseline_ready_ms", HostctlReadyMs(baseline, host));
        }
        KilledController killed = KillControllerUnderItsHost(host, 10000);
        note("host_gone_after_kill_ms", killed.hostGone ? killed.goneAfterMs : -1.0);
    }
    double library = Median(figures["library_ready_ms"]);
    double hostctl = Median(figures["hostctl_ready_ms"]);
    std::printf("\nmedians of %d rounds\n", rounds);
    std::printf("Start call (pipe, job, process)     %8.1f ms\n",
                Median(figures["library_start_call_ms"]));
    std::printf("start -> host_ready, HostProcess    %8.1f ms\n", library);
    std::printf("start -> host_ready, hostctl.exe    %8.1f ms  (HostProcess / hostctl %.2f)\n",
                hostctl, hostctl > 0 ? library / hostctl : 0.0);
    if (withBaseline) {
        double old = Median(figures["baseline_ready_ms"]);
        std::printf("start -> host_ready, baseline       %8.1f ms  (HostProcess / baseline %.2f)\n",
                    old, old > 0 ? library / old : 0.0);
    }
    std::printf("controller killed -> host gone      %8.1f ms  (%zu of %d gone within 10 s)\n",
                Median(figures["host_gone_after_kill_ms"]),
                figures["host_gone_after_kill_ms"].size(), rounds);
    return 0;
}
