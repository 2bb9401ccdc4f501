// End to end: hostctl (the reference controlling application) starts Tivane on a
// simulated 1080p source found through PATH, changes the quality and shuts it down; the
// test reads hostctl's transcript of every host message.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "json.h"
#include "child_process.h"
#include "test_files.h"

namespace {

struct Message {
    double atSeconds;
    bool fromHost;  // "<-" host to controller, "->" controller to host
    JsonObject json;
};

std::vector<Message> ReadTranscript(const std::string& path) {
    std::vector<Message> messages;
    for (const std::string& line : ReadLines(path)) {
        size_t arrow = line.find("] <- {");
        bool fromHost = arrow != std::string::npos;
        if (!fromHost) {
            arrow = line.find("] -> {");
        }
        if (arrow == std::string::npos || line.empty() || line[0] != '[') {
            continue;
        }
        messages.push_back(
            Message{std::atof(line.c_str() + 1), fromHost, ParseJson(line.substr(arrow + 5))});
    }
    return messages;
}

// Runs hostctl with `script`; its output goes to `transcript`. Returns the exit code.
DWORD RunHostctl(const std::string& script, const std::string& transcript) {
    return RunRedirected("\"" + ExeDir() + "hostctl.exe\" --script=\"" + script +
                             "\" --timeout=15000 \"" + ExeDir() + "Tivane.exe\"",
                         transcript, 45000);
}

TEST(NdiEndToEnd, TivaneReceivesReportsSwitchesToLowQualityAndShutsDown) {
    if (!FileExists(ExeDir() + "hostctl.exe")) {
        GTEST_SKIP() << "hostctl.exe not built";
    }
    // A rate the host keeps up with at 1080p even with software rendering under Wine.
    const std::string source = "pattern:1920x1080@10";
    TempDir dir;
    ASSERT_TRUE(WriteTextFile(dir.path() + "script.txt",
                              "wait_for host_ready\n"
                              "{\"type\":\"set_source\",\"name\":\"" +
                                  source +
                                  "\"}\n"
                                  "wait 3300\n"
                                  "{\"type\":\"set_quality\",\"quality\":\"low\"}\n"
                                  "wait 2300\n"
                                  "{\"type\":\"shutdown\"}\n"));
    char path[32768] = {};
    GetEnvironmentVariableA("PATH", path, sizeof(path));
    SetEnvironmentVariableA("PATH", (SimDir() + ";" + path).c_str());  // inherited by Tivane
    DWORD exitCode = RunHostctl(dir.path() + "script.txt", dir.path() + "transcript.txt");
    SetEnvironmentVariableA("PATH", path);
    std::vector<Message> messages = ReadTranscript(dir.path() + "transcript.txt");

    EXPECT_EQ(exitCode, 0u);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front().json.Get("type"), "host_ready");
    double qualityAt = -1.0;
    std::vector<Message> highStats, lowStats, afterQuality;
    for (const Message& m : messages) {
        if (!m.fromHost) {
            if (m.json.Get("type") == "set_quality") {
                qualityAt = m.atSeconds;
            }
            continue;
        }
        if (qualityAt >= 0.0) {
            afterQuality.push_back(m);
        }
        if (m.json.Get("type") == "stats") {
            (qualityAt < 0.0 ? highStats : lowStats).push_back(m);
        }
    }
    ASSERT_GE(highStats.size(), 2u);
    for (const Message& m : highStats) {
        EXPECT_EQ(m.json.Get("width"), "1920");
        EXPECT_EQ(m.json.Get("height"), "1080");
        EXPECT_NEAR(std::atof(m.json.Get("fps").c_str()), 10.0, 3.0);
    }
    double spacing = highStats[1].atSeconds - highStats[0].atSeconds;
    EXPECT_GE(spacing, 0.9);
    EXPECT_LE(spacing, 1.6);

    ASSERT_GE(afterQuality.size(), 2u);
    EXPECT_EQ(afterQuality[0].json.Get("state"), "reconnecting");
    EXPECT_EQ(afterQuality[1].json.Get("state"), "connecting");
    ASSERT_FALSE(lowStats.empty());
    EXPECT_EQ(lowStats.back().json.Get("width"), "960");
    EXPECT_EQ(lowStats.back().json.Get("height"), "540");
    EXPECT_EQ(messages.back().json.Get("state"), "disconnected");
}

}  // namespace
