// Who sizes the host window: the frames until the controller keeps the size, then the
// controller, told of each new frame size at once; given back, the window takes the
// frame size again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "window_sizing.h"

namespace {

struct Step {
    enum { Frame, Keep, Follow } what;
    int width;
    int height;
    bool windowResized;  // what the step returns: the window takes (width, height)
};

TEST(WindowSizing, TheControllerKeepsTheSizeAndHearsOfEachNewFrameSize) {
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::vector<std::string> sent;
    } cases[] = {
        {"following the frames, nothing is told",
         {{Step::Frame, 320, 180, true}, {Step::Frame, 640, 480, true}},
         {}},
        {"kept: answered with the current size, then each new size instead of a resize",
         {{Step::Frame, 320, 180, true},
          {Step::Keep, 320, 180, false},
          {Step::Frame, 180, 240, false},
          {Step::Frame, 80, 45, false}},
         {"320x180", "180x240", "80x45"}},
        {"kept before the first frame: answered with no size",
         {{Step::Keep, 0, 0, false}, {Step::Frame, 320, 180, false}},
         {"0x0", "320x180"}},
        {"given back: answered, the window takes the frame size, and follows again",
         {{Step::Keep, 320, 180, false},
          {Step::Follow, 320, 180, true},
          {Step::Frame, 640, 360, true}},
         {"320x180", "320x180"}},
        {"given back with no frame yet: nothing to take",
         {{Step::Keep, 0, 0, false}, {Step::Follow, 0, 0, false}},
         {"0x0", "0x0"}},
        {"follow while following: answered, the window is left alone",
         {{Step::Frame, 320, 180, true}, {Step::Follow, 320, 180, false}},
         {"320x180"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> sent;
        WindowSizing sizing([&sent](int width, int height) {
            sent.push_back(std::to_string(width) + "x" + std::to_string(height));
        });
        for (const Step& step : c.steps) {
            bool resized = step.what == Step::Frame
                               ? sizing.FrameSizeChanged(step.width, step.height)
                               : sizing.SetKept(step.what == Step::Keep, step.width, step.height);
            EXPECT_EQ(resized, step.windowResized) << step.width << "x" << step.height;
        }
        EXPECT_EQ(sent, c.sent);
    }
}

}  // namespace
