// PipeClient against a pipe server living in the test: framing of incoming commands, a
// broken pipe, a server that stops reading, and the teardown paths. Runs under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pipe_client.h"
#include "protocol.h"
#include "test_pipe_server.h"
#include "timing.h"

namespace {

// A wait may end up to a timer tick before its time-out.
constexpr double kEarlyMs = 20.0;
// What a busy two-core machine may add before a thread runs again.
constexpr double kLateMs = 1000.0;

// Collects what the reader thread delivers; read by the test thread.
class Inbox {
public:
    Inbox() : arrived_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    CommandCallback Callback() {
        return [this](const JsonObject& command) {
            {
                std::lock_guard<std::mutex> lock(lock_);
                // "type|name" identifies a line; a non-JSON line shows as "|".
                commands_.push_back(command.Get("type") + "|" + command.Get("name"));
            }
            SetEvent(arrived_.Get());
        };
    }
    std::function<void()> BrokenCallback() {
        return [this] {
            broken_.store(true);
            SetEvent(arrived_.Get());
        };
    }

    // Waits until a command of this type arrived; true when it did.
    bool WaitFor(const std::string& type, DWORD timeoutMs = 5000) {
        return WaitUntil([&] { return Contains(type + "|"); }, timeoutMs);
    }
    bool WaitBroken(DWORD timeoutMs = 5000) {
        return WaitUntil([&] { return broken_.load(); }, timeoutMs);
    }
    std::vector<std::string> Commands() {
        std::lock_guard<std::mutex> lock(lock_);
        return commands_;
    }

private:
    bool Contains(const std::string& prefix) {
        std::lock_guard<std::mutex> lock(lock_);
        for (const std::string& c : commands_) {
            if (c.rfind(prefix, 0) == 0) {
                return true;
            }
        }
        return false;
    }
    template <typename Done>
    bool WaitUntil(Done done, DWORD timeoutMs) {
        ULONGLONG end = GetTickCount64() + timeoutMs;
        while (!done()) {
            ULONGLONG now = GetTickCount64();
            if (now >= end) {
                return false;
            }
            WaitForSingleObject(arrived_.Get(), static_cast<DWORD>(end - now));
        }
        return true;
    }

    std::mutex lock_;
    std::vector<std::string> commands_;
    std::atomic<bool> broken_{false};
    UniqueHandle arrived_;
};

struct Connected {
    TestPipeServer server;
    PipeClient client;
    Inbox inbox;

    bool Open(DWORD outBuffer = 65536, DWORD inBuffer = 65536) {
        if (!server.Create(outBuffer, inBuffer) || !client.Connect(server.name())) {
            return false;
        }
        return server.AwaitClient();
    }
    void StartReading() { client.StartReader(inbox.Callback(), inbox.BrokenCallback()); }
};

struct FramingCase {
    const char* what;
    std::vector<std::string> writes;
    std::vector<std::string> expected;
};

TEST(PipeClientTest, CutsWritesIntoCommandLines) {
    const std::string longName(9000, 'x');
    const std::string longLine = R"({"type":"set_source","name":")" + longName + "\"}\n";
    const FramingCase cases[] = {
        {"two commands in one write", {"{\"type\":\"a\"}\n{\"type\":\"b\"}\n"}, {"a|", "b|"}},
        {"one command in three writes",
         {"{\"type\":\"set_s", "ource\",\"name\":\"A", "\"}\n"},
         {"set_source|A"}},
        {"a line longer than one read", {longLine}, {"set_source|" + longName}},
        {"CR LF endings lose their CR", {"{\"type\":\"a\"}\r\n{\"type\":\"b\"}\r\n"}, {"a|", "b|"}},
        {"a CR inside a line stays", {"{\"type\":\"a\",\"name\":\"x\ry\"}\n"}, {"a|x\ry"}},
        {"empty lines and lone CRs are skipped",
         {"\n\r\n\n", "{\"type\":\"a\"}\n", "\r\n\n"},
         {"a|"}},
        {"a CR LF split across writes", {"{\"type\":\"a\"}\r", "\n"}, {"a|"}},
        {"non-JSON lines reach the callback empty",
         {"hello\n", "[1,2]\n", "{\"type\":\"a\"}\n"},
         {"|", "|", "a|"}},
        {"a line past 64 KiB is ignored whole; the next one is obeyed",
         {R"({"type":"set_source","name":")" + std::string(70000, 'x') + "\"}\n",
          "{\"type\":\"a\"}\n"},
         {"a|"}},
    };
    for (const FramingCase& c : cases) {
        SCOPED_TRACE(c.what);
        Connected link;
        ASSERT_TRUE(link.Open());
        link.StartReading();
        for (const std::string& piece : c.writes) {
            ASSERT_TRUE(link.server.Write(piece));
            Sleep(20);  // separate reads, as far as the pipe lets us
        }
        ASSERT_TRUE(link.server.Write("{\"type\":\"end\"}\n"));
        ASSERT_TRUE(link.inbox.WaitFor("end"));
        std::vector<std::string> got = link.inbox.Commands();
        got.pop_back();
        EXPECT_EQ(got, c.expected);
        link.client.Close();
    }
}

