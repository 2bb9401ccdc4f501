// Process-level figures of real host processes: control latency, CPU, memory, handles,
// and many hosts at once. It plays the controlling application (pipe server) and prints
// one `key value` line per figure for scripts/bench. Not a test.
//
//   host_probe control HOST.exe          set_source -> "connecting"; shutdown -> teardown
//                                        done (pipe closed by the host) and process exit,
//                                        idle and receiving 1080p60
//   host_probe footprint HOST.exe [s]    idle, 1080p30 and 1080p60 CPU over s seconds (and
//                                        per received frame at 1080p60), working set and
//                                        peak working set idle and at 2160p, handle counts
//   host_probe scale HOST.exe N [s]      N hosts receiving 1080p30: CPU, memory, stats
//   host_probe listing HOST.exe [N]      list_sources -> sources_done, first and warm,
//                                        with N simulated sources (Grelm: one test
//                                        sender); frames per second of a 1080p60 source
//                                        over 5 s before and 5 s of listings, one every
//                                        250 ms (a picker refreshing), the first cold
//
// The simulated NDI runtime is found through PATH (<exe dir>\..\sim). Threads: the main
// thread drives; one reader thread per host timestamps every line the host writes.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

#include <psapi.h>

#include "json.h"
#include "line_splitter.h"
#include "platform.h"
#include "win_types.h"

namespace {

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

struct Message {
    double atMs;
    JsonObject body;
};

// One host process on its own pipe.
class Host {
public:
    ~Host() { End(); }

    bool Launch(const std::string& exe, int index) {
        char name[96];
        std::snprintf(name, sizeof name, "host-probe-%lu-%d-%.0f", GetCurrentProcessId(), index,
                      Now());
        pipeName_ = name;
        std::string path = std::string("\\\\.\\pipe\\") + name;
        pipe_ = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536,
                                 0, nullptr);
        if (pipe_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        UniqueHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        OVERLAPPED connect = {};
        connect.hEvent = connected.Get();
        if (!ConnectNamedPipe(pipe_, &connect) && GetLastError() != ERROR_IO_PENDING &&
            GetLastError() != ERROR_PIPE_CONNECTED) {
            return false;
        }
        std::string commandLine = "\"" + exe + "\" --pipeName=" + name;
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &info)) {
            return false;
        }
        CloseHandle(info.hThread);
        process_.Reset(info.hProcess);
        if (GetLastError() != ERROR_PIPE_CONNECTED &&
            WaitForSingleObject(connected.Get(), 15000) != WAIT_OBJECT_0) {
            return false;
        }
        arrived_.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        reader_.Reset(CreateThread(nullptr, 0, &Host::ReaderMain, this, 0, nullptr));
        return WaitFor("host_ready", "", 15000) >= 0.0;
    }

    // Returns the time the line was handed to the pipe.
    double Send(const std::string& line) {
        std::string bytes = line + "\n";
        UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        OVERLAPPED overlapped = {};
        overlapped.hEvent = done.Get();
        double at = Now();
        DWORD written = 0;
        if (!WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       &overlapped) &&
            GetLastError() == ERROR_IO_PENDING) {
            GetOverlappedResult(pipe_, &overlapped, &written, TRUE);
        }
        return at;
    }

    // Time at which the first message of `type` (and `state`, if given) arrived at or
    // after `afterMs`; negative when none came within `timeoutMs`.
    double WaitFor(const std::string& type, const std::string& state, DWORD timeoutMs,
                   double afterMs = 0.0) {
        double deadline = Now() + timeoutMs;
        for (;;) {
            {
                std::lock_guard<std::mutex> lock(lock_);
                for (const Message& m : messages_) {
                    if (m.atMs >= afterMs && m.body.Get("type") == type &&
                        (state.empty() || m.body.Get("state") == state)) {
                        return m.atMs;
                    }
                }
            }
            double left = deadline - Now();
            if (left <= 0.0) {
                return -1.0;
            }
            WaitForSingleObject(arrived_.Get(), static_cast<DWORD>(std::min(left, 50.0)) + 1);
        }
    }

    // Frame rates of the stats messages that arrived after `afterMs` (and before `untilMs`).
    std::vector<double> StatsSince(double afterMs, double untilMs = 1e300) {
        std::vector<double> rates;
        std::lock_guard<std::mutex> lock(lock_);
        for (const Message& m : messages_) {
            if (m.atMs >= afterMs && m.atMs < untilMs && m.body.Get("type") == "stats") {
                rates.push_back(std::atof(m.body.Get("fps").c_str()));
            }
        }
        return rates;
    }

    // The "count" of the first sources_done at or after `afterMs`, or -1.
    int ListedCount(double afterMs) {
        std::lock_guard<std::mutex> lock(lock_);
        for (const Message& m : messages_) {
            if (m.atMs >= afterMs && m.body.Get("type") == "sources_done") {
                return std::atoi(m.body.Get("count").c_str());
            }
        }
        return -1;
    }

    // When the host closed its end (teardown finished); negative if not within timeout.
    double WaitForPipeClosed(DWORD timeoutMs) {
        if (WaitForSingleObject(reader_.Get(), timeoutMs) != WAIT_OBJECT_0) {
            return -1.0;
        }
        return closedAt_;
    }

    double WaitForExit(DWORD timeoutMs) {
        if (WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) {
            return -1.0;
        }
        return Now();
    }

    HANDLE process() const { return process_.Get(); }
    const std::string& pipeName() const { return pipeName_; }

    void End() {
        if (process_ && WaitForSingleObject(process_.Get(), 0) != WAIT_OBJECT_0) {
            Send("{\"type\":\"shutdown\"}");
            if (WaitForSingleObject(process_.Get(), 10000) != WAIT_OBJECT_0) {
                TerminateProcess(process_.Get(), 99);
                WaitForSingleObject(process_.Get(), 5000);
            }
        }
        if (reader_) {
            CancelIoEx(pipe_, nullptr);
            WaitForSingleObject(reader_.Get(), 2000);
            reader_.Reset();
        }
        if (pipe_ != INVALID_HANDLE_VALUE) {
            CloseHandle(pipe_);
            pipe_ = INVALID_HANDLE_VALUE;
        }
        process_.Reset();
    }

