// Binding the NDI runtime with real library loads: the simulator's variants copied into
// temporary folders, in this process through NdiReceiver and in a copied Tivane.exe that
// must find the runtime beside itself or exit with code 1 before opening its pipe.
#include <gtest/gtest.h>

#include "child_process.h"
#include "ndi_receiver.h"
#include "sim_call_log.h"
#include "test_files.h"
#include "test_pipe_server.h"

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
            auto receiver = NdiReceiver::Create();
            EXPECT_EQ(receiver->Initialize(), c.initialized);
            if (c.loadLine == nullptr) {
                EXPECT_FALSE(receiver->Start("novideo", 100));  // nothing bound, no worker
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

HostRun RunHost(const std::string& exe, const std::string& workingDir) {
    HostRun run;
    TestPipeServer pipe;
    if (!pipe.Create(4096, 4096)) {
        ADD_FAILURE() << "CreateNamedPipeA failed";
        return run;
    }
    ChildProcess host;
    if (!host.Start("\"" + exe + "\" --pipeName=" + pipe.name(), workingDir)) {
        ADD_FAILURE() << "CreateProcessA failed for " << exe;
        return run;
    }
    if (pipe.AwaitClient(20000, host.handle())) {
        run.pipeConnected = true;
        pipe.ReadLine(run.firstLine, 10000);
        pipe.Write("{\"type\":\"shutdown\"}\n");
    }
    run.exitCode = host.EndWithin(15000, 99);
    return run;
}

TEST(NdiBinding, TivaneFindsTheRuntimeBesideItselfOrExitsBeforeOpeningThePipe) {
    struct Case {
        const char* name;
        bool runtimeBesideExe;
        bool runtimeInWorkingDir;  // never looked at: whoever started the host chose it
    };
    const Case cases[] = {{"runtime only in the exe dir", true, false},
                          {"runtime only in the working directory", false, true},
                          {"runtime missing everywhere", false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        TempDir elsewhere;  // working directory
        ASSERT_TRUE(dir.CopyIn(ExeDir() + "Tivane.exe", "Tivane.exe"));
        if (c.runtimeBesideExe) {
            ASSERT_TRUE(dir.CopyIn(SimDir() + kRuntime, kRuntime));
        }
        if (c.runtimeInWorkingDir) {
            ASSERT_TRUE(elsewhere.CopyIn(SimDir() + kRuntime, kRuntime));
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
