// How a view chooses its way, against a system that stands in for one with desktop
// composition (which Wine lacks) and for one that refuses a way: the best way offered is
// taken, a refusal falls back to the next, and a DWM thumbnail is placed where the picture
// belongs, follows the frame's shape and is given back. Windows of the test's own stand
// in for the host window and the application's.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

#include "controller_window.h"
#include "view_core.h"

namespace {

class FakeSystem : public ViewSystem {
public:
    bool thumbnails = false;
    bool registers = true;
    bool owns = true;
    bool parents = true;

    std::vector<std::string> calls;
    DWM_THUMBNAIL_PROPERTIES last = {};

    bool ThumbnailsAvailable() override { return thumbnails; }
    HTHUMBNAIL RegisterThumbnail(HWND, HWND) override {
        calls.push_back("register");
        return registers ? reinterpret_cast<HTHUMBNAIL>(0x1234) : nullptr;
    }
    bool UpdateThumbnail(HTHUMBNAIL, const DWM_THUMBNAIL_PROPERTIES& properties) override {
        last = properties;
        return true;
    }
    void UnregisterThumbnail(HTHUMBNAIL) override { calls.push_back("unregister"); }
    bool SetOwner(HWND, HWND owner) override {
        calls.push_back(owner ? "own" : "disown");
        return owner == nullptr || owns;
    }
    bool SetParentWindow(HWND, HWND parent) override {
        calls.push_back(parent ? "parent" : "unparent");
        return parent == nullptr || parents;
    }
};

HWND MakeWindow(DWORD style, HWND parent, int width, int height) {
    return MakeTestWindow(L"ViewCoreTestWindow", L"", style, 0, 0, width, height, parent);
}

// Made once and left to the end of the process: under Wine without a window manager,
// destroying a visible top-level window takes 2 s.
struct Windows {
    Windows()
        : app(MakeWindow(WS_POPUP | WS_VISIBLE, nullptr, 800, 600)),
          container(MakeWindow(WS_CHILD | WS_VISIBLE, app, 800, 600)),
          host(MakeWindow(WS_POPUP, nullptr, 320, 180)) {
        SetWindowPos(container, nullptr, 100, 50, 600, 500, SWP_NOZORDER);
    }
    HWND app;
    HWND container;  // at (100, 50) in the application window's client area
    HWND host;       // 320 x 180, as a host window is before its first frame
};

const Windows& TheWindows() {
    static const Windows windows;
    return windows;
}

TEST(ViewChoice, TheBestWayOfferedIsTakenAndARefusalFallsBack) {
    struct Row {
        const char* what;
        bool thumbnails, registers, owns, parents;
        unsigned ways;
        ViewWay way;
        std::vector<std::string> calls;  // to take the window and give it back
    } rows[] = {
        {"composition: a thumbnail",
         true,
         true,
         true,
         true,
         kViewByAnyWay,
         ViewWay::Thumbnail,
         {"register", "unregister"}},
        {"a thumbnail refused: owned",
         true,
         false,
         true,
         true,
         kViewByAnyWay,
         ViewWay::OwnedWindow,
         {"register", "own", "disown"}},
        {"no composition: owned",
         false,
         true,
         true,
         true,
         kViewByAnyWay,
         ViewWay::OwnedWindow,
         {"own", "disown"}},
        {"no owner taken: a child",
         false,
         true,
         false,
         true,
         kViewByAnyWay,
         ViewWay::ChildWindow,
         {"own", "parent", "unparent"}},
        {"thumbnails not allowed",
         true,
         true,
         true,
         true,
         kViewByOwnedWindow | kViewByChildWindow,
         ViewWay::OwnedWindow,
         {"own", "disown"}},
        {"a child asked for",
         true,
         true,
         true,
         true,
         kViewByChildWindow,
         ViewWay::ChildWindow,
         {"parent", "unparent"}},
        {"nothing possible",
         false,
         true,
         false,
         false,
         kViewByAnyWay,
         ViewWay::None,
         {"own", "parent"}},
    };
    const Windows& windows = TheWindows();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto system = std::make_shared<FakeSystem>();
        system->thumbnails = row.thumbnails;
        system->registers = row.registers;
        system->owns = row.owns;
        system->parents = row.parents;
        std::vector<bool> kept;
        {
            ViewCore view(system, [&kept](bool keep) { kept.push_back(keep); });
            std::string why;
            const bool shown = view.Show(windows.host, windows.container, RECT{0, 0, 300, 300},
                                         ViewFit::Letterbox, row.ways, why);
            EXPECT_EQ(shown, row.way != ViewWay::None) << why;
            EXPECT_EQ(view.state().way, row.way);
        }
        EXPECT_EQ(system->calls, row.calls);
        // The host keeps the window's size while the view has it, and gets it back after.
        EXPECT_EQ(kept, row.way == ViewWay::None ? std::vector<bool>{}
                                                 : std::vector<bool>({true, false}));
    }
}

TEST(ViewChoice, AThumbnailIsPlacedWhereThePictureBelongsAndFollowsTheFramesShape) {
    const Windows& windows = TheWindows();
    auto system = std::make_shared<FakeSystem>();
    system->thumbnails = true;
    ViewCore view(system, [](bool) {});
    std::string why;
    // A 400 x 300 tile at (20, 30) of the container: a 16:9 picture 400 x 225, centred.
    ASSERT_TRUE(view.Show(windows.host, windows.container, RECT{20, 30, 420, 330},
                          ViewFit::Letterbox, kViewByAnyWay, why))
        << why;
    view.FrameSizeReported(1280, 720, false);
    // In the top-level window's client coordinates: the container sits at (100, 50).
    EXPECT_EQ(system->last.rcDestination.left, 120);
    EXPECT_EQ(system->last.rcDestination.top, 117);
    EXPECT_EQ(system->last.rcDestination.right, 520);
    EXPECT_EQ(system->last.rcDestination.bottom, 342);
    EXPECT_TRUE(system->last.fVisible);
    EXPECT_EQ(system->last.opacity, 255);
    EXPECT_TRUE(system->last.fSourceClientAreaOnly);

    view.FrameSizeReported(300, 600, false);  // portrait: 150 x 300, centred
    EXPECT_EQ(system->last.rcDestination.left, 245);
    EXPECT_EQ(system->last.rcDestination.right, 395);
    EXPECT_EQ(system->last.rcDestination.top, 80);
    view.FrameSizeReported(1920, 1080, true);  // a late stats no longer counts
    EXPECT_EQ(system->last.rcDestination.left, 245);

    view.Hide();
    EXPECT_FALSE(system->last.fVisible);
    EXPECT_FALSE(view.state().visible);
    ASSERT_TRUE(view.Show(windows.host, windows.container, RECT{20, 30, 420, 330}, ViewFit::Fill,
                          kViewByAnyWay, why));
    EXPECT_TRUE(system->last.fVisible);
    EXPECT_EQ(system->last.rcDestination.left, 120);
    EXPECT_EQ(system->last.rcDestination.bottom, 380);
    EXPECT_EQ(system->calls, std::vector<std::string>{"register"});  // one thumbnail all along
}

}  // namespace
