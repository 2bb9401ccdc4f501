// OmtReceiver driven directly against the simulated libomt.dll (found through the DLL
// search path), with recording callbacks and the simulator's call log.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "omt_receiver.h"
#include "recorder.h"
#include "sim_call_log.h"
#include "test_files.h"
#include "timing.h"

namespace {

std::vector<std::string> StatesOf(const std::vector<StatusEvent>& events) {
    std::vector<std::string> states;
    for (const StatusEvent& event : events) {
        states.push_back(event.state);
    }
    return states;
}

bool EndsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class OmtReceiveLoop : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SetDllDirectoryA(SimDir().c_str()));
        receiver_ = OmtReceiver::Create();
        recorder_.Attach(*receiver_);
        ASSERT_TRUE(receiver_->Initialize());
    }
    void TearDown() override {
        receiver_.reset();
        SetDllDirectoryA(nullptr);
    }

    bool WaitForStatus(const std::string& state, int count, int timeoutMs) {
        return WaitUntil([&] { return recorder_.CountStatus(state) >= count; }, timeoutMs);
    }

    SimCallLog log_{"SIM_OMT_LOG"};  // outlives the receiver, so destroy is logged too
    Recorder recorder_;
    ReceiverHandle<OmtReceiver> receiver_;
};

TEST_F(OmtReceiveLoop, CreatesVideoOnlyBgraAndSuggestsTheMappedQuality) {
    struct Case {
        int quality;
        int suggested;
    } cases[] = {{-5, 1}, {0, 1}, {1, 1}, {2, 50}, {50, 50}, {51, 100}, {100, 100}};
    size_t index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.quality);
        std::string address = "pattern:32x18@30,tag:" + std::to_string(index);
        ASSERT_TRUE(receiver_->Start(address, c.quality));
        ASSERT_TRUE(
            WaitUntil([&] { return log_.Matching("setsuggestedquality").size() > index; }, 5000));
        std::vector<std::string> creates = log_.Matching("create");
        ASSERT_EQ(creates.size(), index + 1);
        EXPECT_EQ(creates[index].rfind(
                      "create address='" + address + "' types=2 format=2 flags=0 -> instance", 0),
                  0u);
        EXPECT_TRUE(EndsWith(log_.Matching("setsuggestedquality")[index],
                             "quality=" + std::to_string(c.suggested)));
        ++index;
    }
    receiver_->Stop();
    for (const std::string& line : log_.Matching("receive")) {
        EXPECT_NE(line.find("types=2 timeout=50"), std::string::npos) << line;
    }
}

TEST_F(OmtReceiveLoop, QualityChangesGoToTheOpenConnection) {
    ASSERT_TRUE(receiver_->Start("pattern:64x36@30", 100));
    ASSERT_TRUE(WaitForStatus("connected", 1, 5000));
    struct Step {
        int quality;
        int suggested;
        int width;  // the simulator scales the picture with the suggested quality
    } steps[] = {{1, 1, 16}, {50, 50, 32}, {60, 100, 64}, {70, 100, 64}};
    size_t suggestions = 1;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.quality);
        receiver_->SetQuality(step.quality);
        ASSERT_TRUE(WaitUntil(
            [&] { return log_.Matching("setsuggestedquality").size() > suggestions; }, 3000));
        EXPECT_TRUE(EndsWith(log_.Matching("setsuggestedquality")[suggestions],
                             "quality=" + std::to_string(step.suggested)));
        ++suggestions;
        size_t seen = recorder_.Frames().size();
        ASSERT_TRUE(WaitUntil([&] { return recorder_.Frames().size() >= seen + 2; }, 3000));
        FrameEvent frame = recorder_.Frames().back();
        EXPECT_EQ(frame.width, step.width);
        EXPECT_EQ(frame.quality, step.suggested);
    }
    std::vector<std::string> expected = {"connecting", "connected"};
    EXPECT_EQ(StatesOf(recorder_.Statuses()), expected) << "a quality change reports nothing";
    EXPECT_EQ(log_.Matching("create").size(), 1u) << "a quality change never reconnects";
    EXPECT_EQ(log_.Matching("destroy").size(), 0u);
}