private:
    static DWORD WINAPI ReaderMain(LPVOID self) {
        static_cast<Host*>(self)->ReadLines();
        return 0;
    }

    void ReadLines() {
        UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event.Get();
        char buffer[4096];
        LineSplitter lines;
        for (;;) {
            DWORD count = 0;
            if (!ReadFile(pipe_, buffer, sizeof buffer, &count, &overlapped) &&
                (GetLastError() != ERROR_IO_PENDING ||
                 !GetOverlappedResult(pipe_, &overlapped, &count, TRUE))) {
                break;
            }
            double at = Now();
            lines.Append(buffer, count, [this, at](const std::string& line) {
                std::lock_guard<std::mutex> lock(lock_);
                messages_.push_back({at, ParseJson(line)});
            });
            SetEvent(arrived_.Get());
        }
        closedAt_ = Now();
        SetEvent(arrived_.Get());
    }

    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    std::string pipeName_;
    UniqueHandle process_;
    UniqueHandle reader_;
    UniqueHandle arrived_;
    std::mutex lock_;
    std::vector<Message> messages_;  // guarded by lock_
    double closedAt_ = -1.0;         // written by the reader before it ends
};

std::string SetSource(const std::string& source) {
    return "{\"type\":\"set_source\",\"name\":\"" + source + "\",\"quality\":\"high\"}";
}
const char kShutdown[] = "{\"type\":\"shutdown\"}";

std::string ReadFileText(const std::string& path) {
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    std::string text;
    if (!file) {
        return text;
    }
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(file.Get(), buffer, sizeof buffer, &count, nullptr) && count > 0) {
        text.append(buffer, count);
    }
    return text;
}

