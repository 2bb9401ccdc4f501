// list_sources end to end, for each host built beside this test, through its real pipe:
// the test plays the controlling application, changes what the simulated runtime's
// discovery (or the Spout sender list) shows between listings, and reads every line the
// host writes. One test thread; each run starts its own host.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "hostctl_run.h"
#include "json.h"
#include "protocol.h"
#include "test_files.h"
#include "test_pipe_server.h"

namespace {

struct ListingHost {
    const char* exe;
    const char* runtime;       // simulated library it needs on its search path, or ""
    const char* listVariable;  // names the simulated runtime's source list; "" for Grelm
    char separator;            // between the simulated runtime's source tokens
    const char* reached;       // the state a set_source reaches under Wine
};

void PrintTo(const ListingHost& host, std::ostream* out) {
    *out << host.exe;
}

const ListingHost kTivane = {"Tivane.exe", "Processing.NDI.Lib.x64.dll", "SIM_NDI_SOURCES", ';',
                             "connected"};
const ListingHost kParlex = {"Parlex.exe", "libomt.dll", "SIM_OMT_SOURCES", ',', "connected"};
// Wine cannot share textures: Grelm finds the sender's record and keeps failing to open it.
const ListingHost kGrelm = {"Grelm.exe", "", "", ',', "connecting"};

std::string HostName(const testing::TestParamInfo<ListingHost>& info) {
    std::string name = info.param.exe;
    return name.substr(0, name.find('.'));
}

struct Listing {
    std::vector<std::string> names;
    JsonObject closing;              // the sources_done
    std::vector<JsonObject> others;  // what came in between: status and stats
    bool wellFormed = true;          // every listing line exactly as the host writes it
};

// One host on the test's own pipe, with the simulated runtime (or a variant folder of it)
// first on its search path and its source list in a file the test rewrites.
class HostRun {
public:
    explicit HostRun(const ListingHost& host, const std::string& simVariant = "")
        : listPath_(dir_.path() + "sources.txt") {
        ShowList({});
        if (!server_.Create()) {
            why_ = "no pipe: system error " + std::to_string(GetLastError());
            return;
        }
        char path[32768] = {};
        GetEnvironmentVariableA("PATH", path, sizeof path);
        ScopedVariable searchPath("PATH", SimDir(simVariant) + ";" + path);
        std::unique_ptr<ScopedVariable> list;
        if (host.listVariable[0]) {
            list = std::make_unique<ScopedVariable>(host.listVariable, listPath_);
        }
        std::vector<std::string> seen;
        if (!child_.Start("\"" + ExeDir() + host.exe + "\" --pipeName=" + server_.name())) {
            why_ = "not started: system error " + std::to_string(GetLastError());
        } else if (!server_.AwaitClient(15000, child_.handle())) {
            why_ = "no connection; the host's exit code " + std::to_string(child_.WaitForExit(0));
        } else {
            started_ = server_.ReadUntil("host_ready", seen);
            why_ = started_ ? "" : "no host_ready";
        }
    }
    bool started() const { return started_; }
    const std::string& why() const { return why_; }

    // What the simulated discovery shows from its next call on; `tokens` ("" for none) go
    // on a line of their own. Replaced in one step, so a call never reads half a file.
    void ShowList(const std::vector<std::string>& names, const std::string& tokens = "") {
        std::string text = tokens.empty() ? "" : "!" + tokens + "\n";
        for (const std::string& name : names) {
            text += name + "\n";
        }
        const std::string temporary = listPath_ + ".new";
        ASSERT_TRUE(WriteTextFile(temporary, text));
        ASSERT_TRUE(MoveFileExA(temporary.c_str(), listPath_.c_str(), MOVEFILE_REPLACE_EXISTING));
    }

    bool Send(const std::string& line) { return server_.Write(line + "\n"); }
    bool ReadUntil(const std::string& text, std::vector<std::string>& seen) {
        return server_.ReadUntil(text, seen, 15000);
    }
    std::vector<std::string> LinesFor(DWORD ms) { return server_.DrainLinesFor(ms); }

    // `requests` list_sources in one write, and the lines up to the first sources_done.
    Listing List(int requests = 1) {
        std::string lines;
        for (int i = 0; i < requests; ++i) {
            lines += "{\"type\":\"list_sources\"}\n";
        }
        Listing listing;
        EXPECT_TRUE(server_.Write(lines));
        std::string line;
        while (server_.ReadLine(line, 15000)) {
            JsonObject message = ParseJson(line);
            const std::string& type = message.Get("type");
            if (type == "source") {
                listing.wellFormed = listing.wellFormed && line == BuildSource(message.Get("name"));
                listing.names.push_back(message.Get("name"));
            } else if (type == "sources_done") {
                listing.wellFormed =
                    listing.wellFormed &&
                    line == BuildSourcesDone(std::atoi(message.Get("count").c_str()),
                                             message.Get("error"));
                listing.closing = message;
                return listing;
            } else {
                listing.others.push_back(message);
            }
        }
        ADD_FAILURE() << "no sources_done";
        return listing;
    }