TEST_F(OmtReceiveLoop, LiveSourceConnectsOnceAndStopsWithOneDisconnected) {
    ASSERT_TRUE(receiver_->Start("pattern:64x36@30,padded-stride", 100));
    ASSERT_TRUE(WaitUntil([&] { return recorder_.Stats().size() >= 2; }, 6000));
    receiver_->Stop();

    std::vector<std::string> expected = {"connecting", "connected", "disconnected"};
    std::vector<StatusEvent> statuses = recorder_.Statuses();
    EXPECT_EQ(StatesOf(statuses), expected);
    EXPECT_EQ(statuses[0].source, "pattern:64x36@30,padded-stride");
    EXPECT_EQ(statuses.back().source, "");

    for (const StatsEvent& report : recorder_.Stats()) {
        EXPECT_GT(report.framesPerSecond, 10.0f);
        EXPECT_LT(report.framesPerSecond, 45.0f);
        EXPECT_EQ(report.width, 64);
        EXPECT_EQ(report.height, 36);
    }
    std::vector<FrameEvent> frames = recorder_.Frames();
    ASSERT_GE(frames.size(), 20u);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].strideBytes, 64 * 4 + 64);
        EXPECT_EQ(frames[i].frameNumber, static_cast<int>(i)) << "every frame, in order";
    }
    std::vector<std::string> lines = log_.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("destroy instance=", 0), 0u);
}

TEST_F(OmtReceiveLoop, SourceFallingSilentIsDroppedAndConnectedAgain) {
    ASSERT_TRUE(receiver_->Start("pattern:32x18@30,silent-after:5", 100));
    ASSERT_TRUE(WaitForStatus("connected", 2, 9000));
    receiver_->Stop();

    std::vector<StatusEvent> statuses = recorder_.Statuses();
    std::vector<std::string> expected = {"connecting", "connected", "reconnecting", "reconnecting",
                                         "connecting", "connected", "disconnected"};
    ASSERT_EQ(StatesOf(statuses), expected);
    EXPECT_GE(statuses[4].atMs - statuses[3].atMs, 400.0);

    // The first interval had the five frames; the three after it none, but the size of
    // the last frame stays.
    std::vector<StatsEvent> stats = recorder_.Stats();
    ASSERT_GE(stats.size(), 4u);
    EXPECT_GT(stats[0].framesPerSecond, 0.0f);
    for (size_t i = 1; i < 4; ++i) {
        EXPECT_EQ(stats[i].framesPerSecond, 0.0f);
        EXPECT_EQ(stats[i].width, 32);
        EXPECT_EQ(stats[i].height, 18);
    }
    EXPECT_EQ(log_.Matching("destroy").size(), 2u);
}

TEST_F(OmtReceiveLoop, SilentSourceGivesUpAfterThreeEmptyIntervals) {
    ASSERT_TRUE(receiver_->Start("novideo", 100));
    ASSERT_TRUE(WaitForStatus("connecting", 2, 8000));
    receiver_->Stop();

    std::vector<StatusEvent> statuses = recorder_.Statuses();
    std::vector<std::string> expected = {"connecting", "reconnecting", "reconnecting", "connecting",
                                         "disconnected"};
    ASSERT_EQ(StatesOf(statuses), expected);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(statuses[i].source, "novideo");
    }
    // Given up at the third empty report, not before and not later.
    std::vector<StatsEvent> stats = recorder_.Stats();
    ASSERT_GE(stats.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(stats[i].framesPerSecond, 0.0f);
        EXPECT_EQ(stats[i].width, 0);
        EXPECT_EQ(stats[i].height, 0);
    }
    EXPECT_LE(stats[2].atMs, statuses[1].atMs);
    if (stats.size() > 3) {
        EXPECT_GT(stats[3].atMs, statuses[1].atMs);
    }
    double pause = statuses[3].atMs - statuses[2].atMs;
    EXPECT_GE(pause, 400.0);
    EXPECT_LE(pause, 2500.0);
}

TEST_F(OmtReceiveLoop, FailedCreatesAreReportedAndRetriedAfterASecond) {
    ASSERT_TRUE(receiver_->Start("pattern:32x18@30,fail-creates:2", 100));
    ASSERT_TRUE(WaitForStatus("connected", 1, 8000));
    receiver_->Stop();

    std::vector<StatusEvent> statuses = recorder_.Statuses();
    std::vector<std::string> expected = {"connecting", "error",     "connecting",  "error",
                                         "connecting", "connected", "disconnected"};
    ASSERT_EQ(StatesOf(statuses), expected);
    EXPECT_EQ(statuses[1].source, "Failed to create receiver");
    for (size_t i : {1u, 3u}) {
        double pause = statuses[i + 1].atMs - statuses[i].atMs;
        EXPECT_GE(pause, 900.0);
        EXPECT_LE(pause, 3000.0);
    }
    EXPECT_EQ(log_.Matching("create").size(), 3u);
    EXPECT_EQ(log_.Matching("destroy").size(), 1u) << "a failed create has nothing to destroy";
}

