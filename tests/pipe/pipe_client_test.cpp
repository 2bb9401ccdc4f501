// PipeClient against a pipe server living in the test: framing of incoming commands, a
// broken pipe, a server that stops reading, and the teardown paths. Runs under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipe_client.h"
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
                ScopedLock lock(lock_);
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
        ScopedLock lock(lock_);
        return commands_;
    }

private:
    bool Contains(const std::string& prefix) {
        ScopedLock lock(lock_);
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

    CriticalSection lock_;
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
    // A message for a broken pipe is dropped at once, not after the write bound.
    link.client.SetWriteTimeoutForTesting(10000);
    before = NowMs();
    link.client.SendStatus("connected", "A");
    EXPECT_LT(NowMs() - before, 5000.0);
    link.client.Close();
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

const std::string kBigSource(3000, 's');

// How long one status message of about 3000 bytes took to send.
double TimeSend(PipeClient& client) {
    double before = NowMs();
    client.SendStatus("connected", kBigSource.c_str());
    return NowMs() - before;
}

// Sends into a pipe the server does not read until two sends in a row gave up after
// `boundMs`: from then on the pipe is full. False when that did not happen in 200 sends.
bool FillPipe(PipeClient& client, double boundMs) {
    int gaveUp = 0;
    for (int i = 0; i < 200 && gaveUp < 2; ++i) {
        gaveUp = TimeSend(client) >= boundMs - kEarlyMs ? gaveUp + 1 : 0;
    }
    return gaveUp == 2;
}

TEST(PipeClientTest, ServerThatStopsReadingCostsEachSendTheBoundOnly) {
    Connected link;
    ASSERT_TRUE(link.Open(4096, 4096));
    link.StartReading();
    link.client.SetWriteTimeoutForTesting(300);
    ASSERT_TRUE(FillPipe(link.client, 300)) << "no send ever waited for the server";
    // Every send into the full pipe gives up after the bound: no sooner, no later.
    for (int i = 0; i < 3; ++i) {
        double took = TimeSend(link.client);
        EXPECT_GE(took, 300.0 - kEarlyMs) << "send " << i;
        EXPECT_LE(took, 300.0 + kLateMs) << "send " << i;
    }

    // Commands still arrive while sends stall.
    ASSERT_TRUE(link.server.Write("{\"type\":\"a\"}\n"));
    EXPECT_TRUE(link.inbox.WaitFor("a"));

    // Once the server reads again, the next message arrives whole, on a line of its own,
    // even when a cancelled write had left part of its message in the pipe.
    std::vector<std::string> lines = link.server.DrainLines();
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("\"after\""), std::string::npos);
    }
    link.client.SendStatus("error", "after");
    std::vector<std::string> after;
    ASSERT_TRUE(link.server.ReadUntil("\"after\"", after));
    EXPECT_EQ(after.back(), R"({"type":"status","state":"error","source":"after"})");
}

// A write that the full pipe does not take, with the client's own bound.
double TimeStalledWrite() {
    Connected link;
    if (!link.Open(4096, 4096)) {
        return -1.0;
    }
    // The sends before the pipe is full take milliseconds; the first that waits for the
    // server is the measurement.
    for (int i = 0; i < 200; ++i) {
        double took = TimeSend(link.client);
        if (took >= 1000.0) {
            return took;
        }
    }
    return -1.0;
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

// The client's 2000 ms bounds, measured here and nowhere else. Each may end a timer tick
// early and up to kLateMs late on a busy machine.
TEST(PipeClientTest, AStalledWriteAndAHeldReaderEachCostTwoSeconds) {
    struct Case {
        const char* what;
        double (*measure)();
    } cases[] = {
        {"write into a pipe the server does not read", &TimeStalledWrite},
        {"join of a reader held in a command callback", &TimeHeldReaderJoin},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        double took = c.measure();
        EXPECT_GE(took, 2000.0 - kEarlyMs);
        EXPECT_LE(took, 2000.0 + kLateMs);
    }
}

TEST(PipeClientTest, StopReaderLeavesAnotherThreadsWriteInFlight) {
    Connected link;
    ASSERT_TRUE(link.Open(4096, 4096));
    link.StartReading();
    link.client.SetWriteTimeoutForTesting(300);
    ASSERT_TRUE(FillPipe(link.client, 300));
    link.client.SetWriteTimeoutForTesting(10000);
    struct Sender {
        PipeClient* client;
        static DWORD WINAPI Main(LPVOID self) {
            static_cast<Sender*>(self)->client->SendStatus("disconnected", "inflight");
            return 0;
        }
    } sender{&link.client};
    UniqueHandle thread(CreateThread(nullptr, 0, &Sender::Main, &sender, 0, nullptr));
    Sleep(300);  // the write is pending behind the full pipe
    link.client.StopReader();
    std::vector<std::string> lines;
    ASSERT_TRUE(link.server.ReadUntil("inflight", lines, 10000));
    EXPECT_EQ(lines.back(), R"({"type":"status","state":"disconnected","source":"inflight"})");
    EXPECT_EQ(WaitForSingleObject(thread.Get(), 10000), WAIT_OBJECT_0);
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