// The host's Unix process under Wine (Z:\proc\N\), found by its unique pipe name on its
// command line; "" on Windows, where Z: is no view of the Unix file system.
std::string UnixProcDir(const Host& host) {
    if (!RunningUnderWine()) {
        return "";
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE) {
        return "";
    }
    std::string result;
    do {
        if (found.cFileName[0] < '0' || found.cFileName[0] > '9') {
            continue;
        }
        std::string dir = std::string("Z:\\proc\\") + found.cFileName + "\\";
        if (ReadFileText(dir + "cmdline").find(host.pipeName()) != std::string::npos) {
            result = dir;
            break;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return result;
}

// User plus system time in ms: under Wine from the host's Unix process (Wine's figure for
// another process does not move), on Windows from Windows.
double CpuMs(const Host& host) {
    FILETIME created, exited, kernel, user;
    std::string dir = UnixProcDir(host);
    if (dir.empty() && GetProcessTimes(host.process(), &created, &exited, &kernel, &user)) {
        auto ms = [](const FILETIME& t) {
            return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) |
                                       t.dwLowDateTime) /
                   10000.0;
        };
        return ms(kernel) + ms(user);
    }
    std::string stat = ReadFileText(dir + "stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return -1.0;
    }
    // Fields after the command name: state is field 3; utime and stime are 14 and 15.
    const char* cursor = stat.c_str() + close + 2;
    double ticks = 0.0;
    for (int field = 3; field <= 15; ++field) {
        char* end = nullptr;
        double value = std::strtod(cursor, &end);
        if (field >= 14) {
            ticks += value;
        }
        cursor = (end && end != cursor) ? end + 1 : std::strchr(cursor, ' ') + 1;
    }
    return ticks * 10.0;  // USER_HZ is 100
}

PROCESS_MEMORY_COUNTERS Memory(HANDLE process) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(process, &counters, sizeof counters);
    return counters;
}

// GetProcessHandleCount answers 0 for another process under Wine; the system handle
// list counts the host's handles on both.
struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};
using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

DWORD Handles(HANDLE process) {
    DWORD count = 0;
    if (GetProcessHandleCount(process, &count) && count > 0) {
        return count;
    }
    auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        return 0;
    }
    std::vector<unsigned char> buffer(1 << 20);
    const ULONG kSystemHandleInformation = 16;
    for (int attempt = 0; attempt < 6; ++attempt) {
        ULONG needed = 0;
        LONG status = query(kSystemHandleInformation, buffer.data(),
                            static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0) {
            ULONG entries = *reinterpret_cast<ULONG*>(buffer.data());
            auto* entry = reinterpret_cast<SystemHandleEntry*>(buffer.data() + sizeof(void*));
            DWORD pid = GetProcessId(process);
            for (ULONG i = 0; i < entries; ++i) {
                count += entry[i].ownerPid == pid ? 1 : 0;
            }
            return count;
        }
        buffer.resize(buffer.size() * 4);
    }
    return 0;
}

double Mb(SIZE_T bytes) {
    return static_cast<double>(bytes) / (1024.0 * 1024.0);
}

// CPU use of `hosts` over `seconds`, in percent of one core (summed over the hosts).
double CpuPercent(const std::vector<Host*>& hosts, int seconds) {
    std::vector<double> before;
    for (Host* host : hosts) {
        before.push_back(CpuMs(*host));
    }
    double start = Now();
    Sleep(static_cast<DWORD>(seconds) * 1000);
    double elapsed = Now() - start;
    double used = 0.0;
    for (size_t i = 0; i < hosts.size(); ++i) {
        used += CpuMs(*hosts[i]) - before[i];
    }
    return used * 100.0 / elapsed;
}

void Print(const char* key, double value) {
    std::printf("%s %.2f\n", key, value);
    std::fflush(stdout);
}

double Mean(const std::vector<double>& values) {
    double sum = 0.0;
    for (double value : values) {
        sum += value;
    }
    return values.empty() ? 0.0 : sum / static_cast<double>(values.size());
}

// One host per case; times from the command written to what was read.
int Control(const std::string& exe) {
    {
        Host host;
        if (!host.Launch(exe, 0)) {
            std::printf("error launch\n");
            return 1;
        }
        Sleep(300);
        double sent = host.Send(kShutdown);
        double closed = host.WaitForPipeClosed(10000);
        double exited = host.WaitForExit(15000);
        Print("control_idle_teardown_ms", closed - sent);
        Print("control_idle_exit_ms", exited - sent);
    }
    Host host;
    if (!host.Launch(exe, 1)) {
        std::printf("error launch\n");
        return 1;
    }
    Sleep(300);
    double sent = host.Send(SetSource("pattern:1920x1080@60"));
    Print("control_set_source_ms", host.WaitFor("status", "connecting", 5000, sent) - sent);
    host.WaitFor("stats", "", 5000, sent);
    Sleep(500);
    sent = host.Send(kShutdown);
    double disconnected = host.WaitFor("status", "disconnected", 10000, sent);
    double closed = host.WaitForPipeClosed(10000);
    double exited = host.WaitForExit(15000);
    Print("control_receiving_disconnected_ms", disconnected - sent);
    Print("control_receiving_teardown_ms", closed - sent);
    Print("control_receiving_exit_ms", exited - sent);
    return 0;
}

