// HostProcess against the real hosts on the simulated runtimes, under Wine: a whole life
// (start, host_ready, frames, a quality change, shutdown with 0), start-ups that fail,
// a pipe that no other process can take, a host that goes with a killed controller, the
// ending of hosts that will not end, do not read or have callbacks that take their time,
// and source listings from a host that lists and from hosts that ignore or break them.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "controller_runs.h"
#include "host_error_output.h"
#include "host_process.h"
#include "platform.h"
#include "test_files.h"
#include "timing.h"

namespace {

constexpr unsigned kStartMs = 30000;
constexpr unsigned kEventMs = 20000;

using Predicate = std::function<bool(const HostEvent&)>;

// Takes events into `seen` until one satisfies `until`; false when none did in time.
bool TakeUntil(HostProcess& host, std::vector<HostEvent>& seen, const Predicate& until,
               unsigned timeoutMs = kEventMs) {
    DWORD begin = GetTickCount();
    HostEvent event;
    for (;;) {
        DWORD elapsed = GetTickCount() - begin;
        if (elapsed >= timeoutMs || !host.NextEvent(event, timeoutMs - elapsed)) {
            return false;
        }
        seen.push_back(event);
        if (until(event)) {
            return true;
        }
    }
}

Predicate StatsOfWidth(int width) {
    return
        [width](const HostEvent& e) { return e.type == HostEventType::Stats && e.width == width; };
}

bool IsExit(const HostEvent& e) {
    return e.type == HostEventType::Exited;
}

std::string Transcript(const std::vector<HostEvent>& events) {
    std::string text;
    for (const HostEvent& e : events) {
        text += std::to_string(static_cast<int>(e.type)) + " " + e.line + "\n";
    }
    return text;
}

bool Built(const char* exe) {
    return FileExists(ExeDir() + exe);
}

HostOptions OptionsFor(const char* exe) {
    HostOptions options;
    options.executable = ExeDir() + exe;
    return options;
}

struct ReceivingHost {
    const char* exe;
    char separator;  // between the simulated runtime's tokens
    int lowWidth;    // of a 320 x 180 source at the low quality
};

void PrintTo(const ReceivingHost& host, std::ostream* out) {
    *out << host.exe;
}

class HostProcessLife : public testing::TestWithParam<ReceivingHost> {};

TEST_P(HostProcessLife, ReceivesChangesQualityAndEndsWithZero) {
    if (!Built(GetParam().exe)) {
        GTEST_SKIP() << GetParam().exe << " not built";
    }
    ScopedHostSearchPath runtimes;
    HostProcess host;
    // A pipe name outside any ANSI code page: the host reads its command line wide.
    HostOptions options = OptionsFor(GetParam().exe);
    options.pipeNamePrefix = "h\u00F4te-\u2603-\u043A\u0430\u043D\u0430\u043B";
    HostResult started = host.Start(options);
    ASSERT_TRUE(started) << started.reason;
    HostReady ready;
    HostResult isReady = host.WaitForReady(kStartMs, &ready);
    ASSERT_TRUE(isReady) << isReady.reason;
    DWORD owner = 0;
    GetWindowThreadProcessId(ready.window, &owner);
    EXPECT_EQ(owner, host.processId());
    EXPECT_EQ(ready.processId, host.processId());

    // Spaces around the tokens: the runtime trims them, the host keeps the name as sent.
    std::string sep(1, GetParam().separator);
    std::string name = " pattern:320x180@30 " + sep + " tag:life ";
    ASSERT_TRUE(host.SetSource(name, "high"));
    std::vector<HostEvent> seen;
    ASSERT_TRUE(TakeUntil(host, seen, StatsOfWidth(320))) << Transcript(seen);
    ASSERT_TRUE(host.SetQuality("low"));
    ASSERT_TRUE(TakeUntil(host, seen, StatsOfWidth(GetParam().lowWidth))) << Transcript(seen);
    ASSERT_TRUE(host.Shutdown());
    ASSERT_TRUE(TakeUntil(host, seen, IsExit)) << Transcript(seen);

    EXPECT_EQ(seen.front().type, HostEventType::PipeOpened) << Transcript(seen);
    EXPECT_EQ(seen[1].type, HostEventType::Ready);
    EXPECT_EQ(seen[1].window, reinterpret_cast<intptr_t>(ready.window));
    EXPECT_EQ(seen[2].state, "connecting");
    EXPECT_EQ(seen[2].source, name);
    EXPECT_EQ(seen.back().exitCode, 0u);
    EXPECT_EQ(seen[seen.size() - 2].state, "disconnected") << Transcript(seen);
    HostEvent after;
    EXPECT_FALSE(host.NextEvent(after, 0)) << "nothing after the exit";
    uint32_t code = 99;
    EXPECT_TRUE(host.End(1000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(host.SetSource("late").error, HostError::PipeClosed);
}

INSTANTIATE_TEST_SUITE_P(Hosts, HostProcessLife,
                         testing::Values(ReceivingHost{"Tivane.exe", ';', 160},
                                         ReceivingHost{"Parlex.exe", ',', 80}),
                         [](const testing::TestParamInfo<ReceivingHost>& param) {
                             std::string name = param.param.exe;
                             return name.substr(0, name.find('.'));
                         });

// Wine's Direct3D gives the program of this name no device: the application defaults of
// Wine's registry set its renderer to none, for as long as this lives. Under Wine only.
class NoDeviceFor {
public:
    explicit NoDeviceFor(const std::string& exeName)
        : key_("Software\\Wine\\AppDefaults\\" + exeName) {
        RegSetKeyValueA(HKEY_CURRENT_USER, (key_ + "\\Direct3D").c_str(), "renderer", REG_SZ,
                        "no3d", 5);
    }
    ~NoDeviceFor() { RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str()); }
    NoDeviceFor(const NoDeviceFor&) = delete;
    NoDeviceFor& operator=(const NoDeviceFor&) = delete;

private:
    std::string key_;
};

// One row per way a start can fail: the result, the exit code, and the step the host says
// failed, in its own words.
TEST(HostProcessStart, FailuresComeWithTheirReasonAndExitCode) {
    if (!Built("Tivane.exe") || !Built("Parlex.exe") || !Built("Grelm.exe")) {
        GTEST_SKIP() << "the hosts are not built";
    }
    struct Case {
        const char* what;
        bool runtimes;
        HostOptions options;
        HostError startError;  // None: Start succeeds and WaitForReady fails
        HostError readyError;
        uint32_t exitCode;
        StartupFailure startup;
        const char* says;  // part of the host's own text
    };
    HostOptions noPipeName = OptionsFor("Grelm.exe");
    noPipeName.passPipeName = false;
    HostOptions noSuchPipe = noPipeName;
    noSuchPipe.arguments = {"--pipeName=controller-test-no-such-pipe"};
    HostOptions noEntry = OptionsFor("Tivane.exe");
    noEntry.libraryFolder = SimDir("neither");
    HostOptions noReceive = OptionsFor("Parlex.exe");
    noReceive.libraryFolder = SimDir("no_receive");
    // A copy of Grelm under a name of its own, so that no other test's host loses its device.
    TempDir folder;
    std::string deviceless = "NoDeviceGrelm" + std::to_string(GetCurrentProcessId()) + ".exe";
    ASSERT_TRUE(folder.CopyIn(ExeDir() + "Grelm.exe", deviceless));
    HostOptions noDevice;
    noDevice.executable = folder.path() + deviceless;
    const Case cases[] = {
        {"library missing", false, OptionsFor("Tivane.exe"), HostError::None,
         HostError::ExitedBeforePipe, 1, StartupFailure::LibraryNotFound,
         "Processing.NDI.Lib.x64.dll not found: neither in the host's folder"},
        {"library without its load entry", false, noEntry, HostError::None,
         HostError::ExitedBeforePipe, 1, StartupFailure::LibraryUnusable,
         "neither\\Processing.NDI.Lib.x64.dll has neither NDIlib_v6_load nor NDIlib_v5_load"},
        {"library without omt_receive", false, noReceive, HostError::None,
         HostError::ExitedBeforePipe, 1, StartupFailure::LibraryUnusable,
         "no_receive\\libomt.dll lacks omt_receive"},
        {"no Direct3D 11 device", true, noDevice, HostError::None, HostError::ExitedBeforePipe, 1,
         StartupFailure::NoDevice, "no Direct3D 11 device"},
        {"no such pipe", true, noSuchPipe, HostError::None, HostError::ExitedBeforePipe, 1,
         StartupFailure::PipeNotOpened, "controller-test-no-such-pipe: no pipe of that name"},
        {"no pipe name", true, noPipeName, HostError::None, HostError::ExitedBeforePipe, 1,
         StartupFailure::BadCommandLine, "--pipeName=NAME is required"},
        {"no such program", true, OptionsFor("NoSuchHost.exe"), HostError::LaunchFailed,
         HostError::None, 0, StartupFailure::None, ""},
        {"no program at all", true, HostOptions(), HostError::InvalidArgument, HostError::None, 0,
         StartupFailure::None, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.startup == StartupFailure::NoDevice && !RunningUnderWine()) {
            continue;  // taking the device away from one program is Wine's own setting
        }
        ScopedHostSearchPath path(c.runtimes);
        std::unique_ptr<NoDeviceFor> withoutDevice;
        if (c.startup == StartupFailure::NoDevice) {
            withoutDevice = std::make_unique<NoDeviceFor>(deviceless);
        }
        HostProcess host;
        HostResult started = host.Start(c.options);
        EXPECT_EQ(started.error, c.startError) << started.reason;
        if (!started) {
            EXPECT_FALSE(started.reason.empty());
            EXPECT_EQ(host.processId(), 0u);
            continue;
        }
        EXPECT_NE(host.processId(), 0u) << "known right after the start";
        HostResult ready = host.WaitForReady(kStartMs);
        EXPECT_EQ(ready.error, c.readyError) << ready.reason;
        EXPECT_EQ(ready.exitCode, c.exitCode);
        EXPECT_NE(ready.reason.find("exited with code 1"), std::string::npos) << ready.reason;
        EXPECT_EQ(ready.startup.reason, c.startup) << ready.startup.text;
        EXPECT_NE(ready.startup.text.find(c.says), std::string::npos) << ready.startup.text;
        EXPECT_NE(ready.reason.find(ready.startup.text), std::string::npos) << ready.reason;
        EXPECT_EQ(host.startupProblem().text, ready.startup.text);
        std::vector<HostEvent> seen;
        EXPECT_TRUE(TakeUntil(host, seen, IsExit)) << Transcript(seen);
        EXPECT_EQ(seen.size(), 1u) << "no pipe, no lines: " << Transcript(seen);
    }
}

TEST(HostProcessStart, ALibraryWritingToStandardErrorNeverStallsTheHost) {
    if (!Built("Parlex.exe")) {
        GTEST_SKIP() << "Parlex.exe not built";
    }
    // 120 KB a second there, where the host's own start-up report goes: a pipe that nobody
    // read would be full within a second and stop the receiver in its next write.
    ScopedHostSearchPath runtimes;
    HostProcess host;
    ASSERT_TRUE(host.Start(OptionsFor("Parlex.exe")));
    ASSERT_TRUE(host.WaitForReady(kStartMs));
    ASSERT_TRUE(host.SetSource("pattern:64x64@30, stderr:4000"));
    std::vector<HostEvent> seen;
    int stats = 0;
    EXPECT_TRUE(TakeUntil(host, seen, [&stats](const HostEvent& e) {
        return e.type == HostEventType::Stats && e.fps > 0 && ++stats == 4;
    })) << Transcript(seen);
    uint32_t code = 99;
    EXPECT_TRUE(host.End(kEventMs, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(host.startupProblem().reason, StartupFailure::None);

    // The host's end of it is never inheritable by what else the application starts.
    HostErrorOutput output;
    UniqueHandle hostEnd;
    DWORD error = 0;
    ASSERT_TRUE(
        output.Start("hc-test-stderr-" + std::to_string(GetCurrentProcessId()), hostEnd, error));
    DWORD flags = 0;
    ASSERT_TRUE(GetHandleInformation(hostEnd.Get(), &flags));
    EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
}

TEST(HostProcessPipe, NoOtherProcessCanTakeTheHostsPlace) {
    if (!Built("Grelm.exe")) {
        GTEST_SKIP() << "Grelm.exe not built";
    }
    // A server that squats the name first: ours is not made, no host starts.
    std::string squatted = "controller-squat-" + std::to_string(GetCurrentProcessId());
    UniqueHandle squatter(CreateNamedPipeA(("\\\\.\\pipe\\" + squatted).c_str(), PIPE_ACCESS_DUPLEX,
                                           PIPE_TYPE_BYTE, PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0,
                                           nullptr));
    ASSERT_TRUE(squatter);
    HostOptions options = OptionsFor("Grelm.exe");
    options.pipeName = squatted;
    HostProcess refused;
    EXPECT_EQ(refused.Start(options).error, HostError::PipeNameTaken);
    EXPECT_EQ(refused.processId(), 0u);

    // A process that opens the pipe before the host is turned away; once the host holds
    // the pipe, nobody else can open it.
    HostProcess host;
    ASSERT_TRUE(host.Start(OptionsFor("Grelm.exe")));
    std::string path = "\\\\.\\pipe\\" + host.pipeName();
    UniqueHandle early(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    HostResult ready = host.WaitForReady(kStartMs);
    ASSERT_TRUE(ready) << ready.reason;
    if (early) {
        char byte = 0;
        DWORD read = 0;
        EXPECT_FALSE(ReadFile(early.Get(), &byte, 1, &read, nullptr)) << "the intruder reads";
    }
    UniqueHandle late(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    EXPECT_FALSE(late);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PIPE_BUSY));
    EXPECT_TRUE(host.SetSource("AnySender"));
    uint32_t code = 99;
    EXPECT_TRUE(host.End(kEventMs, &code));
    EXPECT_EQ(code, 0u) << "the host, not the intruder, got the shutdown";
}

TEST(HostProcessJob, AKilledControllerTakesItsHostAlong) {
    if (!Built("Tivane.exe") || !Built("controller_child.exe")) {
        GTEST_SKIP() << "Tivane.exe or controller_child.exe not built";
    }
    ScopedHostSearchPath runtimes;
    KilledController run = KillControllerUnderItsHost(ExeDir() + "Tivane.exe", 5000);
    ASSERT_TRUE(run.started);
    EXPECT_TRUE(run.aliveBeforeKill);
    EXPECT_TRUE(run.hostGone) << "an orphaned host";
    RecordProperty("host_gone_after_ms", std::to_string(static_cast<int>(run.goneAfterMs)));
}

TEST(HostProcessEnd, AHostThatWillNotEndIsTerminatedAndSlowCallbacksHoldNothingUp) {
    if (!Built("Tivane.exe")) {
        GTEST_SKIP() << "Tivane.exe not built";
    }
    ScopedHostSearchPath runtimes;
    {
        // The runtime hangs in its create: the host's stop outlasts the wait for its end.
        HostProcess stuck;
        ASSERT_TRUE(stuck.Start(OptionsFor("Tivane.exe")));
        ASSERT_TRUE(stuck.WaitForReady(kStartMs));
        ASSERT_TRUE(stuck.SetSource("stall-create:60000"));
        std::vector<HostEvent> seen;
        ASSERT_TRUE(TakeUntil(stuck, seen, [](const HostEvent& e) {
            return e.state == "connecting";
        })) << Transcript(seen);
        uint32_t code = 0;
        EXPECT_TRUE(stuck.End(500, &code));
        EXPECT_EQ(code, kTerminatedExitCode);
    }
    if (Built("controller_fake_host.exe")) {
        // A host that never reads: closing the pipe gives up on the unread command after
        // the write time, and the host sees the break.
        HostOptions options = OptionsFor("controller_fake_host.exe");
        options.arguments = {"--act=deaf"};
        options.writeTimeoutMs = 1000;
        HostProcess deaf;
        ASSERT_TRUE(deaf.Start(options));
        ASSERT_TRUE(deaf.WaitForReady(kStartMs));
        ASSERT_TRUE(deaf.SetSource("never read"));
        EXPECT_TRUE(deaf.ClosePipe());
        uint32_t code = 99;
        EXPECT_TRUE(deaf.End(kEventMs, &code));
        EXPECT_EQ(code, 0u) << "the host ended on the broken pipe, not by termination";
    }
    // The first report blocks its callback for 3.5 s: the reader goes on reading meanwhile.
    // The callback then ends its own HostProcess on the exit.
    struct Record {
        std::unique_ptr<HostProcess> host = std::make_unique<HostProcess>();
        double unblockedMs = -1.0;
        double firstReceivedWhileBlockedMs = -1.0;
        UniqueHandle exited{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    } record;
    HostOptions options = OptionsFor("Tivane.exe");
    options.onEvent = [&record](const HostEvent& e) {
        if (e.type == HostEventType::Status && record.unblockedMs < 0) {
            Sleep(3500);
            record.unblockedMs = e.receivedMs + 3500;
        } else if (record.firstReceivedWhileBlockedMs < 0 && e.receivedMs < record.unblockedMs) {
            record.firstReceivedWhileBlockedMs = e.receivedMs;
        }
        if (e.type == HostEventType::Exited) {
            record.host.reset();
            SetEvent(record.exited.Get());
        }
    };
    ASSERT_TRUE(record.host->Start(options));
    ASSERT_TRUE(record.host->WaitForReady(kStartMs));
    ASSERT_TRUE(record.host->SetSource("pattern:64x64@30"));
    Sleep(5000);
    ASSERT_TRUE(record.host->Shutdown());
    ASSERT_EQ(WaitForSingleObject(record.exited.Get(), kEventMs), WAIT_OBJECT_0);
    EXPECT_GE(record.firstReceivedWhileBlockedMs, 0.0) << "nothing was read while blocked";
}

bool IsListing(const HostEvent& e) {
    return e.type == HostEventType::Sources;
}

// ListSources, polling: Parlex's list while it receives (its stats come between the source
// lines), changed between two calls: each call gets its own listing, byte for byte, also as
// a Sources event. A host that ignores the request (one older than listing) is given up on
// at the bound; a listing short of its count is no success; a host that ends mid-listing
// ends the wait. The callback's way is a row of the C test.
TEST(HostProcessListing, EachCallGetsItsOwnListingOrSaysWhyNot) {
    if (!Built("Parlex.exe") || !Built("controller_fake_host.exe")) {
        GTEST_SKIP() << "Parlex.exe or controller_fake_host.exe not built";
    }
    TempDir dir;
    ScopedVariable listFile("SIM_OMT_SOURCES", dir.path() + "sources.txt");
    const std::vector<std::vector<std::string>> lists = {
        {"pattern:64x64@30,tag:listed", "STUDIO (\"2\")", "back\\slash\ttab \x01", "caf\xc3 x"},
        {"changed"}};
    std::vector<std::string> names;
    std::vector<HostEvent> seen;
    {
        ScopedHostSearchPath runtimes;
        HostProcess host;
        ASSERT_TRUE(host.Start(OptionsFor("Parlex.exe")) && host.WaitForReady(kStartMs));
        ASSERT_TRUE(host.SetSource(lists[0][0]));
        ASSERT_TRUE(TakeUntil(host, seen, StatsOfWidth(64))) << Transcript(seen);
        for (const std::vector<std::string>& list : lists) {
            std::string text;
            for (const std::string& name : list) {
                text += name + "\n";
            }
            ASSERT_TRUE(WriteTextFile(dir.path() + "sources.txt", text));
            HostResult listed = host.ListSources(names, kListSourcesWaitMs);
            EXPECT_TRUE(listed) << listed.reason;
            EXPECT_EQ(names, list);
            ASSERT_TRUE(TakeUntil(host, seen, IsListing)) << Transcript(seen);
            EXPECT_EQ(seen.back().names, list);
        }
    }
    HostOptions options = OptionsFor("controller_fake_host.exe");
    options.arguments = {"--act=stats"};  // reads every command and answers none
    HostProcess older;
    ASSERT_TRUE(older.Start(options) && older.WaitForReady(kStartMs));
    double begin = NowMs();
    EXPECT_EQ(older.ListSources(names, 1500).error, HostError::ListingTimedOut);
    EXPECT_GE(NowMs() - begin, 1500.0 - 20.0);
    EXPECT_LE(NowMs() - begin, 1500.0 + 3000.0);

    options.arguments = {"--act=lister"};
    HostProcess lister;
    ASSERT_TRUE(lister.Start(options) && lister.WaitForReady(kStartMs));
    EXPECT_TRUE(lister.ListSources(names, kListSourcesWaitMs));
    EXPECT_EQ(names, (std::vector<std::string>{"Cam \"1\"", "Cam 2"}));
    HostResult listed = lister.ListSources(names, kListSourcesWaitMs);
    EXPECT_EQ(listed.error, HostError::ListingFailed);
    EXPECT_NE(listed.reason.find("counted 2 sources, 1 arrived"), std::string::npos);
    EXPECT_EQ(names, (std::vector<std::string>{"Cam 3"})) << "what did arrive";
    begin = NowMs();
    EXPECT_EQ(lister.ListSources(names, 15000).error, HostError::PipeClosed);
    EXPECT_LE(NowMs() - begin, 10000.0);
}

}  // namespace
