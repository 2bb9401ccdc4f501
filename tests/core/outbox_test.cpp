// What the outbox keeps for a controller that does not read: order kept, the newest stats
// and status never dropped, the bounds by kind, and the current state first while stalled.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "outbox.h"

namespace {

struct Step {
    enum { Push, Stall, Flow } what;
    MessageKind kind;
    std::string line;
};

std::vector<std::string> Drain(Outbox& outbox) {
    std::vector<std::string> lines;
    MessageKind kind;
    std::string line;
    while (outbox.Take(kind, line)) {
        lines.push_back(line);
    }
    return lines;
}

TEST(OutboxTest, KeepsOrderAndTheNewestStateWithinItsBounds) {
    const MessageKind R = MessageKind::HostReady, O = MessageKind::Ordered, S = MessageKind::Status,
                      T = MessageKind::Stats, F = MessageKind::FrameSize;
    std::vector<Step> tenStatuses;
    for (int i = 0; i < 10; ++i) {
        tenStatuses.push_back({Step::Push, S, "s" + std::to_string(i)});
    }
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::vector<std::string> expected;
    } cases[] = {
        {"lines keep their order",
         {{Step::Push, R, "ready"},
          {Step::Push, S, "s1"},
          {Step::Push, T, "t1"},
          {Step::Push, O, "o"}},
         {"ready", "s1", "t1", "o"}},
        {"a newer stats replaces the waiting one, at its own place",
         {{Step::Push, T, "t1"}, {Step::Push, S, "s1"}, {Step::Push, T, "t2"}},
         {"s1", "t2"}},
        {"a newer frame size replaces the waiting one, and leaves the stats alone",
         {{Step::Push, F, "f1"}, {Step::Push, T, "t1"}, {Step::Push, F, "f2"}},
         {"t1", "f2"}},
        {"beyond eight statuses the oldest go",
         tenStatuses,
         {"s2", "s3", "s4", "s5", "s6", "s7", "s8", "s9"}},
        {"while stalled only the newest status waits, ahead of the ordered lines, which all stay",
         {{Step::Push, S, "s1"},
          {Step::Push, O, "o1"},
          {Step::Stall, S, ""},
          {Step::Push, S, "s2"},
          {Step::Push, O, "o2"},
          {Step::Push, S, "s3"}},
         {"s3", "o1", "o2"}},
        {"while stalled the newest status goes ahead of ordered lines and stats, behind host_ready",
         {{Step::Stall, S, ""},
          {Step::Push, R, "r"},
          {Step::Push, O, "o1"},
          {Step::Push, T, "t1"},
          {Step::Push, S, "s1"}},
         {"r", "s1", "o1", "t1"}},
        {"a stall moves the newest waiting status ahead of the ordered lines",
         {{Step::Push, R, "r"},
          {Step::Push, O, "o1"},
          {Step::Push, S, "s1"},
          {Step::Push, O, "o2"},
          {Step::Push, S, "s2"},
          {Step::Push, T, "t1"},
          {Step::Stall, S, ""}},
         {"r", "s2", "o1", "o2", "t1"}},
        {"flowing again, statuses queue up to the bound again",
         {{Step::Stall, S, ""}, {Step::Flow, S, ""}, {Step::Push, S, "s1"}, {Step::Push, S, "s2"}},
         {"s1", "s2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outbox outbox;
        for (const Step& step : c.steps) {
            switch (step.what) {
                case Step::Push:
                    outbox.Push(step.kind, step.line);
                    break;
                case Step::Stall:
                    outbox.SetStalled(true);
                    break;
                case Step::Flow:
                    outbox.SetStalled(false);
                    break;
            }
        }
        EXPECT_EQ(Drain(outbox), c.expected);
        EXPECT_TRUE(outbox.Empty());
    }
}

}  // namespace