int Footprint(const std::string& exe, int seconds) {
    {
        Host host;
        if (!host.Launch(exe, 0)) {
            std::printf("error launch\n");
            return 1;
        }
        Sleep(1000);
        Print("idle_cpu_percent", CpuPercent({&host}, seconds));
        Print("idle_peak_working_set_mb", Mb(Memory(host.process()).PeakWorkingSetSize));
        Print("idle_handles", Handles(host.process()));
        host.Send(SetSource("pattern:1920x1080@30"));
        host.WaitFor("stats", "", 5000);
        Sleep(1000);
        Print("recv1080p30_cpu_percent", CpuPercent({&host}, seconds));
        Print("recv1080p30_working_set_mb", Mb(Memory(host.process()).WorkingSetSize));
        Print("recv1080p30_handles", Handles(host.process()));
        // CPU per received frame: the host's CPU over the span against the frames its
        // statistics counted in it (presents included: Wine renders them in the host).
        const double sent = host.Send(SetSource("pattern:1920x1080@60"));
        host.WaitFor("stats", "", 5000, sent);
        Sleep(1000);
        const double from = Now();
        const double cpu = CpuPercent({&host}, seconds);
        const double fps = Mean(host.StatsSince(from));
        Print("recv1080p60_cpu_percent", cpu);
        Print("recv1080p60_fps", fps);
        Print("recv1080p60_cpu_ms_per_frame", fps > 0.0 ? cpu * 10.0 / fps : 0.0);
        Print("recv1080p60_working_set_mb", Mb(Memory(host.process()).WorkingSetSize));
    }
    Host host;
    if (!host.Launch(exe, 1)) {
        std::printf("error launch\n");
        return 1;
    }
    double sent = host.Send(SetSource("pattern:3840x2160@30"));
    host.WaitFor("stats", "", 5000, sent);
    Sleep(3000);
    std::vector<double> rates = host.StatsSince(sent);
    Print("recv2160p30_stats_fps", rates.empty() ? 0.0 : rates.back());
    Print("recv2160p30_peak_working_set_mb", Mb(Memory(host.process()).PeakWorkingSetSize));
    return 0;
}

int Scale(const std::string& exe, int count, int seconds) {
    std::vector<std::unique_ptr<Host>> hosts;
    std::vector<Host*> all;
    for (int i = 0; i < count; ++i) {
        hosts.push_back(std::make_unique<Host>());
        if (!hosts.back()->Launch(exe, i)) {
            std::printf("error launch %d\n", i);
            return 1;
        }
        all.push_back(hosts.back().get());
    }
    for (int i = 0; i < count; ++i) {
        hosts[i]->Send(SetSource("pattern:1920x1080@30;host" + std::to_string(i)));
    }
    Sleep(3000);  // connection, first stats, first allocations
    double from = Now();
    Print("scale_hosts", count);
    Print("scale_cpu_percent", CpuPercent(all, seconds));
    double memory = 0.0;
    double lowest = 1e9;
    std::vector<double> rates;
    for (Host* host : all) {
        memory += Mb(Memory(host->process()).WorkingSetSize);
        for (double fps : host->StatsSince(from)) {
            lowest = std::min(lowest, fps);
            rates.push_back(fps);
        }
    }
    const int reports = static_cast<int>(rates.size());
    Print("scale_mean_stats_fps", Mean(rates));
    Print("scale_working_set_mb", memory);
    Print("scale_stats_reports", reports);
    Print("scale_lowest_stats_fps", reports > 0 ? lowest : 0.0);
    return 0;
}

