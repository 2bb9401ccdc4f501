// What the outbox keeps for a controller that does not read: order kept, the newest stats
// and status never dropped, the bounds by kind, and what a line put back may lose.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "outbox.h"

namespace {

struct Step {
    enum { Push, PutBack, Stall, Flow } what;
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
    const MessageKind O = MessageKind::Ordered, S = MessageKind::Status, T = MessageKind::Stats,
                      F = MessageKind::FrameSize;
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
         {{Step::Push, O, "ready"},
          {Step::Push, S, "s1"},
          {Step::Push, T, "t1"},
          {Step::Push, O, "o"}},
         {"ready", "s1", "t1", "o"}},
        {"a newer stats replaces the waiting one, at its own place",
         {{Step::Push, T, "t1"}, {Step::Push, S, "s1"}, {Step::Push, T, "t2"}},
         {"s1", "t2"}},
        {"a newer frame size replaces the waiting one, and leaves the stats alone",
         {{Step::Push, F, "f1"},
          {Step::Push, T, "t1"},
          {Step::Push, F, "f2"},
          {Step::PutBack, F, "f0"}},
         {"t1", "f2"}},
        {"beyond eight statuses the oldest go",
         tenStatuses,
         {"s2", "s3", "s4", "s5", "s6", "s7", "s8", "s9"}},
        {"while stalled only the newest status waits; ordered lines all stay",
         {{Step::Push, S, "s1"},
          {Step::Push, O, "o1"},
          {Step::Stall, S, ""},
          {Step::Push, S, "s2"},
          {Step::Push, O, "o2"},
          {Step::Push, S, "s3"}},
         {"o1", "o2", "s3"}},
        {"while stalled the newest status goes ahead of the stats waiting last",
         {{Step::Stall, S, ""},
          {Step::Push, O, "o1"},
          {Step::Push, T, "t1"},
          {Step::Push, S, "s1"}},
         {"o1", "s1", "t1"}},
        {"flowing again, statuses queue up to the bound again",
         {{Step::Stall, S, ""}, {Step::Flow, S, ""}, {Step::Push, S, "s1"}, {Step::Push, S, "s2"}},
         {"s1", "s2"}},
        {"a line put back goes first",
         {{Step::Push, O, "o1"}, {Step::PutBack, S, "s0"}},
         {"s0", "o1"}},
        {"a stats put back behind a newer one is dropped",
         {{Step::Push, T, "t2"}, {Step::PutBack, T, "t1"}},
         {"t2"}},
        {"a status put back while stalled behind a newer one is dropped",
         {{Step::Stall, S, ""}, {Step::Push, S, "s2"}, {Step::PutBack, S, "s1"}},
         {"s2"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Outbox outbox;
        for (const Step& step : c.steps) {
            switch (step.what) {
                case Step::Push:
                    outbox.Push(step.kind, step.line);
                    break;
                case Step::PutBack:
                    outbox.PutBack(step.kind, step.line);
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
