// Figures, not a test: the pipe under Wine. Each figure is printed beside a baseline
// measured in the same run:
//   command latency   server write -> PipeClient's command callback, against a bare
//                     overlapped reader on the same kind of pipe
//   throughput        PipeClient::SendStats messages per second, against bare WriteFile
//                     of the same lines
//   start-up          process start -> host_ready for each host built beside this
//                     program, against pipe_bench_client.exe, a trivial program that
//                     opens the same pipe and writes one line
// Usage: pipe_bench [runs]   (default 200 latency samples, 15 start-ups per program)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "child_process.h"
#include "pipe_client.h"
#include "protocol.h"
#include "test_files.h"
#include "test_pipe_server.h"
#include "timing.h"

namespace {

double Percentile(std::vector<double> samples, double fraction) {
    if (samples.empty()) {
        return -1.0;
    }
    std::sort(samples.begin(), samples.end());
    size_t at = static_cast<size_t>(fraction * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[at];
}

void Report(const char* what, const std::vector<double>& samples, const char* unit) {
    std::printf("  %-34s median %9.3f %s   p90 %9.3f %s   (n=%zu)\n", what,
                Percentile(samples, 0.5), unit, Percentile(samples, 0.9), unit, samples.size());
}

const std::string kCommand = R"({"type":"set_quality","quality":"low"})"
                             "\n";

std::vector<double> ClientLatency(int runs) {
    TestPipeServer server;
    PipeClient client;
    if (!server.Create() || !client.Connect(server.name()) || !server.AwaitClient()) {
        return {};
    }
    UniqueHandle arrived(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    double arrivedAt = 0;
    client.StartReader(
        [&](const JsonObject&) {
            arrivedAt = NowMs();
            SetEvent(arrived.Get());
        },
        nullptr);
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        double sentAt = NowMs();
        server.Write(kCommand);
        if (WaitForSingleObject(arrived.Get(), 5000) == WAIT_OBJECT_0) {
            samples.push_back(arrivedAt - sentAt);
        }
        Sleep(1);
    }
    client.Close();
    return samples;
}

// The same path without PipeClient: one overlapped read waited on without a poll.
struct BareReader {
    HANDLE pipe;
    HANDLE arrived;
    double arrivedAt = 0;
    static DWORD WINAPI Main(LPVOID context) {
        auto* self = static_cast<BareReader*>(context);
        UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        char buffer[4096];
        for (;;) {
            OVERLAPPED overlapped = {};
            overlapped.hEvent = event.Get();
            DWORD count = 0;
            if (!ReadFile(self->pipe, buffer, sizeof buffer, &count, &overlapped) &&
                (GetLastError() != ERROR_IO_PENDING ||
                 !GetOverlappedResult(self->pipe, &overlapped, &count, TRUE))) {
                return 0;
            }
            if (count > 0 && std::find(buffer, buffer + count, '\n') != buffer + count) {
                self->arrivedAt = NowMs();
                SetEvent(self->arrived);
            }
        }
    }
};

UniqueHandle OpenClientEnd(const std::string& name) {
    std::string path = "\\\\.\\pipe\\" + name;
    return UniqueHandle(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
}

std::vector<double> BareLatency(int runs) {
    TestPipeServer server;
    if (!server.Create()) {
        return {};
    }
    UniqueHandle client = OpenClientEnd(server.name());
    if (!client || !server.AwaitClient()) {
        return {};
    }
    UniqueHandle arrived(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    BareReader reader{client.Get(), arrived.Get()};
    UniqueHandle thread(CreateThread(nullptr, 0, &BareReader::Main, &reader, 0, nullptr));
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        double sentAt = NowMs();
        server.Write(kCommand);
        if (WaitForSingleObject(arrived.Get(), 5000) == WAIT_OBJECT_0) {
            samples.push_back(reader.arrivedAt - sentAt);
        }
        Sleep(1);
    }
    server.Close();
    WaitForSingleObject(thread.Get(), 2000);
    return samples;
}

// Reads and counts LFs until `expected` arrived; runs on its own thread.
struct LineCounter {
    TestPipeServer* server;
    long expected;
    long seen = 0;
    static DWORD WINAPI Main(LPVOID context) {
        auto* self = static_cast<LineCounter*>(context);
        while (self->seen < self->expected) {
            std::string bytes = self->server->ReadSome(2000);
            if (bytes.empty()) {
                return 0;
            }
            self->seen += static_cast<long>(std::count(bytes.begin(), bytes.end(), '\n'));
        }
        return 0;
    }
};

constexpr long kMessages = 20000;

// Messages per second for one burst; `send` writes one stats line.
template <typename Send>
double Throughput(TestPipeServer& server, Send send) {
    LineCounter counter{&server, kMessages};
    UniqueHandle thread(CreateThread(nullptr, 0, &LineCounter::Main, &counter, 0, nullptr));
    double start = NowMs();
    for (long i = 0; i < kMessages; ++i) {
        send();
    }
    WaitForSingleObject(thread.Get(), 30000);
    double seconds = (NowMs() - start) / 1000.0;
    return counter.seen == kMessages ? static_cast<double>(kMessages) / seconds : -1.0;
}

std::vector<double> ClientThroughput(int bursts) {
    std::vector<double> rates;
    for (int b = 0; b < bursts; ++b) {
        TestPipeServer server;
        PipeClient client;
        if (!server.Create() || !client.Connect(server.name()) || !server.AwaitClient()) {
            return rates;
        }
        rates.push_back(Throughput(server, [&] { client.SendStats(59.94f, 1920, 1080); }));
    }
    return rates;
}

std::vector<double> BareThroughput(int bursts) {
    const std::string line = BuildStats(59.94f, 1920, 1080) + "\n";
    std::vector<double> rates;
    for (int b = 0; b < bursts; ++b) {
        TestPipeServer server;
        if (!server.Create()) {
            return rates;
        }
        UniqueHandle client = OpenClientEnd(server.name());
        if (!client || !server.AwaitClient()) {
            return rates;
        }
        UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        rates.push_back(Throughput(server, [&] {
            OVERLAPPED overlapped = {};
            overlapped.hEvent = event.Get();
            DWORD written = 0;
            if (!WriteFile(client.Get(), line.data(), static_cast<DWORD>(line.size()), &written,
                           &overlapped)) {
                GetOverlappedResult(client.Get(), &overlapped, &written, TRUE);
            }
        }));
    }
    return rates;
}

// Process start -> first line on the pipe, in ms; negative when none came.
double StartupOnce(const std::string& exe) {
    TestPipeServer server;
    if (!server.Create()) {
        return -1.0;
    }
    ChildProcess process;
    double start = NowMs();
    if (!process.Start("\"" + exe + "\" --pipeName=" + server.name())) {
        return -1.0;
    }
    std::string line;
    double took =
        server.AwaitClient(10000) && server.ReadLine(line, 10000) ? NowMs() - start : -1.0;
    // The end of a host is not measured: it is stopped at once.
    process.EndWithin(0, 0);
    return took;
}

std::vector<double> Startups(const std::string& exe, int runs) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        double took = StartupOnce(exe);
        if (took >= 0) {
            samples.push_back(took);
        }
    }
    return samples;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 200;
    std::printf("command latency, server write -> callback (%d samples each)\n", runs);
    Report("bare overlapped reader", BareLatency(runs), "ms");
    Report("PipeClient reader", ClientLatency(runs), "ms");

    std::printf("throughput, %ld stats lines a burst, 7 bursts\n", kMessages);
    Report("bare WriteFile", BareThroughput(7), "msg/s");
    Report("PipeClient::SendStats", ClientThroughput(7), "msg/s");

    // The hosts find their simulated runtimes through PATH.
    char path[32768] = {};
    GetEnvironmentVariableA("PATH", path, sizeof path);
    SetEnvironmentVariableA("PATH", (ExeDir() + "..\\sim;" + path).c_str());
    int startups = std::max(3, runs / 13);
    std::printf("start-up, process start -> first line (%d runs each)\n", startups);
    const char* programs[] = {"pipe_bench_client.exe", "Tivane.exe", "Parlex.exe", "Grelm.exe"};
    for (const char* program : programs) {
        std::string exe = ExeDir() + program;
        if (!FileExists(exe)) {
            std::printf("  %-34s not built\n", program);
            continue;
        }
        Report(program, Startups(exe, startups), "ms");
    }
    return 0;
}
