// Fault scenarios end to end: each host built beside this test is driven through hostctl
// with bad input, racing commands, a controller that stops reading, a pipe or window
// closed at awkward moments, and simulated runtimes that fail, fall silent or deliver odd
// frames. Every run must end with exit code 0 within a bound, leave no process behind and
// deliver only well-formed lines. One test thread; each run starts its own host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "child_process.h"
#include "hostctl_run.h"
#include "json.h"
#include "protocol.h"
#include "source_listing.h"
#include "test_files.h"

namespace {

// Generous: under Wine on a display without a window manager a host with a swap chain
// needs about 2 s to exit once its teardown has finished, and the machine is shared.
constexpr double kEndBoundSeconds = 12.0;

struct HostCase {
    const char* exe;
    const char* runtime;  // simulated library it needs on its search path, or ""
    char separator;       // between the simulated runtime's source tokens
    bool frames;          // whether frames flow under Wine (no shared textures there)
};

void PrintTo(const HostCase& host, std::ostream* out) {
    *out << host.exe;
}

const HostCase kTivane = {"Tivane.exe", "Processing.NDI.Lib.x64.dll", ';', true};
const HostCase kParlex = {"Parlex.exe", "libomt.dll", ',', true};
const HostCase kGrelm = {"Grelm.exe", "", ',', false};

std::string HostName(const testing::TestParamInfo<HostCase>& info) {
    std::string name = info.param.exe;
    return name.substr(0, name.find('.'));
}

// Bytes for a `raw` script line: the escapes hostctl turns back into the bytes.
std::string RawLine(const std::string& bytes) {
    std::string line = "raw ";
    for (char c : bytes) {
        line += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
    }
    return line + "\n";
}

// The part of a `stats` line that carries a picture size.
std::string StatsSize(int width, int height) {
    return "\"width\":" + std::to_string(width) + ",\"height\":" + std::to_string(height);
}

std::string SetSource(const std::string& name) {
    return "{\"type\":\"set_source\",\"name\":\"" + name + "\"}";
}

const std::string kShutdown = "{\"type\":\"shutdown\"}";

// Deterministic bytes, so a failure can be replayed. Never 0x1A: hostctl reads its
// script in text mode, where that byte ends the file.
std::string RandomBytes(size_t count, uint32_t seed, bool allowLf) {
    std::string bytes;
    uint32_t state = seed;
    while (bytes.size() < count) {
        state = state * 1664525u + 1013904223u;
        char c = static_cast<char>(state >> 24);
        if ((allowLf || c != '\n') && c != '\x1a') {
            bytes += c;
        }
    }
    return bytes;
}

// Whether `line` is exactly what the host writes for the message it parses as: anything
// cut, glued or garbled fails this.
bool IsWellFormedHostLine(const std::string& line) {
    JsonObject m = ParseJson(line);
    const std::string& type = m.Get("type");
    if (type == "host_ready") {
        return line ==
               BuildHostReady(std::atoll(m.Get("hwnd").c_str()), std::atoi(m.Get("pid").c_str()));
    }
    if (type == "status") {
        return line == BuildStatus(m.Get("state").c_str(), m.Get("source").c_str());
    }
    if (type == "stats") {
        return line == BuildStats(static_cast<float>(std::atof(m.Get("fps").c_str())),
                                  std::atoi(m.Get("width").c_str()),
                                  std::atoi(m.Get("height").c_str()));
    }
    if (type == "source") {
        return line == BuildSource(m.Get("name"));
    }
    if (type == "sources_done") {
        return line == BuildSourcesDone(std::atoi(m.Get("count").c_str()), m.Get("error"));
    }
    return false;
}

std::vector<JsonObject> Statuses(const HostctlRun& run) {
    std::vector<JsonObject> statuses;
    for (const JsonObject& m : run.HostMessages()) {
        if (m.Get("type") == "status") {
            statuses.push_back(m);
        }
    }
    return statuses;
}

std::string LastSourceIn(const HostctlRun& run, const std::string& state) {
    std::string source;
    for (const JsonObject& m : Statuses(run)) {
        if (m.Get("state") == state) {
            source = m.Get("source");
        }
    }
    return source;
}

bool ProcessGone(DWORD pid) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    return !process || WaitForSingleObject(process.Get(), 5000) == WAIT_OBJECT_0;
}

