// Controller figures (not a test): the time from starting a host to its host_ready
// through HostProcess against the same through hostctl.exe, in the same run and on the
// same host, how soon a host is gone after its controller was killed, and how long End
// takes on a user-interface thread that the event callback hands every event to, with
// SendMessage (synchronous) and with PostMessage.
//   controller_bench [rounds] [HOST.exe]      (default 5 rounds of Tivane.exe)
// With `listing` first it times ListSources instead, on each host, first and warm, against
// the host's own answer in the same call (list_sources written -> sources_done read):
//   controller_bench listing [rounds] [N]     (default 5 rounds, 8 simulated sources)
// With `end` first, it measures instead how long 1, 4 and 8 hosts, each receiving, take to
// end one after the other (End each) and together (EndMany):
//   controller_bench end [rounds] [HOST.exe]  (default 3 rounds of Tivane.exe)
// A hostctl_baseline.exe beside it (any other hostctl build) is measured as well.
// Prints `key value` lines per round, then medians and ratios.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "controller_runs.h"
#include "controller_window.h"
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

// The user-interface thread of an application that sees the host's events through its
// window: the callback hands each one over with SendMessage or PostMessage.
constexpr UINT kEventMessage = WM_APP + 1;

struct UiWindow {
    HWND handle = nullptr;
    bool exitedSeen = false;
};

