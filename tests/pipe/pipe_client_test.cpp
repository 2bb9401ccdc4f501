// PipeClient against a pipe server living in the test: framing of incoming commands, a
// broken pipe, a server that stops reading, and the teardown paths. Runs under Wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pipe_client.h"
#include "test_pipe_server.h"

namespace {

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
    ULONGLONG before = GetTickCount64();
    link.client.StopReader();
    EXPECT_LT(GetTickCount64() - before, 1000u);
    link.client.SendStatus("connected", "A");  // the pipe is broken: dropped, no hang
    link.client.Close();
}

TEST(PipeClientTest, StopReaderEndsAPendingReadAtOnce) {
    Connected link;
    ASSERT_TRUE(link.Open());
    link.StartReading();
    Sleep(200);  // the read is pending
    ULONGLONG before = GetTickCount64();
    link.client.StopReader();
    // Well under the 2000 ms join bound: the cancelled read ends the thread.
    EXPECT_LT(GetTickCount64() - before, 1500u);
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

// Fills the pipe until a send gives up; returns how many sends gave up. Each send must
// end in about the write bound.
int SendUntilStalled(PipeClient& client, DWORD boundMs, int maxSends) {
    const std::string source(3000, 's');
    int stalled = 0;
    for (int i = 0; i < maxSends && stalled < 2; ++i) {
        ULONGLONG before = GetTickCount64();
        client.SendStatus("connected", source.c_str());
        ULONGLONG took = GetTickCount64() - before;
        EXPECT_LT(took, boundMs + 3000u) << "send " << i;
        if (took + 50 >= boundMs) {
            ++stalled;
        }
    }
    return stalled;
}

TEST(PipeClientTest, ServerThatStopsReadingCostsEachSendTheBoundOnly) {
    Connected link;
    ASSERT_TRUE(link.Open(4096, 4096));
    link.StartReading();
    link.client.SetWriteTimeoutForTesting(300);
    EXPECT_EQ(SendUntilStalled(link.client, 300, 200), 2);

    // Commands still arrive while sends stall.
    ASSERT_TRUE(link.server.Write("{\"type\":\"a\"}\n"));
    EXPECT_TRUE(link.inbox.WaitFor("a"));

    // Once the server reads again, the next message arrives whole, on a line of its own,
    // even when a cancelled write had left part of its message in the pipe.
    std::vector<std::string> lines = link.server.DrainLinesFor(500);
    link.client.SendStatus("error", "after");
    std::vector<std::string> after = link.server.DrainLinesFor(1000);
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after.back(), R"({"type":"status","state":"error","source":"after"})");
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("\"after\""), std::string::npos);
    }
}

TEST(PipeClientTest, RealWriteBoundIsAboutTwoSeconds) {
    Connected link;
    ASSERT_TRUE(link.Open(4096, 4096));
    link.client.SetWriteTimeoutForTesting(300);
    SendUntilStalled(link.client, 300, 200);
    link.client.SetWriteTimeoutForTesting(2000);
    ULONGLONG before = GetTickCount64();
    link.client.SendStatus("connected", std::string(3000, 's').c_str());
    ULONGLONG took = GetTickCount64() - before;
    EXPECT_GE(took, 1500u);
    EXPECT_LT(took, 6000u);
}

TEST(PipeClientTest, StopReaderLeavesAnotherThreadsWriteInFlight) {
    Connected link;
    ASSERT_TRUE(link.Open(4096, 4096));
    link.StartReading();
    link.client.SetWriteTimeoutForTesting(300);
    SendUntilStalled(link.client, 300, 200);
    link.client.SetWriteTimeoutForTesting(5000);
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
    std::vector<std::string> lines = link.server.DrainLinesFor(1500);
    ASSERT_EQ(WaitForSingleObject(thread.Get(), 6000), WAIT_OBJECT_0);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), R"({"type":"status","state":"disconnected","source":"inflight"})");
}

TEST(PipeClientTest, FailedConnectLeavesAClientThatClosesCleanly) {
    PipeClient client;
    ULONGLONG before = GetTickCount64();
    EXPECT_FALSE(client.Connect("pipe-test-no-such-pipe"));
    EXPECT_LT(GetTickCount64() - before, 4000u);  // no instance to wait for: fails at once
    client.SendStatus("connected", "A");          // dropped
    client.StopReader();
    client.Close();
    client.Close();
}

}  // namespace