// What every scenario ends with. `endMarker` is the transcript text of the step that
// ended the host (the shutdown sent, the pipe closed, WM_CLOSE posted).
void ExpectCleanEnd(const HostctlRun& run, const std::string& endMarker) {
    EXPECT_EQ(run.exitCode, 0u) << run.text.substr(0, 4000);
    double ended = run.TimeOf(endMarker);
    double exited = run.TimeOf("-- host exited with code");
    ASSERT_GE(ended, 0.0) << "no " << endMarker;
    ASSERT_GE(exited, 0.0) << "host did not exit";
    EXPECT_LE(exited - ended, kEndBoundSeconds);
    DWORD pid = static_cast<DWORD>(std::atol(run.EventValue("started pid ").c_str()));
    EXPECT_TRUE(ProcessGone(pid)) << "host " << pid << " left behind";
    size_t lines = 0;
    for (const std::string& line : run.Lines()) {
        EXPECT_EQ(line.find("(unterminated)"), std::string::npos) << line;
        size_t at = line.find("] <- ");
        if (at != std::string::npos) {
            ++lines;
            EXPECT_TRUE(IsWellFormedHostLine(line.substr(at + 5))) << line;
        }
    }
    EXPECT_GE(lines, 1u) << "not even host_ready";
    // Handle counts where the platform reports them (Wine reports 0 for another process).
    std::vector<long> handles;
    for (const std::string& line : run.Lines()) {
        size_t at = line.find("-- handles ");
        if (at != std::string::npos) {
            handles.push_back(std::atol(line.c_str() + at + 11));
        }
    }
    if (handles.size() >= 2 && handles.front() > 0) {
        EXPECT_LE(handles.back(), handles.front() + 8) << "handles grew";
    }
}

class Scenario : public testing::TestWithParam<HostCase> {
protected:
    void SetUp() override {
        std::string missing = MissingForRun(GetParam().exe, GetParam().runtime);
        if (!missing.empty()) {
            GTEST_SKIP() << missing << " not built";
        }
    }

    HostctlRun Run(const std::string& script, const std::vector<std::string>& options = {},
                   DWORD waitMs = 60000) {
        std::vector<std::string> all = {"--timeout=20000"};
        all.insert(all.end(), options.begin(), options.end());
        return RunHostctl(script, all, ExeDir() + GetParam().exe, {}, waitMs);
    }

    // A source name for the simulated runtime (any name for Grelm, which finds no sender).
    std::string Source(const std::string& tokens, const std::string& tag) const {
        std::string name = tokens;
        for (char& c : name) {
            c = c == '|' ? GetParam().separator : c;
        }
        return name + GetParam().separator + "tag:" + tag;
    }

    // The line that shows a command on `name` took effect: connected where frames flow,
    // connecting otherwise.
    std::string Reached(const std::string& name) const {
        return std::string("\"state\":\"") + (GetParam().frames ? "connected" : "connecting") +
               "\",\"source\":\"" + name + "\"";
    }
};

// --- input the host must shrug off (all hosts) -------------------------------------

using InputFaults = Scenario;

TEST_P(InputFaults, GarbageNulsAHugeLineAndThousandsOfCommandsLeaveTheHostObedient) {
    std::string commands;
    for (int i = 0; i < 5000; ++i) {
        switch (i % 5) {
            case 0:
                commands += "{\"type\":\"noop\",\"i\":" + std::to_string(i) + "}\n";
                break;
            case 1:
                commands += "{\"type\":\"set_quality\",\"quality\":\"low\"}\n";
                break;
            case 2:
                commands += "{\"type\":\"Shutdown\"}\r\n";
                break;
            case 3:
                commands += "{\"type\":\"set_source\",\"name\":\"\"}\n";
                break;
            default:
                commands += "\n\r\n";
                break;
        }
    }
    std::string name = Source("pattern:64x64@30", "after-garbage");
    std::string script = "wait_for host_ready\nhandles\n" +
                         RawLine(RandomBytes(4096, 7, true) + "\n") +
                         RawLine(std::string(2000, '\0') + "\n{\"type\":\"no" + '\0' + "pe\"}\n") +
                         RawLine(RandomBytes(1 << 20, 11, false)) + RawLine("\n") +
                         RawLine(commands) + SetSource(name) + "\nwait_until 15000 " +
                         Reached(name) + "\nwait 300\nhandles\n" + kShutdown + "\n";
    HostctlRun run = Run(script);
    ExpectCleanEnd(run, "-> " + kShutdown);
    std::vector<JsonObject> statuses = Statuses(run);
    ASSERT_FALSE(statuses.empty()) << "the command after the garbage was not obeyed";
    // Nothing in the garbage started anything: the first report is the real command's.
    EXPECT_EQ(statuses.front().Get("state"), "connecting");
    EXPECT_EQ(statuses.front().Get("source"), name);
    EXPECT_NE(run.text.find(Reached(name)), std::string::npos);
}

TEST_P(InputFaults, TheLastOfABurstOfSourceChangesWins) {
    std::string burst;
    for (int i = 0; i < 999; ++i) {
        burst += SetSource(Source("pattern:64x64@30", i % 2 ? "B" : "A")) + "\n";
    }
    std::string last = Source("pattern:64x64@30", "last");
    burst += SetSource(last) + "\n";
    HostctlRun run = Run("wait_for host_ready\n" + RawLine(burst) + "wait_until 60000 " +
                         Reached(last) + "\nwait 500\n" + kShutdown + "\n");
    ExpectCleanEnd(run, "-> " + kShutdown);
    EXPECT_EQ(LastSourceIn(run, "connecting"), last);
    if (GetParam().frames) {
        EXPECT_EQ(LastSourceIn(run, "connected"), last);
    }
}