TEST(PipeClientTest, BrokenPipeCallsOnBrokenAndDropsTheUnfinishedLine) {
    Connected link;
    ASSERT_TRUE(link.Open());
    link.StartReading();
    ASSERT_TRUE(link.server.Write("{\"type\":\"a\"}\n{\"type\":\"b\""));
    ASSERT_TRUE(link.inbox.WaitFor("a"));
    link.server.Close();
    ASSERT_TRUE(link.inbox.WaitBroken());
    Sleep(100);
    EXPECT_EQ(link.inbox.Commands(), std::vector<std::string>{"a|"});

    // The reader has ended by itself: StopReader only closes its handle.
    double before = NowMs();
    link.client.StopReader();
    EXPECT_LT(NowMs() - before, 1000.0);
    // Messages for a broken pipe are dropped, and ending the writer does not wait for them.
    link.client.SetWriteTimeoutForTesting(10000);
    before = NowMs();
    link.client.SendStatus("connected", "A");
    link.client.Close();
    EXPECT_LT(NowMs() - before, 5000.0);
}

TEST(PipeClientTest, StopReaderEndsAPendingReadAtOnce) {
    Connected link;
    ASSERT_TRUE(link.Open());
    link.StartReading();
    Sleep(200);  // the read is pending
    double before = NowMs();
    link.client.StopReader();
    // Well under the 2000 ms join bound: the cancelled read ends the thread.
    EXPECT_LT(NowMs() - before, 1500.0);
    // Messages still go out after the reader has stopped.
    link.client.SendStatus("disconnected", "");
    std::string line;
    ASSERT_TRUE(link.server.ReadLine(line));
    EXPECT_EQ(line, R"({"type":"status","state":"disconnected","source":""})");
}

TEST(PipeClientTest, SendStatusWithNullsWritesEmptyStrings) {
    Connected link;
    ASSERT_TRUE(link.Open());
    link.client.SendStatus(nullptr, nullptr);
    std::string line;
    ASSERT_TRUE(link.server.ReadLine(line));
    EXPECT_EQ(line, R"({"type":"status","state":"","source":""})");
}

// Ordered lines are never collapsed: 100 of 100 bytes are more than a 4096-byte pipe holds
// whatever the writer's pace, so the writer is then stalled.
void FillPipe(PipeClient& client) {
    for (int i = 0; i < 100; ++i) {
        client.Send("{\"type\":\"ordered\",\"i\":" + std::to_string(i) + ",\"pad\":\"" +
                    std::string(64, 'p') + "\"}");
    }
}

// Sends `count` statuses "fill-<i>" and a stats after each; how long the sends took.
double SendMany(PipeClient& client, int count) {
    double before = NowMs();
    for (int i = 0; i < count; ++i) {
        client.SendStatus("connecting", ("fill-" + std::to_string(i)).c_str());
        client.SendStats(30.0f, i, i);
    }
    return NowMs() - before;
}