LRESULT CALLBACK UiWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kEventMessage) {
        auto* ui = reinterpret_cast<UiWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (ui && static_cast<HostEventType>(wParam) == HostEventType::Exited) {
            ui->exitedSeen = true;
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void PumpFor(double ms) {
    double end = NowMs() + ms;
    for (double now = NowMs(); now < end; now = NowMs()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now) + 1,
                                  QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
}

// End's duration on the thread that owns the window, and whether Exited had reached the
// window when End returned.
struct UiEnd {
    double endMs = -1.0;
    bool exitedBeforeReturn = false;
};

UiEnd EndFromUiThread(const std::string& host, bool synchronous) {
    UiWindow ui;
    ui.handle = MakeTestWindow(L"ControllerBenchUi", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, CLR_INVALID,
                               &UiWindowProc);
    UiEnd result;
    if (ui.handle == nullptr) {
        return result;
    }
    SetWindowLongPtrW(ui.handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&ui));
    HostOptions options;
    options.executable = host;
    HWND window = ui.handle;
    options.onEvent = [window, synchronous](const HostEvent& e) {
        WPARAM type = static_cast<WPARAM>(e.type);
        if (synchronous) {
            SendMessageW(window, kEventMessage, type, 0);
        } else {
            PostMessageW(window, kEventMessage, type, 0);
        }
    };
    {
        HostProcess process;
        if (process.Start(options) && process.WaitForReady(30000) &&
            process.SetSource("pattern:64x64@30")) {
            PumpFor(1500);
            double begin = NowMs();
            process.End(10000);
            result.endMs = NowMs() - begin;
            result.exitedBeforeReturn = ui.exitedSeen;
        }
        PumpFor(100);
    }
    DestroyWindow(ui.handle);
    return result;
}

// A test sender in the sender list, for Grelm to find; it ends with `sender`.
void StartSender(ChildProcess& sender) {
    if (sender.Start("\"" + ExeDir() +
                     "spout_sender.exe\" --name=controller-bench-sender --size=64x64 "
                     "--handle=0x1234 --hold=600000")) {
        Sleep(1500);  // it enters the list
    }
}

// One ListSources call: its duration, and the part of it that was the host's own answer
// (the request written -> its sources_done read by the library's reader).
struct ListingTimes {
    double callMs = -1.0;
    double hostMs = -1.0;
    size_t names = 0;
};

ListingTimes TimeListSources(HostProcess& process, double startedAtMs) {
    ListingTimes times;
    std::vector<std::string> names;
    double begin = NowMs();
    HostResult listed = process.ListSources(names, kListSourcesWaitMs);
    double end = NowMs();
    HostEvent event;
    while (listed && process.NextEvent(event, 1000)) {
        if (event.type == HostEventType::Sources) {
            times.callMs = end - begin;
            times.hostMs = event.receivedMs - (begin - startedAtMs);
            times.names = names.size();
            break;
        }
    }
    return times;
}

int ListingFigures(int rounds, int sources) {
    std::string list = UniqueTempPath("controller_bench") + ".sources";
    std::string text;
    for (int i = 0; i < sources; ++i) {
        text += "STUDIO-" + std::to_string(i) + " (Camera " + std::to_string(i) + ")\n";
    }
    WriteTextFile(list, text);
    ScopedVariable ndiList("SIM_NDI_SOURCES", list);
    ScopedVariable omtList("SIM_OMT_SOURCES", list);
    ChildProcess sender;
    StartSender(sender);
    ScopedHostSearchPath runtimes;
    const char* hosts[] = {"Tivane.exe", "Parlex.exe", "Grelm.exe"};
    std::map<std::string, std::vector<double>> figures;
    for (int round = 0; round < rounds; ++round) {
        for (const char* host : hosts) {
            HostOptions options;
            options.executable = ExeDir() + host;
            HostProcess process;
            double startedAt = NowMs();
            if (!process.Start(options) || !process.WaitForReady(30000)) {
                std::printf("%s did not start\n", host);
                continue;
            }
            for (const char* which : {"first", "warm"}) {
                ListingTimes times = TimeListSources(process, startedAt);
                std::string key = std::string(host) + " " + which;
                std::printf("%s call %.1f ms, host %.1f ms, %zu names\n", key.c_str(), times.callMs,
                            times.hostMs, times.names);
                std::fflush(stdout);
                if (times.callMs >= 0) {
                    figures[key + " call"].push_back(times.callMs);
                    figures[key + " host"].push_back(times.hostMs);
                    figures[key + " names"].push_back(static_cast<double>(times.names));
                }
            }
            process.End(20000);
        }
    }
    std::printf(
        "\nmedians of %d rounds, %d simulated sources (Grelm: the senders on the "
        "machine)\n",
        rounds, sources);
    for (const char* host : hosts) {
        for (const char* which : {"first", "warm"}) {
            std::string key = std::string(host) + " " + which;
            double call = Median(figures[key + " call"]);
            double answer = Median(figures[key + " host"]);
            std::printf(
                "%-18s ListSources %8.1f ms  host's answer %8.1f ms  (ratio %.2f)  "
                "%.0f names\n",
                key.c_str(), call, answer, answer > 0 ? call / answer : 0.0,
                Median(figures[key + " names"]));
        }
    }
    DeleteFileA(list.c_str());
    return 0;
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

// `count` hosts, each receiving a small simulated source; none when one did not start.
std::vector<std::unique_ptr<HostProcess>> StartReceiving(const std::string& host, int count) {
    std::vector<std::unique_ptr<HostProcess>> hosts;
    for (int i = 0; i < count; ++i) {
        HostOptions options;
        options.executable = host;
        hosts.push_back(std::make_unique<HostProcess>());
        if (!hosts.back()->Start(options) || !hosts.back()->WaitForReady(30000) ||
            !hosts.back()->SetSource("pattern:64x64@30;tag:" + std::to_string(i))) {
            hosts.clear();
            return hosts;
        }
    }
    Sleep(1500);  // every one past its first frames
    return hosts;
}

// The time to end them all, one End after the other or with one EndMany; -1 when one of
// them did not end with 0.
double EndHostsMs(const std::vector<std::unique_ptr<HostProcess>>& hosts, bool together) {
    if (hosts.empty()) {
        return -1.0;
    }
    bool clean = true;
    double begin = NowMs();
    if (together) {
        std::vector<HostProcess*> all;
        for (const std::unique_ptr<HostProcess>& host : hosts) {
            all.push_back(host.get());
        }
        std::vector<uint32_t> codes;
        for (const HostResult& result : HostProcess::EndMany(all, 10000, &codes)) {
            clean = clean && result;
        }
        for (uint32_t code : codes) {
            clean = clean && code == 0;
        }
    } else {
        for (const std::unique_ptr<HostProcess>& host : hosts) {
            uint32_t code = 99;
            clean = clean && host->End(10000, &code) && code == 0;
        }
    }
    double took = NowMs() - begin;
    return clean ? took : -1.0;
}

int EndFigures(int rounds, const std::string& host) {
    const int counts[] = {1, 4, 8};
    std::map<std::string, std::vector<double>> figures;
    for (int round = 0; round < rounds; ++round) {
        for (int count : counts) {
            for (bool together : {false, true}) {
                std::string key =
                    std::string(together ? "together_" : "in_a_row_") + std::to_string(count);
                double ms = EndHostsMs(StartReceiving(host, count), together);
                std::printf("end_%s_ms %.1f\n", key.c_str(), ms);
                std::fflush(stdout);
                if (ms >= 0) {
                    figures[key].push_back(ms);
                }
            }
        }
    }
    std::printf("\nmedians of %d rounds: hosts  in a row (End each)  together (EndMany)  ratio\n",
                rounds);
    for (int count : counts) {
        double row = Median(figures["in_a_row_" + std::to_string(count)]);
        double together = Median(figures["together_" + std::to_string(count)]);
        std::printf("%d host%s  %10.1f ms  %10.1f ms  %.2f\n", count, count == 1 ? " " : "s", row,
                    together, row > 0 ? together / row : 0.0);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "listing") {
        return ListingFigures(argc > 2 ? std::atoi(argv[2]) : 5, argc > 3 ? std::atoi(argv[3]) : 8);
    }
    if (argc > 1 && std::string(argv[1]) == "end") {
        ScopedHostSearchPath runtimes;
        return EndFigures(argc > 2 ? std::atoi(argv[2]) : 3,
                          ExeDir() + (argc > 3 ? argv[3] : "Tivane.exe"));
    }
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
        for (bool synchronous : {true, false}) {
            UiEnd end = EndFromUiThread(host, synchronous);
            note(synchronous ? "end_ui_send_ms" : "end_ui_post_ms", end.endMs);
            note(synchronous ? "end_ui_send_exited_before_return"
                             : "end_ui_post_exited_before_return",
                 end.exitedBeforeReturn ? 1.0 : 0.0);
        }
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
    for (const char* way : {"send", "post"}) {
        std::string key = std::string("end_ui_") + way;
        std::vector<double>& seen = figures[key + "_exited_before_return"];
        int before = 0;
        for (double value : seen) {
            before += value > 0 ? 1 : 0;
        }
        std::printf(
            "End on a UI thread, events %s  %8.1f ms  (Exited before End returned: "
            "%d of %zu)\n",
            way[0] == 's' ? "sent  " : "posted", Median(figures[key + "_ms"]), before, seen.size());
    }
    return 0;
}
