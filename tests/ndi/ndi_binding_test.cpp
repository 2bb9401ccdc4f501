// Binding the NDI runtime with real library loads: the simulator's variants copied into
// temporary folders, in this process through NdiReceiver and in a copied Tivane.exe that
// must find the runtime beside itself or exit with code 1 before opening its pipe.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

#include "child_process.h"
#include "ndi_receiver.h"
#include "sim_call_log.h"
#include "test_files.h"

namespace {

const char* const kRuntime = "Processing.NDI.Lib.x64.dll";

TEST(NdiBinding, LoadEntryInitializeAndTeardownFollowWhatTheRuntimeOffers) {
    struct Case {
        const char* variant;  // nullptr: no runtime at all
        bool initialized;
        const char* loadLine;  // nullptr: no entry was called
        bool destroyed;
    };
    const Case cases[] = {
        {"both", true, "load v6", true},
        {"v5_only", true, "load v5", true},
        {"neither", false, nullptr, false},
        {"init_false", false, "load v6", true},  // a half-bound runtime is still shut down
        {nullptr, false, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variant ? c.variant : "missing");
        TempDir dir;
        if (c.variant != nullptr) {
            ASSERT_TRUE(dir.CopyIn(SimDir(c.variant) + kRuntime, kRuntime));
        }
        UseRuntimeFrom(dir.path());
        SimCallLog log("SIM_NDI_LOG");
        {
            NdiReceiver receiver;
            EXPECT_EQ(receiver.Initialize(), c.initialized);
            if (c.loadLine == nullptr) {
                EXPECT_FALSE(receiver.Start("novideo", 100));  // nothing bound, no worker
            }
        }
        std::vector<std::string> loads = log.Matching("load ");
        if (c.loadLine != nullptr) {
            EXPECT_EQ(loads, std::vector<std::string>{c.loadLine});
            EXPECT_EQ(log.Count("initialize"), 1);
        } else {
            EXPECT_TRUE(loads.empty());
            EXPECT_EQ(log.Count("initialize"), 0);
        }
        EXPECT_EQ(log.Count("destroy"), c.destroyed ? 1 : 0);
        EXPECT_EQ(log.Count("unexpected"), 0);
        EXPECT_EQ(GetModuleHandleA(kRuntime), nullptr) << "runtime still loaded";
    }
    UseRuntimeFrom("");
}

// One run of a Tivane.exe against a pipe of our own.
struct HostRun {
    bool pipeConnected = false;
    std::string firstLine;
    DWORD exitCode = STILL_ACTIVE;
};

bool WaitIo(HANDLE pipe, OVERLAPPED& io, DWORD& bytes, DWORD timeoutMs) {
    if (WaitForSingleObject(io.hEvent, timeoutMs) != WAIT_OBJECT_0) {
        CancelIoEx(pipe, &io);
        GetOverlappedResult(pipe, &io, &bytes, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, &io, &bytes, FALSE) != 0;
}

std::string ReadLine(HANDLE pipe, DWORD timeoutMs) {
    std::string line;
    char c = 0;
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    while (line.size() < 4096) {
        OVERLAPPED io{};
        io.hEvent = event.Get();
        ResetEvent(event.Get());
        DWORD bytes = 0;
        if (!ReadFile(pipe, &c, 1, nullptr, &io) && GetLastError() != ERROR_IO_PENDING) {
            break;
        }
        if (!WaitIo(pipe, io, bytes, timeoutMs) || bytes != 1 || c == '\n') {
            break;
        }
        line.push_back(c);
    }
    return line;
}

void WriteLine(HANDLE pipe, const std::string& text) {
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED io{};
    io.hEvent = event.Get();
    std::string line = text + "\n";
    DWORD bytes = 0;
    if (WriteFile(pipe, line.data(), static_cast<DWORD>(line.size()), nullptr, &io) ||
        GetLastError() == ERROR_IO_PENDING) {
        WaitIo(pipe, io, bytes, 5000);
    }
}

HostRun RunHost(const std::string& exe, const std::string& workingDir) {
    static std::atomic<int> counter{0};
    char name[128];
    std::snprintf(name, sizeof(name), "ndi_binding_%lu_%d", GetCurrentProcessId(),
                  counter.fetch_add(1));
    HostRun run;
    UniqueHandle pipe(CreateNamedPipeA(
        (std::string("\\\\.\\pipe\\") + name).c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
    if (!pipe) {
        ADD_FAILURE() << "CreateNamedPipeA failed";
        return run;
    }
    UniqueHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED connect{};
    connect.hEvent = connected.Get();
    ConnectNamedPipe(pipe.Get(), &connect);

    ChildProcess host;
    if (!host.Start("\"" + exe + "\" --pipeName=" + name, workingDir)) {
        ADD_FAILURE() << "CreateProcessA failed for " << exe;
        CancelIoEx(pipe.Get(), &connect);
        return run;
    }
    HANDLE waits[2] = {connected.Get(), host.handle()};
    DWORD which = WaitForMultipleObjects(2, waits, FALSE, 20000);
    if (which == WAIT_OBJECT_0) {
        run.pipeConnected = true;
        run.firstLine = ReadLine(pipe.Get(), 10000);
        WriteLine(pipe.Get(), "{\"type\":\"shutdown\"}");
    } else {
        DWORD bytes = 0;
        CancelIoEx(pipe.Get(), &connect);
        GetOverlappedResult(pipe.Get(), &connect, &bytes, TRUE);
    }
    run.exitCode = host.EndWithin(15000, 99);
    return run;
}

TEST(NdiBinding, TivaneFindsTheRuntimeBesideItselfOrExitsBeforeOpeningThePipe) {
    struct Case {
        const char* name;
        bool runtimeBesideExe;
    };
    const Case cases[] = {{"runtime only in the exe dir", true},
                          {"runtime missing everywhere", false}};
    TempDir elsewhere;  // working directory: holds no runtime
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        ASSERT_TRUE(dir.CopyIn(ExeDir() + "Tivane.exe", "Tivane.exe"));
        if (c.runtimeBesideExe) {
            ASSERT_TRUE(dir.CopyIn(SimDir() + kRuntime, kRuntime));
        }
        HostRun run = RunHost(dir.path() + "Tivane.exe", elsewhere.path());
        EXPECT_EQ(run.pipeConnected, c.runtimeBesideExe);
        if (c.runtimeBesideExe) {
            EXPECT_TRUE(Contains(run.firstLine, "\"type\":\"host_ready\"")) << run.firstLine;
            EXPECT_EQ(run.exitCode, 0u);
        } else {
            EXPECT_EQ(run.exitCode, 1u);
        }
    }
}

}  // namespace
