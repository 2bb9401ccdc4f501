// Binding libomt.dll: in-process through the DLL search path, and as Parlex sees it
// when run from a temporary folder with or without a (variant) library beside it. The
// Parlex cases serve the host's pipe themselves, so an exit code 1 can be told apart
// from a host that bound its library and connected.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "child_process.h"
#include "omt_receiver.h"
#include "sim_call_log.h"
#include "test_files.h"
#include "test_pipe_server.h"
#include "timing.h"
#include "win_types.h"

namespace {

// The server end of a host's pipe under the name the test hands the host.
class PipeServer : public TestPipeServer {
public:
    explicit PipeServer(const std::string& name) : valid_(CreateNamed(name)) {}

    bool Valid() const { return valid_; }
    // True once the host connected; false when it exited first or time ran out.
    bool WaitForClient(HANDLE process, DWORD timeoutMs) { return AwaitClient(timeoutMs, process); }
    bool WriteLine(const std::string& text) { return Write(text + "\n"); }

private:
    bool valid_;
};

// A copy of Parlex.exe in a fresh folder, optionally with one simulated library beside it.
class ParlexCopy {
public:
    explicit ParlexCopy(const char* variant)
        : copied_(
              dir_.CopyIn(ExeDir() + "Parlex.exe", "Parlex.exe") &&
              (variant == nullptr || dir_.CopyIn(SimDir(variant) + "libomt.dll", "libomt.dll"))) {}

    bool copied() const { return copied_; }

    bool Launch(const std::string& options) {
        return process_.Start("\"" + dir_.path() + "Parlex.exe\" " + options, dir_.path());
    }

    HANDLE process() const { return process_.handle(); }