// Sends list_sources and waits for its sources_done: the milliseconds between, or -1.
double TimeListing(Host& host) {
    double sent = host.Send("{\"type\":\"list_sources\"}");
    double done = host.WaitFor("sources_done", "", 10000, sent);
    return done < 0.0 ? -1.0 : done - sent;
}

// A test sender in the sender list, for Grelm to find.
UniqueHandle StartSender(const std::string& hostExe) {
    std::string line = "\"" + hostExe.substr(0, hostExe.find_last_of("\\/") + 1) +
                       "spout_sender.exe\" --name=host-probe-sender --size=1920x1080 "
                       "--handle=0x1234 --hold=30000";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
        return UniqueHandle();
    }
    CloseHandle(info.hThread);
    Sleep(1500);  // it enters the list
    return UniqueHandle(info.hProcess);
}

int Listing(const std::string& exe, int sources) {
    const bool grelm = exe.find("Grelm") != std::string::npos;
    char directory[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, directory);
    const std::string list = std::string(directory) + "host_probe_sources.txt";
    std::string text;
    for (int i = 0; i < sources; ++i) {
        text += "STUDIO-" + std::to_string(i) + " (Camera " + std::to_string(i) + ")\n";
    }
    UniqueHandle file(CreateFileA(list.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    file.Reset();
    SetEnvironmentVariableA("SIM_NDI_SOURCES", list.c_str());
    SetEnvironmentVariableA("SIM_OMT_SOURCES", list.c_str());
    UniqueHandle sender = grelm ? StartSender(exe) : UniqueHandle();
    {
        Host host;
        if (!host.Launch(exe, 0)) {
            std::printf("error launch\n");
            return 1;
        }
        Sleep(300);
        Print("listing_first_ms", TimeListing(host));
        Print("listing_sources", host.ListedCount(0.0));
        Print("listing_warm_ms", TimeListing(host));
    }
    if (!grelm) {
        Host host;
        if (!host.Launch(exe, 1)) {
            std::printf("error launch\n");
            return 1;
        }
        double sent = host.Send(SetSource("pattern:1920x1080@60"));
        host.WaitFor("stats", "", 5000, sent);
        Sleep(1500);
        double before = Now();
        Sleep(5000);
        double during = Now();
        int listings = 0;
        int unanswered = 0;
        for (double next = during; Now() - during < 5000.0; next += 250.0) {
            if (TimeListing(host) < 0.0) {
                ++unanswered;
                break;
            }
            ++listings;
            const double wait = next + 250.0 - Now();
            if (wait > 0.0) {
                Sleep(static_cast<DWORD>(wait));
            }
        }
        double end = Now();
        Sleep(1200);  // the stats of the last second
        Print("listing_fps_before", Mean(host.StatsSince(before, during)));
        // A stats line reports the second that ends with it: the first one counted is the
        // one whose second holds the first (cold) listing.
        Print("listing_fps_during", Mean(host.StatsSince(during + 900.0, end)));
        Print("listing_listings_during", listings);
        Print("listing_unanswered", unanswered);
    }
    if (sender) {
        TerminateProcess(sender.Get(), 0);
    }
    DeleteFileA(list.c_str());
    return 0;
}

std::string SimDir() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, length);
    dir.resize(dir.find_last_of("\\/") + 1);
    return dir + "..\\sim\\";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::printf("usage: host_probe control|footprint|scale|listing HOST.exe [N] [seconds]\n");
        return 2;
    }
    std::string mode = argv[1];
    std::string exe = argv[2];
    char path[32768];
    GetEnvironmentVariableA("PATH", path, sizeof path);
    SetEnvironmentVariableA("PATH", (SimDir() + ";" + path).c_str());  // inherited by hosts
    if (mode == "control") {
        return Control(exe);
    }
    if (mode == "footprint") {
        return Footprint(exe, argc > 3 ? std::atoi(argv[3]) : 10);
    }
    if (mode == "listing") {
        return Listing(exe, argc > 3 ? std::atoi(argv[3]) : 8);
    }
    if (mode == "scale") {
        return Scale(exe, argc > 3 ? std::atoi(argv[3]) : 8, argc > 4 ? std::atoi(argv[4]) : 10);
    }
    std::printf("unknown mode %s\n", mode.c_str());
    return 2;
}