// A server that stops reading holds up no sender. Once it reads again it gets what was
// already in the pipe, then the latest status within one more line: statuses sent while
// the pipe stalled are collapsed to the latest. Ordered lines all arrive, in order, and
// the newest stats comes; nothing is cut or glued.
TEST(PipeClientTest, AServerThatStopsReadingCostsSendsNothingAndGetsTheLatestStateFirst) {
    Connected link;
    ASSERT_TRUE(link.Open(4096, 4096));
    link.StartReading();
    link.client.SetWriteTimeoutForTesting(300);
    // Far more than the pipe holds. Sends that waited for the pipe would cost the bound
    // for nearly each of them: a few bounds in all show they did not.
    EXPECT_LT(SendMany(link.client, 500), 20 * 300.0);
    FillPipe(link.client);
    Sleep(1000);  // several write bounds: the writer has timed out and counts the pipe stalled
    // Commands still arrive while the host's writes stall.
    ASSERT_TRUE(link.server.Write("{\"type\":\"a\"}\n"));
    EXPECT_TRUE(link.inbox.WaitFor("a"));
    for (int i = 0; i < 20; ++i) {
        link.client.SendStatus("connecting", ("stalled-" + std::to_string(i)).c_str());
    }
    link.client.SendStatus("connected", "latest");
    link.client.SendStats(60.0f, 1920, 1080);

    std::vector<std::string> lines = link.server.DrainLines(1000);
    int nextOrdered = 0;
    int lastFill = -1;
    size_t afterFills = 0;  // lines after the last one sent before the stall
    size_t latestAt = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        JsonObject m = ParseJson(lines[i]);
        const std::string& type = m.Get("type");
        const std::string& source = m.Get("source");
        ASSERT_TRUE(type == "status" || type == "stats" || type == "ordered") << lines[i];
        if (type == "ordered") {
            EXPECT_EQ(m.Get("i"), std::to_string(nextOrdered++)) << "ordered lines in order";
        } else if (source == "latest") {
            latestAt = i;
        } else if (source.rfind("fill-", 0) == 0) {
            int fill = std::atoi(source.c_str() + 5);
            EXPECT_GT(fill, lastFill) << "statuses keep their order";
            lastFill = fill;
            afterFills = 0;
        } else if (latestAt == lines.size()) {
            ++afterFills;  // a stats of before the stall, or a status sent while stalled
        }
    }
    EXPECT_EQ(nextOrdered, 100) << "an ordered line was lost";
    ASSERT_LT(latestAt, lines.size()) << "the latest status never arrived";
    EXPECT_EQ(lines[latestAt], R"({"type":"status","state":"connected","source":"latest"})");
    EXPECT_LE(afterFills, 2u) << "statuses sent while stalled were not collapsed";
    EXPECT_LT(lines.size(), 300u) << "what waited while stalled was not collapsed";
    EXPECT_EQ(lines.back(), R"({"type":"stats","fps":60.00,"width":1920,"height":1080})");
}

// A pipe that stays full: the writer's bound passes several times with the line in flight
// unfinished. Once the server reads, that line comes whole, right behind what the pipe
// held, and then the status sent meanwhile, ahead of the lines that still waited.
TEST(PipeClientTest, AfterAStallTheLineInFlightComesWholeThenTheCurrentStatus) {
    Connected link;
    ASSERT_TRUE(link.Open(4096, 4096));
    link.client.SetWriteTimeoutForTesting(300);
    FillPipe(link.client);
    Sleep(300);
    link.client.SendStatus("connected", "current");
    Sleep(1500);  // several write bounds
    const std::vector<std::string> lines = link.server.DrainLines(1000);
    const std::string status = R"({"type":"status","state":"connected","source":"current"})";
    size_t statusAt = lines.size();
    size_t bytesBefore = 0;
    int nextOrdered = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] == status) {
            statusAt = i;
            continue;
        }
        EXPECT_EQ(ParseJson(lines[i]).Get("i"), std::to_string(nextOrdered++)) << lines[i];
        bytesBefore += statusAt == lines.size() ? lines[i].size() + 1 : 0;
    }
    EXPECT_EQ(nextOrdered, 100) << "an ordered line was lost or cut";
    ASSERT_LT(statusAt, lines.size()) << "the status never arrived";
    EXPECT_LT(statusAt, 99u) << "the status waited behind every ordered line";
    // What the pipe held plus the one line that was in flight.
    EXPECT_LE(bytesBefore, 4096u + lines[0].size() + 1);
}

// A line longer than the pipe holds, read in small pieces slower than the write bound: it
// arrives whole, once, and the next line right after it.
TEST(PipeClientTest, ALineReadInPiecesPastTheWriteBoundArrivesWholeOnce) {
    Connected link;
    ASSERT_TRUE(link.Open(4096, 4096));
    link.client.SetWriteTimeoutForTesting(300);
    const std::string name(20000, 'n');
    link.client.SendStatus("connected", name.c_str());
    link.client.SendStatus("connected", "next");
    // 700 bytes every 100 ms or so: about three seconds for the long line.
    std::string bytes;
    for (int i = 0; i < 100 && std::count(bytes.begin(), bytes.end(), '\n') < 2; ++i) {
        char piece[700];
        OVERLAPPED overlapped = {};
        UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        overlapped.hEvent = event.Get();
        DWORD count = 0;
        if (!ReadFile(link.server.handle(), piece, sizeof piece, &count, &overlapped)) {
            ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_PENDING));
            if (WaitForSingleObject(event.Get(), 2000) != WAIT_OBJECT_0) {
                CancelIoEx(link.server.handle(), &overlapped);
            }
            GetOverlappedResult(link.server.handle(), &overlapped, &count, TRUE);
        }
        bytes.append(piece, count);
        Sleep(100);
    }
    bytes += link.server.ReadSome(300);  // anything more, such as the long line again
    EXPECT_EQ(bytes, BuildStatus("connected", name.c_str()) + "\n" +
                         BuildStatus("connected", "next") + "\n");
}