    // The exit code, or -1 when the host is still running after `timeoutMs`.
    int WaitForExit(DWORD timeoutMs) { return process_.WaitForExit(timeoutMs); }

private:
    TempDir dir_;  // outlives the process, which is ended first
    bool copied_;
    ChildProcess process_;
};

std::string NewPipeName() {
    static int counter = 0;
    return "omt_binding_" + std::to_string(GetCurrentProcessId()) + "_" + std::to_string(++counter);
}

// The value of a "setsuggestedquality instance=N quality=Q" log line, or -1.
int SuggestedQuality(const std::string& line) {
    size_t at = line.rfind(" quality=");
    return at == std::string::npos ? -1 : std::atoi(line.c_str() + at + 9);
}

size_t CountContaining(const std::vector<std::string>& lines, const std::string& text) {
    size_t count = 0;
    for (const std::string& line : lines) {
        count += line.find(text) != std::string::npos ? 1 : 0;
    }
    return count;
}

TEST(OmtBinding, InitializeNeedsCreateDestroyAndReceive) {
    std::string emptyDir = UniqueTempPath("omt_empty");
    CreateDirectoryA(emptyDir.c_str(), nullptr);
    struct Case {
        std::string searchDir;
        bool binds;
    } cases[] = {{emptyDir, false},
                 {SimDir(), true},
                 {SimDir("no_receive"), false},
                 {SimDir("no_quality"), true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.searchDir);
        ASSERT_TRUE(SetDllDirectoryA(c.searchDir.c_str()));
        auto receiver = OmtReceiver::Create();
        EXPECT_EQ(receiver->Initialize(), c.binds);
        EXPECT_EQ(GetModuleHandleA("libomt.dll") != nullptr, c.searchDir != emptyDir);
    }
    SetDllDirectoryA(nullptr);
    RemoveDirectoryA(emptyDir.c_str());
    EXPECT_EQ(GetModuleHandleA("libomt.dll"), nullptr) << "each receiver unloads its library";
}

// Parlex from a folder of its own: the library is found beside the exe or not at all.
TEST(OmtBinding, ParlexExitCodeFollowsTheLibraryBesideIt) {
    struct Case {
        const char* variant;  // simulated library copied beside Parlex.exe, or none
        bool connects;
        bool passesQuality;
    } cases[] = {{nullptr, false, false},
                 {"no_receive", false, false},
                 {"no_quality", true, false},
                 {"", true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variant ? c.variant : "(none)");
        SimCallLog log("SIM_OMT_LOG");  // inherited by the host
        ParlexCopy parlex(c.variant);
        ASSERT_TRUE(parlex.copied());
        std::string pipeName = NewPipeName();
        PipeServer server(pipeName);
        ASSERT_TRUE(server.Valid());
        ASSERT_TRUE(parlex.Launch("--pipeName=" + pipeName + " --quality=Low"));
        bool connected = server.WaitForClient(parlex.process(), 30000);
        ASSERT_EQ(connected, c.connects);
        if (!connected) {
            EXPECT_EQ(parlex.WaitForExit(10000), 1);
            continue;
        }
        std::vector<std::string> lines;
        ASSERT_TRUE(server.ReadUntil("host_ready", lines, 10000));
        EXPECT_EQ(lines.size(), 1u) << "host_ready comes first";
        ASSERT_TRUE(server.WriteLine(R"({"type":"set_source","name":"pattern:64x36@30"})"));
        ASSERT_TRUE(server.ReadUntil("\"state\":\"connected\"", lines, 10000));
        ASSERT_TRUE(server.WriteLine(R"({"type":"shutdown"})"));
        server.ReadUntil("\"state\":\"disconnected\"", lines, 10000);
        EXPECT_EQ(parlex.WaitForExit(15000), 0);
        std::vector<std::string> suggested = log.Matching("setsuggestedquality");
        if (c.passesQuality) {
            ASSERT_EQ(suggested.size(), 1u);
            EXPECT_EQ(SuggestedQuality(suggested[0]), 1) << "--quality=Low: " << suggested[0];
        } else {
            EXPECT_TRUE(suggested.empty());
        }
    }
}

// The commands' quality words as they reach the library, through the host's pipe.
TEST(OmtBinding, ParlexCommandsSuggestQualityToTheLibrary) {
    SimCallLog log("SIM_OMT_LOG");
    ParlexCopy parlex("");
    ASSERT_TRUE(parlex.copied());
    std::string pipeName = NewPipeName();
    PipeServer server(pipeName);
    ASSERT_TRUE(server.Valid());
    ASSERT_TRUE(parlex.Launch("--pipeName=" + pipeName + " --quality=Low"));
    ASSERT_TRUE(server.WaitForClient(parlex.process(), 30000));
    std::vector<std::string> lines;
    ASSERT_TRUE(server.ReadUntil("host_ready", lines, 10000));

    struct Step {
        const char* command;
        const char* waitFor;  // a status the command leads to, or null for none
        int suggestedCount;   // setsuggestedquality calls so far
        int lastSuggested;
        int creates;
    } steps[] = {
        {R"({"type":"set_source","name":"pattern:64x36@30,tag:a"})", "connected", 1, 1, 1},
        {R"({"type":"set_quality","quality":"High"})", nullptr, 2, 100, 1},
        {R"({"type":"set_source","name":"pattern:64x36@30,tag:b"})", "connected", 3, 1, 2},
        {R"({"type":"set_quality","quality":"50"})", nullptr, 4, 100, 2},
        {R"({"type":"set_source","name":"pattern:64x36@30,tag:c","quality":"50"})", "connected", 5,
         1, 3},
        {R"({"type":"set_source","name":"pattern:64x36@30,tag:d","quality":"medium"})", "connected",
         6, 50, 4},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        size_t connectedBefore = CountContaining(lines, "\"state\":\"connected\"");
        ASSERT_TRUE(server.WriteLine(step.command));
        if (step.waitFor) {
            ASSERT_TRUE(server.ReadUntil("\"state\":\"connected\"", lines, 10000));
            EXPECT_EQ(CountContaining(lines, "\"state\":\"connected\""), connectedBefore + 1);
        }
        ASSERT_TRUE(WaitUntil(
            [&] {
                return log.Matching("setsuggestedquality").size() >=
                       static_cast<size_t>(step.suggestedCount);
            },
            5000));
        std::vector<std::string> suggested = log.Matching("setsuggestedquality");
        EXPECT_EQ(suggested.size(), static_cast<size_t>(step.suggestedCount));
        EXPECT_EQ(SuggestedQuality(suggested.back()), step.lastSuggested) << suggested.back();
        EXPECT_EQ(log.Matching("create").size(), static_cast<size_t>(step.creates));
    }
    ASSERT_TRUE(server.WriteLine(R"({"type":"shutdown"})"));
    EXPECT_EQ(parlex.WaitForExit(15000), 0);
}

}  // namespace