TEST_F(OmtReceiveLoop, UnusableRecordsAreNeitherCountedNorDelivered) {
    for (const char* kind : {"null-data", "zero-length", "short-data"}) {
        SCOPED_TRACE(kind);
        recorder_.Clear();
        ASSERT_TRUE(receiver_->Start(std::string("pattern:32x18@30,") + kind, 100));
        ASSERT_TRUE(WaitUntil([&] { return !recorder_.Stats().empty(); }, 4000));
        receiver_->Stop();
        EXPECT_TRUE(recorder_.Frames().empty());
        EXPECT_EQ(recorder_.CountStatus("connected"), 0);
        StatsEvent first = recorder_.Stats()[0];
        EXPECT_EQ(first.framesPerSecond, 0.0f);
        EXPECT_EQ(first.width, 0);
    }
    // The records did come back from the library; the receiver refused them.
    EXPECT_GE(log_.Matching("receive").size(), 3u);
    bool anyFrame = false;
    for (const std::string& line : log_.Matching("receive")) {
        anyFrame = anyFrame || line.find("-> frame") != std::string::npos;
    }
    EXPECT_TRUE(anyFrame);
}

TEST_F(OmtReceiveLoop, EmptyAddressReportsDisconnectedWithoutCreating) {
    ASSERT_TRUE(receiver_->Start("", 100));
    ASSERT_TRUE(WaitForStatus("disconnected", 3, 5000));
    receiver_->Stop();
    std::vector<StatusEvent> statuses = recorder_.Statuses();
    for (const StatusEvent& event : statuses) {
        EXPECT_EQ(event.state, "disconnected");
        EXPECT_EQ(event.source, "");
    }
    EXPECT_TRUE(log_.Matching("create").empty());
}

TEST_F(OmtReceiveLoop, StartWhileRunningEndsTheOldWorkerFirst) {
    ASSERT_TRUE(receiver_->Start("pattern:32x18@30,tag:old", 100));
    ASSERT_TRUE(WaitForStatus("connected", 1, 5000));
    ASSERT_TRUE(receiver_->Start("pattern:32x18@30,tag:new", 50));
    ASSERT_TRUE(WaitForStatus("connected", 2, 5000));
    receiver_->Stop();

    std::vector<StatusEvent> statuses = recorder_.Statuses();
    std::vector<std::string> expected = {"connecting", "connected", "disconnected",
                                         "connecting", "connected", "disconnected"};
    ASSERT_EQ(StatesOf(statuses), expected);
    EXPECT_EQ(statuses[3].source, "pattern:32x18@30,tag:new");
    std::vector<std::string> lines = log_.Lines();
    std::vector<std::string> order;
    for (const std::string& line : lines) {
        if (line.rfind("create", 0) == 0 || line.rfind("destroy", 0) == 0 ||
            line.rfind("setsuggestedquality", 0) == 0) {
            order.push_back(line.substr(0, line.find(' ')));
        }
    }
    std::vector<std::string> expectedOrder = {"create", "setsuggestedquality", "destroy",
                                              "create", "setsuggestedquality", "destroy"};
    EXPECT_EQ(order, expectedOrder);
}

// A library call that hangs: Stop gives up after its bound, the receiver says it is
// stuck until the worker has really ended, and only then may it be destroyed. The create
// that follows "connecting" hangs 8 s, so Stop, called within 3 s of that report, meets a
// worker that outlasts its 5000 ms wait. This is the one test of that bound: Stop may
// return a timer tick early, and up to 1000 ms late on a busy machine.
TEST_F(OmtReceiveLoop, StopIsBoundedWhenTheLibraryHangs) {
    ASSERT_TRUE(receiver_->Start("pattern:32x18@30,stall-create:8000", 100));
    ASSERT_TRUE(WaitForStatus("connecting", 1, 5000));
    double stopAt = recorder_.NowMs();
    ASSERT_LT(stopAt - recorder_.TimeOf("connecting", 0), 3000.0) << "too late to judge";
    receiver_->Stop();
    double stopMs = recorder_.NowMs() - stopAt;
    EXPECT_GE(stopMs, 5000.0 - 20.0);
    EXPECT_LE(stopMs, 5000.0 + 1000.0);
    EXPECT_TRUE(receiver_->Stuck());
    EXPECT_EQ(recorder_.CountStatus("disconnected"), 0);

    ASSERT_TRUE(WaitUntil([&] { return !receiver_->Stuck(); }, 10000));
    EXPECT_EQ(recorder_.CountStatus("disconnected"), 1);
    EXPECT_EQ(log_.Matching("create").size(), 1u);
    EXPECT_EQ(log_.Matching("destroy").size(), 1u);
}

}  // namespace