    int End() {
        Send("{\"type\":\"shutdown\"}");
        return child_.WaitForExit(20000);
    }

private:
    TempDir dir_;
    std::string listPath_;
    TestPipeServer server_;
    ChildProcess child_;
    bool started_ = false;
    std::string why_;
};

// Test senders for Grelm, each entering its name in the sender list while it runs.
class Senders {
public:
    void Start(const std::string& name) {
        auto& sender = running_[name];
        sender = std::make_unique<ChildProcess>();
        ASSERT_TRUE(sender->Start("\"" + ExeDir() + "spout_sender.exe\" --name=" + name +
                                  " --size=64x36 --handle=0x1234 --hold=60000"));
    }
    // Killed: its name stays in the list, but its record is gone with it.
    void Kill(const std::string& name) { running_.erase(name); }

private:
    std::map<std::string, std::unique_ptr<ChildProcess>> running_;
};

bool Has(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

class SourceListing : public testing::TestWithParam<ListingHost> {
protected:
    void SetUp() override {
        std::string missing = MissingForRun(GetParam().exe, GetParam().runtime);
        if (missing.empty() && !GetParam().listVariable[0] &&
            !FileExists(ExeDir() + "spout_sender.exe")) {
            missing = "spout_sender.exe";
        }
        if (!missing.empty()) {
            GTEST_SKIP() << missing << " not built";
        }
    }

    bool Grelm() const { return !GetParam().listVariable[0]; }

    // A name the simulated runtime can receive, or a sender name of this test run.
    std::string Name(const std::string& tag) const {
        if (Grelm()) {
            return "ListingTest_" + std::to_string(GetCurrentProcessId()) + "_" + tag;
        }
        return std::string("pattern:96x54@30") + GetParam().separator + "tag:" + tag;
    }

    // Grelm's list shows senders of other tests too, and a sender appears once its process
    // has entered it: listed again until `expected` are all there (at most 15 s).
    Listing ListShowing(HostRun& run, const std::vector<std::string>& expected) {
        Listing listing = run.List();
        for (int i = 0; Grelm() && i < 30; ++i) {
            if (std::all_of(expected.begin(), expected.end(),
                            [&](const std::string& name) { return Has(listing.names, name); })) {
                break;
            }
            Sleep(500);
            listing = run.List();
        }
        return listing;
    }

    void ExpectNames(const Listing& listing, const std::vector<std::string>& expected,
                     const std::vector<std::string>& absent = {}) {
        EXPECT_TRUE(listing.wellFormed);
        EXPECT_EQ(listing.closing.Get("error"), "");
        EXPECT_EQ(listing.closing.Get("count"), std::to_string(listing.names.size()));
        if (!Grelm()) {
            EXPECT_EQ(listing.names, expected);
        }
        for (const std::string& name : expected) {
            EXPECT_TRUE(Has(listing.names, name)) << name;
        }
        for (const std::string& name : absent) {
            EXPECT_FALSE(Has(listing.names, name)) << name;
        }
    }
};

// 10,000 names with every kind of byte a name may hold but LF: quotes, backslashes,
// control bytes, invalid UTF-8.
std::vector<std::string> OddNames() {
    const std::string kinds[] = {"say \"hi\"",    "C:\\cams\\",       "\x01\x02\x1B\x1F\x7F",
                                 "tab\there\rCR", "\xC3\x28\xFF\xFE", "\xE2\x82\xAC ok"};
    std::vector<std::string> names;
    for (int i = 0; i < 10000; ++i) {
        names.push_back("src " + std::to_string(i) + " " + kinds[i % 6]);
    }
    return names;
}

TEST_P(SourceListing, ListsWhatItSeesIdleAndWhileReceivingAndFollowsChanges) {
    const std::string first = Name("first"), second = Name("second"), later = Name("later");
    Senders senders;
    HostRun run(GetParam());
    ASSERT_TRUE(run.started()) << run.why();

    // Idle.
    run.ShowList({first, second});
    senders.Start(first);
    senders.Start(second);
    ExpectNames(ListShowing(run, {first, second}), {first, second});

    // While receiving: one answer to two requests, and the receiver goes on undisturbed.
    std::vector<std::string> seen;
    ASSERT_TRUE(run.Send("{\"type\":\"set_source\",\"name\":\"" + first + "\"}"));
    ASSERT_TRUE(
        run.ReadUntil(std::string("\"") + GetParam().reached + "\",\"source\":\"" + first, seen));
    // The second request must meet the first under way: the simulated discovery takes
    // 600 ms here. Grelm reads its list at once, so it gets one request; the same listing
    // code collapses requests for every host.
    if (!Grelm()) {
        run.ShowList({first, second}, "stall:600");
    }
    Listing receiving = run.List(Grelm() ? 1 : 2);
    ExpectNames(receiving, {first, second});
    run.ShowList({first, second});
    std::vector<JsonObject> after = receiving.others;
    for (const std::string& line : run.LinesFor(Grelm() ? 1500 : 2500)) {
        after.push_back(ParseJson(line));
    }
    int stats = 0;
    for (const JsonObject& m : after) {
        EXPECT_NE(m.Get("type"), "sources_done") << "a second answer";
        stats += m.Get("type") == "stats";
        if (m.Get("type") == "status") {
            // The receiver's own reports only: no stop, no new start.
            const bool own = m.Get("source") == first ||
                             (Grelm() && m.Get("source") == "Cannot open shared texture");
            EXPECT_TRUE(own && m.Get("state") != "disconnected")
                << m.Get("state") << " " << m.Get("source");
        }
    }
    if (!Grelm()) {
        EXPECT_GE(stats, 1) << "statistics stopped";
    }
    // A request sent as soon as the last answer has been read gets an answer of its own.
    for (int i = 0; i < 20; ++i) {
        Listing again = run.List();
        ExpectNames(again, {first, second});
        if (again.closing.fields.empty()) {
            break;  // unanswered: the pipe's lines are out of step from here on
        }
    }

    // What it sees changed: a source gone (a sender killed without leaving the list),
    // others new; the simulated runtimes show 10,000 odd names at once.
    std::vector<std::string> now = {first, later};
    if (Grelm()) {
        senders.Kill(second);
        senders.Start(later);
    } else {
        for (const std::string& odd : OddNames()) {
            now.push_back(odd);
        }
    }
    run.ShowList(now);
    ExpectNames(ListShowing(run, now), now, {second});

    // A controller that asks again and again without reading: the lines of its first
    // listing fill the pipe, and that listing, under way or waiting to be written, answers
    // the requests after it: one listing, one end.
    if (!Grelm()) {
        ASSERT_TRUE(run.Send("{\"type\":\"list_sources\"}"));
        Sleep(500);
        std::string requests = "{\"type\":\"list_sources\"}";
        for (int i = 0; i < 49; ++i) {
            requests += "\n{\"type\":\"list_sources\"}";
        }
        ASSERT_TRUE(run.Send(requests));
        Sleep(500);
        std::vector<std::string> lines;
        ASSERT_TRUE(run.ReadUntil("sources_done", lines));
        for (const std::string& line : run.LinesFor(1000)) {
            lines.push_back(line);
        }
        size_t names = 0;
        std::vector<JsonObject> ends;
        for (const std::string& line : lines) {
            JsonObject message = ParseJson(line);
            names += message.Get("type") == "source";
            if (message.Get("type") == "sources_done") {
                ends.push_back(message);
            }
        }
        EXPECT_EQ(names, now.size()) << "more than one listing";
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_EQ(ends.front().Get("count"), std::to_string(now.size()));
    }

    EXPECT_EQ(run.End(), 0);
}

INSTANTIATE_TEST_SUITE_P(Hosts, SourceListing, testing::Values(kTivane, kParlex, kGrelm), HostName);

using FailingDiscovery = SourceListing;

// A library without discovery, or a finder that cannot be made, gets its reason in the
// closing line and nothing else: reception goes on, and a finder is tried again next time.
TEST_P(FailingDiscovery, ClosesWithItsReasonAndReceptionGoesOn) {
    const bool tivane = GetParam().separator == ';';
    HostRun run(GetParam(), tivane ? "" : "no_discovery");
    ASSERT_TRUE(run.started()) << run.why();
    const std::string name = Name("failing");
    run.ShowList({name}, tivane ? "fail-create" : "");
    Listing failed = run.List();
    EXPECT_TRUE(failed.wellFormed);
    EXPECT_TRUE(failed.names.empty());
    EXPECT_EQ(failed.closing.Get("count"), "0");
    EXPECT_EQ(failed.closing.Get("error"),
              tivane ? "Cannot create source finder" : "Source listing not supported");
    for (const JsonObject& m : failed.others) {
        EXPECT_NE(m.Get("type"), "status") << "a listing error is no status";
    }
    std::vector<std::string> seen;
    ASSERT_TRUE(run.Send("{\"type\":\"set_source\",\"name\":\"" + name + "\"}"));
    EXPECT_TRUE(run.ReadUntil("\"connected\",\"source\":\"" + name, seen));
    if (tivane) {
        run.ShowList({name});
        ExpectNames(run.List(), {name});
    }
    EXPECT_EQ(run.End(), 0);
}

INSTANTIATE_TEST_SUITE_P(Hosts, FailingDiscovery, testing::Values(kTivane, kParlex), HostName);

}  // namespace