TEST_P(InputFaults, SourceChangesThatMeetTheTeardownStartNothing) {
    std::string name = Source("pattern:64x64@30", "racing");
    std::string many;
    for (int i = 0; i < 200; ++i) {
        many += SetSource(Source("pattern:64x64@30", std::to_string(i))) + "\n";
    }
    struct Case {
        const char* what;
        std::string script;
        std::string endMarker;
    };
    const Case cases[] = {
        {"set_source and shutdown in one write", RawLine(SetSource(name) + "\n" + kShutdown + "\n"),
         "-> (raw) {"},
        {"set_source lines right behind shutdown", RawLine(kShutdown + "\n" + many), "-> (raw) {"},
        {"set_source lines while the window closes",
         SetSource(name) + "\nwait_until 10000 " + Reached(name) + "\nwm_close\n" + RawLine(many),
         "WM_CLOSE posted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HostctlRun run = Run("wait_for host_ready\n" + c.script);
        ExpectCleanEnd(run, c.endMarker);
        // A worker started after the teardown's stop would report after its "disconnected".
        std::vector<JsonObject> statuses = Statuses(run);
        if (!statuses.empty()) {
            EXPECT_EQ(statuses.back().Get("state"), "disconnected") << run.text.substr(0, 3000);
        }
    }
}

TEST_P(InputFaults, APipeClosedInTheMiddleOfALineEndsTheHostWithoutActingOnIt) {
    std::string name = Source("pattern:64x64@30", "before-close");
    std::string partial = "{\"type\":\"set_source\",\"name\":\"half-sent";
    struct Case {
        const char* what;
        std::string before;
    };
    const Case cases[] = {
        {"idle", ""},
        {"receiving", SetSource(name) + "\nwait_until 10000 " + Reached(name) + "\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HostctlRun run =
            Run("wait_for host_ready\n" + c.before + RawLine(partial) + "wait 200\nclose\n");
        ExpectCleanEnd(run, "-- pipe closed");
        EXPECT_EQ(run.text.find("\"source\":\"half-sent"), std::string::npos);
        if (c.before.empty()) {
            EXPECT_TRUE(Statuses(run).empty()) << run.text;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, InputFaults, testing::Values(kTivane, kParlex, kGrelm), HostName);

// --- faults while frames flow (the pixel hosts) ------------------------------------

using FlowFaults = Scenario;

TEST_P(FlowFaults, TheWindowClosedWhileFramesFlowEndsTheHost) {
    std::string name = Source("pattern:1280x720@60", "closing");
    HostctlRun run =
        Run("wait_for host_ready\n" + SetSource(name) + "\nwait_until 10000 " + Reached(name) +
            "\nwait_until 10000 " + StatsSize(1280, 720) + "\nwm_close\n");
    ExpectCleanEnd(run, "WM_CLOSE posted");
    EXPECT_NE(run.text.find("\"type\":\"stats\""), std::string::npos) << "no frames flowed";
}

// The receiver's stop bound: Parlex waits longer for its library.
int StopBoundMs(const HostCase& host) {
    return host.separator == ';' ? 3000 : 5000;
}

// A controller that stops reading while frames flow and changes the source meanwhile:
// the change is obeyed as if it had read all along (no "Receiver busy"), and once it reads
// again it holds the true state at once: the new source "connected", with its statistics.
TEST_P(FlowFaults, AControllerThatFallsBehindLosesNoCommandAndReadsTheTrueStateAtOnce) {
    struct Case {
        const char* what;
        const char* pattern;
        int stallMs;
        bool burst;              // 999 source changes in one write before the last
        const char* pipeBuffer;  // 0: every write of the host waits for hostctl's read
    };
    const Case cases[] = {
        {"30 fps, a source change in a 7 s stall", "pattern:64x64@30", 7000, false, "0"},
        {"1080p60, a source change in a 7 s stall", "pattern:1920x1080@60", 7000, false, "0"},
        {"60 fps, a burst of source changes in a 10 s stall", "pattern:64x64@60", 10000, true,
         "65536"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string first = Source(std::string(c.pattern), "first");
        // Its picture size appears nowhere else, so its statistics can be awaited.
        std::string after = Source("pattern:66x66@30", "after");
        std::string change = SetSource(after) + "\n";
        if (c.burst) {
            std::string burst;
            for (int i = 0; i < 999; ++i) {
                burst += SetSource(Source("pattern:64x64@60", i % 2 ? "B" : "A")) + "\n";
            }
            change = RawLine(burst + SetSource(after) + "\n");
        }
        HostctlRun run =
            Run("wait_for host_ready\n" + SetSource(first) + "\nwait_until 10000 " +
                    Reached(first) + "\nwait_until 5000 \"type\":\"stats\"\nstall " +
                    std::to_string(c.stallMs) + "\nwait 1000\n" + change + "wait_until 40000 " +
                    Reached(after) + "\nwait 1500\n" + kShutdown + "\n",
                {std::string("--pipeBuffer=") + c.pipeBuffer});
        ExpectCleanEnd(run, "-> " + kShutdown);
        const double resumed = run.TimeOf("-- reading again");
        ASSERT_GE(resumed, 0.0) << "the stall never happened";
        EXPECT_GE(resumed - run.TimeOf("-- reading stalled"), c.stallMs / 1000.0 - 0.5);
        EXPECT_EQ(run.text.find("Receiver busy"), std::string::npos);
        // Matched in the host's line only, not in hostctl's report of a wait that ran out.
        const double reached = run.TimeOf("\"type\":\"status\"," + Reached(after));
        ASSERT_GE(reached, 0.0) << "the source change was lost\n" << run.text.substr(0, 4000);
        if (!c.burst) {  // a thousand stops and starts take their own time on a busy machine
            EXPECT_LE(reached - resumed, StopBoundMs(GetParam()) / 1000.0 + 2.0);
        }
        // The state read last before the end is the true one.
        std::vector<JsonObject> statuses = Statuses(run);
        ASSERT_GE(statuses.size(), 2u);
        const JsonObject& beforeEnd = statuses[statuses.size() - 2];  // the last is the end's
        EXPECT_EQ(beforeEnd.Get("state"), "connected");
        EXPECT_EQ(beforeEnd.Get("source"), after);
        EXPECT_NE(run.text.find(StatsSize(66, 66)), std::string::npos) << "no statistics after";
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, FlowFaults, testing::Values(kTivane, kParlex), HostName);

// --- simulated runtimes that misbehave ---------------------------------------------

// Records, every 10 ms until Finish, the sizes each process's top-level windows take. A
// host's window takes the size of a frame once it has made that frame's texture to draw
// it, so a size it never took shows a picture that never reached the screen. (Whether a
// picture was drawn cannot be judged this way: a main thread still busy with a large frame
// may rightly skip the few of a short case; the presenter's own tests judge drawing.)
class WindowSizeWatch {
public:
    WindowSizeWatch() : thread_(CreateThread(nullptr, 0, &Main, this, 0, nullptr)) {}
    ~WindowSizeWatch() { Finish(); }

    void Finish() {
        SetEvent(stop_.Get());
        if (thread_) {
            WaitForSingleObject(thread_.Get(), 10000);
            thread_.Reset();
        }
    }
    // After Finish.
    bool Saw(DWORD processId, int width, int height) const {
        return seen_.count(std::make_tuple(processId, width, height)) > 0;
    }

private:
    static DWORD WINAPI Main(LPVOID self) {
        auto* watch = static_cast<WindowSizeWatch*>(self);
        do {
            EnumWindows(&Record, reinterpret_cast<LPARAM>(watch));
        } while (WaitForSingleObject(watch->stop_.Get(), 10) == WAIT_TIMEOUT);
        return 0;
    }
    static BOOL CALLBACK Record(HWND window, LPARAM self) {
        DWORD processId = 0;
        RECT rect = {};
        if (GetWindowThreadProcessId(window, &processId) != 0 && GetWindowRect(window, &rect)) {
            reinterpret_cast<WindowSizeWatch*>(self)->seen_.insert(
                std::make_tuple(processId, static_cast<int>(rect.right - rect.left),
                                static_cast<int>(rect.bottom - rect.top)));
        }
        return TRUE;
    }

    std::set<std::tuple<DWORD, int, int>> seen_;  // the watch thread's until Finish
    UniqueHandle stop_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle thread_;
};

// What becomes of a source's pictures.
enum class Frames {
    Counted,          // counted in its statistics with its size
    CountedNotDrawn,  // counted with its size, but never drawn
    None,             // statistics without frames or size, never "connected", never drawn
    Any,              // not checked
};

// One host run goes through every case in order; each case waits for its own sign.
struct RuntimeCase {
    const char* tokens;  // '|' stands for the runtime's separator
    const char* tag;
    const char* state;      // a status this source must reach, with its name ...
    const char* errorText;  // ... or, for "error", with this text
    Frames frames;
    int width;  // the picture's size, unique within a run (0: none to check)
    int height;
};

class RuntimeFaults : public Scenario {
protected:
    void RunCases(const std::vector<RuntimeCase>& cases) {
        std::string script = "wait_for host_ready\nhandles\n";
        std::vector<std::string> names;
        for (const RuntimeCase& c : cases) {
            names.push_back(Source(c.tokens, c.tag));
            script +=
                SetSource(names.back()) + "\nwait_until 15000 " + Sign(c, names.back()) + "\n";
            if (c.frames == Frames::Counted || c.frames == Frames::CountedNotDrawn) {
                script += "wait_until 15000 " + StatsSize(c.width, c.height) + "\n";
            }
        }
        script += "handles\n" + kShutdown + "\n";
        WindowSizeWatch windows;
        HostctlRun run = Run(script);
        windows.Finish();
        ExpectCleanEnd(run, "-> " + kShutdown);
        DWORD pid = static_cast<DWORD>(std::atol(run.EventValue("started pid ").c_str()));
        // The window keeps the size it is made with until the first frame, long enough to
        // be seen: the watch works.
        EXPECT_TRUE(windows.Saw(pid, 320, 180)) << "the host's window was never seen";
        // Split the transcript at each source's "connecting" and check each piece.
        std::vector<JsonObject> messages = run.HostMessages();
        for (size_t i = 0; i < cases.size(); ++i) {
            SCOPED_TRACE(names[i]);
            size_t begin = 0;
            while (begin < messages.size() && !(messages[begin].Get("state") == "connecting" &&
                                                messages[begin].Get("source") == names[i])) {
                ++begin;
            }
            ASSERT_LT(begin, messages.size()) << "never connecting";
            size_t end = begin + 1;
            while (end < messages.size() && !(messages[end].Get("state") == "connecting" &&
                                              messages[end].Get("source") != names[i])) {
                ++end;
            }
            CheckPiece(cases[i], names[i],
                       std::vector<JsonObject>(messages.begin() + begin, messages.begin() + end));
            if (cases[i].width > 0 &&
                (cases[i].frames == Frames::CountedNotDrawn || cases[i].frames == Frames::None)) {
                EXPECT_FALSE(windows.Saw(pid, cases[i].width, cases[i].height))
                    << "drawn at " << cases[i].width << "x" << cases[i].height;
            }
        }
    }

    // The status line this case waits for; it names the source or the error.
    static std::string Sign(const RuntimeCase& c, const std::string& name) {
        return std::string("\"state\":\"") + c.state + "\",\"source\":\"" +
               (c.errorText != nullptr ? c.errorText : name) + "\"";
    }

    void CheckPiece(const RuntimeCase& c, const std::string& name,
                    const std::vector<JsonObject>& piece) {
        const std::string signSource = c.errorText != nullptr ? c.errorText : name;
        bool reached = false;
        bool connected = false;
        int stats = 0;
        int sized = 0;
        for (const JsonObject& m : piece) {
            if (m.Get("type") == "status") {
                reached = reached || (m.Get("state") == c.state && m.Get("source") == signSource);
                connected = connected || m.Get("state") == "connected";
                continue;
            }
            if (m.Get("type") != "stats") {
                continue;
            }
            ++stats;
            int width = std::atoi(m.Get("width").c_str());
            int height = std::atoi(m.Get("height").c_str());
            if (c.frames == Frames::None) {
                EXPECT_EQ(std::atof(m.Get("fps").c_str()), 0.0);
                EXPECT_EQ(width, 0);
                EXPECT_EQ(height, 0);
            } else if (c.frames != Frames::Any && width > 0) {
                EXPECT_EQ(width, c.width);
                EXPECT_EQ(height, c.height);
                ++sized;
            }
        }
        EXPECT_TRUE(reached) << Sign(c, name);
        if (c.frames == Frames::Counted || c.frames == Frames::CountedNotDrawn) {
            EXPECT_GE(sized, 1) << "no stats with the picture's size";
        }
        if (c.frames == Frames::None) {
            EXPECT_GE(stats, 1) << "no stats";
            EXPECT_FALSE(connected);
        }
    }
};

TEST_P(RuntimeFaults, FailingErringAndQuietSourcesAreSurvived) {
    std::vector<RuntimeCase> cases = {
        // The NDI runtime counts failed creates per process: this case comes first.
        {"pattern:64x64@30|fail-creates:2", "fail", "connected", nullptr, Frames::Counted, 64, 64},
        // The NDI runtime counts frames per process, so this source may never connect.
        {"pattern:64x64@30|silent-after:20", "silent", "reconnecting", nullptr, Frames::Any, 0, 0},
        {"novideo", "novideo", "reconnecting", nullptr, Frames::None, 0, 0},
    };
    if (GetParam().separator == ';') {
        // Frames without pixels count for the rate but have nothing to draw.
        cases.push_back({"pattern:72x40@30|null-data", "null-data", "connected", nullptr,
                         Frames::CountedNotDrawn, 72, 40});
        // Each error reconnects, so no statistics interval ever closes.
        cases.push_back({"pattern:80x45@30|errors-every:15", "errors", "error", "NDI error",
                         Frames::Any, 0, 0});
    } else {
        // Unusable records are refused: the source stays without frames and is given up.
        cases.push_back({"pattern:72x40@30|null-data", "null-data", "reconnecting", nullptr,
                         Frames::None, 72, 40});
        cases.push_back({"pattern:80x45@30|zero-length", "zero-length", "reconnecting", nullptr,
                         Frames::None, 80, 45});
        cases.push_back({"pattern:88x50@30|short-data", "short-data", "reconnecting", nullptr,
                         Frames::None, 88, 50});
    }
    cases.push_back(
        {"pattern:96x54@30", "healthy-at-the-end", "connected", nullptr, Frames::Counted, 96, 54});
    RunCases(cases);
}

TEST_P(RuntimeFaults, OddSizesAndAFrameLargerThanAnyBeforeAreReceivedAndSurvived) {
    RunCases({
        {"pattern:1x1@30", "tiny", "connected", nullptr, Frames::Counted, 1, 1},
        {"pattern:321x181@30", "odd", "connected", nullptr, Frames::Counted, 321, 181},
        {"pattern:4096x2160@10", "large", "connected", nullptr, Frames::Counted, 4096, 2160},
        {"pattern:32x32@30", "small-after-large", "connected", nullptr, Frames::Counted, 32, 32},
        {"pattern:333x77@30|padded-stride", "padded", "connected", nullptr, Frames::Counted, 333,
         77},
        // Larger than anything before: the slot's block is replaced.
        {"pattern:4100x2170@10", "larger", "connected", nullptr, Frames::Counted, 4100, 2170},
        {"pattern:96x54@30", "healthy-at-the-end", "connected", nullptr, Frames::Counted, 96, 54},
    });
}

INSTANTIATE_TEST_SUITE_P(Hosts, RuntimeFaults, testing::Values(kTivane, kParlex), HostName);

// --- a source faster than the draws (the pixel hosts) ---------------------------------

using OverloadFaults = Scenario;

// 1080p at 60 frames a second is more than the draws here manage (about 26 a second):
// frames replace each other in the slot, and every way out still ends the host at once.
TEST_P(OverloadFaults, EachWayOutEndsTheHostAfterSustainedOverload) {
    struct Case {
        const char* what;
        std::string step;
        std::string endMarker;
    };
    const Case cases[] = {
        {"pipe closed", "close\n", "-- pipe closed"},
        {"window closed", "wm_close\n", "WM_CLOSE posted"},
        {"shutdown", kShutdown + "\n", "-> " + kShutdown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string name = Source("pattern:1920x1080@60", c.what);
        HostctlRun run = Run("wait_for host_ready\n" + SetSource(name) + "\nwait_until 10000 " +
                             Reached(name) + "\nwait 10000\n" + c.step);
        ExpectCleanEnd(run, c.endMarker);
        EXPECT_NE(run.text.find("\"width\":1920,\"height\":1080"), std::string::npos)
            << "no 1080p frames flowed";
    }
}

// The figures of `memory` lines ("-- private bytes N"), in order.
std::vector<double> PrivateMiB(const HostctlRun& run) {
    std::vector<double> figures;
    for (const std::string& line : run.Lines()) {
        size_t at = line.find("-- private bytes ");
        if (at != std::string::npos) {
            figures.push_back(std::atof(line.c_str() + at + 17) / (1024.0 * 1024.0));
        }
    }
    return figures;
}

// A minute without reading while 1080p60 flows, through a pipe that holds nothing (every
// write of the host waits for a read), with a source change in it: what waits for the
// controller stays small, and once it reads again the current state comes right behind
// the one line that was in flight. Memory is sampled three times at each end and the
// least of each taken: a picture the simulated runtime holds for a moment comes and goes.
// The bound is one 1080p picture: Wine's Direct3D grows by itself while it presents, up to
// about 4 MiB a minute at 1080p here, and a host that queued what it cannot send or draw
// would grow by whole pictures.
TEST_P(OverloadFaults, AMinuteWithoutReadingKeepsMemoryFlatAndTheCurrentStateFirst) {
    const std::string first = Source("pattern:1920x1080@60", "before-the-minute");
    const std::string next = Source("pattern:1920x1080@60", "in-the-minute");
    const std::string samples = "memory\nwait 400\nmemory\nwait 400\nmemory\n";
    HostctlRun run =
        Run("wait_for host_ready\n" + SetSource(first) + "\nwait_until 10000 " + Reached(first) +
                "\nwait_until 5000 \"type\":\"stats\"\nwait 5000\nstall 60000\nwait 3000\n" +
                SetSource(next) + "\nwait 4000\n" + samples + "wait 50000\n" + samples +
                "wait 3000\n" + kShutdown + "\n",
            {"--pipeBuffer=0"}, 120000);
    ExpectCleanEnd(run, "-> " + kShutdown);
    std::vector<double> mib = PrivateMiB(run);
    ASSERT_EQ(mib.size(), 6u) << run.text.substr(0, 3000);
    const double atStart = std::min({mib[0], mib[1], mib[2]});
    const double atEnd = std::min({mib[3], mib[4], mib[5]});
    if (atStart > 0.0) {  // where the platform tells
        EXPECT_LE(atEnd - atStart, 8.0) << atStart << " MiB, then " << atEnd << " MiB";
    }
    // After "reading again": the line that was in flight, then the current state within one
    // more line.
    std::vector<std::string> lines = run.Lines();
    size_t resumed = 0;
    while (resumed < lines.size() && lines[resumed].find("-- reading again") == std::string::npos) {
        ++resumed;
    }
    ASSERT_LT(resumed, lines.size()) << "the stall never ended";
    size_t read = 0;
    size_t currentAt = 0;
    for (size_t i = resumed + 1; i < lines.size() && currentAt == 0; ++i) {
        if (lines[i].find("] <- ") != std::string::npos) {
            ++read;
            currentAt = lines[i].find(Reached(next)) != std::string::npos ? read : 0;
        }
    }
    EXPECT_GE(currentAt, 1u) << "the current state never arrived";
    EXPECT_LE(currentAt, 2u) << run.text.substr(0, 4000);
}

INSTANTIATE_TEST_SUITE_P(Hosts, OverloadFaults, testing::Values(kTivane, kParlex), HostName);

// --- library calls that hang (the hosts with a receiving library) ---------------------

class HangFaults : public Scenario {
protected:
    // The receiver's stop bound, and a source whose receive call hangs well past it once
    // the first frame has come.
    int StopBoundMs() const { return ::StopBoundMs(GetParam()); }
    std::string HangingSource(const std::string& tag) const {
        return Source("pattern:320x180@30|stall:" + std::to_string(StopBoundMs() + 4000), tag);
    }
    // Commands that must do nothing once the host is ending.
    static std::string LateCommands() {
        std::string lines;
        for (int i = 0; i < 50; ++i) {
            lines += SetSource("late-" + std::to_string(i)) + "\n" +
                     "{\"type\":\"set_quality\",\"quality\":\"low\"}\n";
        }
        return lines;
    }
    static size_t CountState(const HostctlRun& run, const std::string& state) {
        size_t count = 0;
        for (const JsonObject& m : Statuses(run)) {
            count += m.Get("state") == state;
        }
        return count;
    }
};

TEST_P(HangFaults, TheHostEndsWithZeroWhileACallHangsAndCommandsKeepComing) {
    const std::string inReceive = HangingSource("hanging-receive");
    const std::string inCreate =
        Source("pattern:320x180@30|stall-create:" + std::to_string(StopBoundMs() + 4000),
               "hanging-create");
    const std::string receiveHangs = "wait_for host_ready\n" + SetSource(inReceive) +
                                     "\nwait_until 10000 " + Reached(inReceive) + "\nwait 300\n";
    const std::string createHangs = "wait_for host_ready\n" + SetSource(inCreate) +
                                    "\nwait_until 10000 \"connecting\"\nwait 300\n";
    struct Case {
        const char* what;
        std::string script;
        std::string endMarker;
    };
    const Case cases[] = {
        {"receive hangs; shutdown followed by more commands",
         receiveHangs + RawLine(kShutdown + "\n" + LateCommands()), "-> (raw) {"},
        {"receive hangs; window closed with commands queued",
         receiveHangs + "wm_close\n" + RawLine(LateCommands()), "WM_CLOSE posted"},
        {"create hangs; shutdown followed by more commands",
         createHangs + RawLine(kShutdown + "\n" + LateCommands()), "-> (raw) {"},
        // The source change waits for the hang to end; the shutdown cancels it.
        {"create hangs; a source change, then shutdown",
         createHangs + SetSource("waiting") + "\nwait_until 20000 \"Receiver busy\"\n" + kShutdown +
             "\n",
         "-> " + kShutdown},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HostctlRun run = Run(c.script);
        ExpectCleanEnd(run, c.endMarker);
        // Nothing after the end began started a worker.
        EXPECT_EQ(CountState(run, "connecting"), 1u) << run.text.substr(0, 3000);
    }
}

// A quality change that lands while the connection is still being made is acted on once
// it is made: Tivane reconnects at the new bandwidth, Parlex passes it to the connection.
TEST_P(HangFaults, AQualityChangeDuringASlowCreateIsNotLost) {
    const std::string name = Source("pattern:64x64@30|stall-create:1500", "slow-create");
    const bool tivane = GetParam().separator == ';';
    const std::string lowSize =
        tivane ? "\"width\":32,\"height\":32" : "\"width\":16,\"height\":16";
    HostctlRun run = Run("wait_for host_ready\n" + SetSource(name) +
                         "\nwait_until 10000 \"connecting\"\nwait 500\n"
                         "{\"type\":\"set_quality\",\"quality\":\"low\"}\nwait_until 15000 " +
                         lowSize + "\n" + kShutdown + "\n");
    ExpectCleanEnd(run, "-> " + kShutdown);
    const int lowSide = tivane ? 32 : 16;
    bool low = false;
    for (const JsonObject& m : run.HostMessages()) {
        low = low || (m.Get("type") == "stats" && m.Get("width") == std::to_string(lowSide) &&
                      m.Get("height") == std::to_string(lowSide));
    }
    EXPECT_TRUE(low) << "the quality change was lost\n" << run.text.substr(0, 3000);
}

// A source change while the old worker hangs in its create past the stop bound: "Receiver
// busy" once, then the newest source named is received by itself as soon as the create
// returns; a second change meanwhile replaces the first and is not reported again.
TEST_P(HangFaults, ASourceChangeWhileTheOldWorkerHangsIsReportedOnceThenObeyedByItself) {
    const std::string hanging = Source("pattern:320x180@30|stall-create:9000", "hanging");
    const std::string replaced = Source("pattern:64x64@30", "replaced");
    const std::string next = Source("pattern:64x64@30", "next");
    HostctlRun run = Run("wait_for host_ready\n" + SetSource(hanging) +
                         "\nwait_until 10000 \"connecting\"\nwait 300\n" + SetSource(replaced) +
                         "\nwait_until 20000 \"Receiver busy\"\n" + SetSource(next) +
                         "\nwait_until 20000 " + Reached(next) + "\nwait 300\n" + kShutdown + "\n");
    ExpectCleanEnd(run, "-> " + kShutdown);
    const double hangBegan = run.TimeOf("\"connecting\",\"source\":\"" + hanging);
    const double sent = run.TimeOf("-> " + SetSource(replaced));
    const double busy =
        run.TimeOf("<- {\"type\":\"status\",\"state\":\"error\",\"source\":\"Receiver busy\"}");
    const double reached = run.TimeOf("\"type\":\"status\"," + Reached(next));
    ASSERT_GE(hangBegan, 0.0);
    ASSERT_GE(busy, 0.0) << "the source change that met the hang was not reported";
    ASSERT_GE(reached, 0.0) << "the newest source was never received\n" << run.text.substr(0, 4000);
    // One stop bound in all (2.5 s for a loaded machine), and once only.
    EXPECT_LE(busy - sent, StopBoundMs() / 1000.0 + 2.5);
    EXPECT_GE(busy - sent, StopBoundMs() / 1000.0 - 0.3);
    EXPECT_EQ(run.text.find("Receiver busy", run.text.find("Receiver busy") + 1),
              std::string::npos);
    // Received once the create returned, with no further command.
    EXPECT_GE(reached - hangBegan, 9.0 - 0.5);
    EXPECT_LE(reached - hangBegan, 9.0 + 2.0);
    EXPECT_EQ(run.text.find("\"source\":\"" + replaced), std::string::npos);
    EXPECT_EQ(LastSourceIn(run, "connected"), next);
}

// A discovery call that hangs is answered with an error within the listing's bound, and
// meanwhile the source keeps being received, commands are obeyed and the host still ends.
TEST_P(HangFaults, AListingThatHangsIsAnsweredInTimeAndHoldsUpNothing) {
    TempDir dir;
    ASSERT_TRUE(WriteTextFile(dir.path() + "sources.txt", "!stall:9000\nsomewhere\n"));
    ScopedVariable list(GetParam().separator == ';' ? "SIM_NDI_SOURCES" : "SIM_OMT_SOURCES",
                        dir.path() + "sources.txt");
    const std::string name = Source("pattern:320x180@30", "listed");
    const std::string next = Source("pattern:64x64@30", "after-the-listing");
    HostctlRun run =
        Run("wait_for host_ready\n" + SetSource(name) + "\nwait_until 10000 " + Reached(name) +
            "\nlist_sources 10000\nlist_sources 10000\n" + SetSource(next) + "\nwait_until 10000 " +
            StatsSize(64, 64) + "\n" + kShutdown + "\n");
    ExpectCleanEnd(run, "-> " + kShutdown);
    const double asked = run.TimeOf("-> {\"type\":\"list_sources\"}");
    const double answered = run.TimeOf("\"error\":\"Source listing timed out\"}");
    ASSERT_GE(asked, 0.0);
    ASSERT_GE(answered, 0.0) << run.text.substr(0, 3000);
    const double boundSeconds = SourceListing::kCallBoundMs / 1000.0;
    EXPECT_GE(answered - asked, boundSeconds - 0.3);
    EXPECT_LE(answered - asked, boundSeconds + 2.5);
    // The call still hangs: the next listing is answered at once, without another wait.
    EXPECT_GE(run.TimeOf("\"error\":\"Source listing busy\"}"), answered);
    // Reception went on while the call hung: statistics of the first source, and only its
    // own reports.
    size_t statsWhileHanging = 0;
    for (const std::string& line : run.Lines()) {
        const double at = std::atof(line.c_str() + 1);
        if (at > asked && at < answered) {
            statsWhileHanging += line.find(StatsSize(320, 180)) != std::string::npos;
            if (line.find("\"type\":\"status\"") != std::string::npos) {
                EXPECT_NE(line.find(Reached(name)), std::string::npos) << line;
            }
        }
    }
    EXPECT_GE(statsWhileHanging, 1u);
    EXPECT_EQ(LastSourceIn(run, "connected"), next);
}

INSTANTIATE_TEST_SUITE_P(Hosts, HangFaults, testing::Values(kTivane, kParlex), HostName);

}  // namespace