// A client destroyed while its reader is held in a command: the command's callback and
// what the reader uses stay until it returns, and the pipe is closed once it has.
TEST(PipeClientTest, AClientGoneUnderAHeldReaderKeepsWhatItUsesAndClosesThePipeAfterIt) {
    TestPipeServer server;
    ASSERT_TRUE(server.Create());
    auto client = std::make_unique<PipeClient>();
    ASSERT_TRUE(client->Connect(server.name()));
    ASSERT_TRUE(server.AwaitClient());
    UniqueHandle entered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    auto inCallback = std::make_shared<int>(0);
    HANDLE enteredEvent = entered.Get();
    HANDLE releaseEvent = release.Get();
    client->StartReader(
        [inCallback, enteredEvent, releaseEvent](const JsonObject&) {
            SetEvent(enteredEvent);
            WaitForSingleObject(releaseEvent, 30000);
        },
        [] {});
    ASSERT_TRUE(server.Write("{\"type\":\"a\"}\n"));
    ASSERT_EQ(WaitForSingleObject(entered.Get(), 5000), WAIT_OBJECT_0);
    client.reset();  // its reader outlasts the 2 s join
    EXPECT_EQ(inCallback.use_count(), 2) << "the callback was freed while it ran";
    EXPECT_FALSE(server.ClientGone(300)) << "the pipe was closed under the reader";
    SetEvent(release.Get());
    EXPECT_TRUE(server.ClientGone(5000)) << "the pipe stayed open after the reader ended";
    EXPECT_TRUE(WaitUntil([&] { return inCallback.use_count() == 1; }, 5000));
}

// StopReader while the pipe is stalled: the writer's write in flight is not cut short and
// arrives whole once the server reads.
TEST(PipeClientTest, StopReaderLeavesTheWritersWriteInFlight) {
    Connected link;
    ASSERT_TRUE(link.Open(4096, 4096));
    link.StartReading();
    link.client.SetWriteTimeoutForTesting(10000);
    FillPipe(link.client);
    link.client.SendStatus("disconnected", "inflight");
    Sleep(300);  // the writer waits for the full pipe
    link.client.StopReader();
    std::vector<std::string> lines;
    ASSERT_TRUE(link.server.ReadUntil("inflight", lines, 10000));
    EXPECT_EQ(lines.back(), R"({"type":"status","state":"disconnected","source":"inflight"})");
}

// How long ending the writer takes while the server does not read: it gets one write
// bound to send what waits, then its write is cancelled.
double TimeStalledWriterStop() {
    Connected link;
    if (!link.Open(4096, 4096)) {
        return -1.0;
    }
    FillPipe(link.client);
    Sleep(300);
    double before = NowMs();
    link.client.StopWriter();
    return NowMs() - before;
}

// StopReader while the reader is held in a command callback. The callback hands out its
// thread, so that the client can outlive the reader.
double TimeHeldReaderJoin() {
    UniqueHandle entered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE reader = nullptr;
    Connected link;
    double took = -1.0;
    if (link.Open()) {
        link.client.StartReader(
            [&](const JsonObject&) {
                DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(),
                                &reader, SYNCHRONIZE, FALSE, 0);
                SetEvent(entered.Get());
                WaitForSingleObject(release.Get(), 30000);
            },
            [] {});
    }
    if (link.server.Write("{\"type\":\"a\"}\n") &&
        WaitForSingleObject(entered.Get(), 5000) == WAIT_OBJECT_0) {
        double before = NowMs();
        link.client.StopReader();
        took = NowMs() - before;
    }
    SetEvent(release.Get());
    UniqueHandle thread(reader);
    if (thread) {
        WaitForSingleObject(thread.Get(), 10000);
    }
    return took;
}

// The client's 2000 ms bounds at its end, measured here and nowhere else. Each may end a
// timer tick early and up to kLateMs late on a busy machine.
TEST(PipeClientTest, AStalledWriterAndAHeldReaderEachCostTwoSecondsToEnd) {
    struct Case {
        const char* what;
        double (*measure)();
    } cases[] = {
        {"writer stopped while the server does not read", &TimeStalledWriterStop},
        {"join of a reader held in a command callback", &TimeHeldReaderJoin},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        double took = c.measure();
        EXPECT_GE(took, 2000.0 - kEarlyMs);
        EXPECT_LE(took, 2000.0 + kLateMs);
    }
}

TEST(PipeClientTest, FailedConnectLeavesAClientThatClosesCleanly) {
    PipeClient client;
    double before = NowMs();
    EXPECT_FALSE(client.Connect("pipe-test-no-such-pipe"));
    EXPECT_LT(NowMs() - before, 4000.0);  // no instance to wait for: fails at once
    // Messages are dropped at once, not after the write bound.
    client.SetWriteTimeoutForTesting(10000);
    before = NowMs();
    client.SendStatus("connected", "A");
    client.StopReader();
    client.Close();
    client.Close();
    EXPECT_LT(NowMs() - before, 5000.0);
}

}  // namespace
