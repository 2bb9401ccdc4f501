// Views judged by their pixels: an application window with two views of different
// sources and shapes, read back from the screen. Each source is the simulated still
// picture (four quadrants of known colours), so every point of a rectangle has a known
// colour however the picture is scaled: quadrant colours inside the picture, the
// window's own colour in the bars of the letterbox. Judged after the first show, after
// the application window moves and changes its size, and after a source changes its
// frame's shape, during which the host window must never take the frame's size. Neither
// host window may take the focus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>

#include "controller_window.h"
#include "host_process.h"
#include "host_view.h"
#include "platform.h"
#include "test_files.h"
#include "timing.h"

namespace {

const COLORREF kWindowColour = RGB(40, 90, 160);  // in none of the pictures
const COLORREF kQuadrants[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 255)};
constexpr int kMargin = 4;  // how far from an edge a point is judged: the aspect within it

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

class AppWindow {
public:
    AppWindow()
        : handle(MakeTestWindow(L"ViewTestApplication", L"Views", WS_OVERLAPPEDWINDOW, 60, 60, 1000,
                                640, nullptr, kWindowColour)) {}
    void Show() {
        ShowWindow(handle, SW_SHOW);
        UpdateWindow(handle);
    }
    ~AppWindow() { DestroyWindow(handle); }
    AppWindow(const AppWindow&) = delete;
    AppWindow& operator=(const AppWindow&) = delete;

    HWND handle = nullptr;
};

// One point of the application window and the colour it must have.
struct Check {
    POINT at;  // client coordinates: the window may be moved by a window manager meanwhile
    COLORREF colour;
    std::string what;
};

bool Near(COLORREF a, COLORREF b) {
    auto close = [](int x, int y) { return std::abs(x - y) <= 48; };
    return close(GetRValue(a), GetRValue(b)) && close(GetGValue(a), GetGValue(b)) &&
           close(GetBValue(a), GetBValue(b));
}

std::string Text(COLORREF colour) {
    return std::to_string(GetRValue(colour)) + "," + std::to_string(GetGValue(colour)) + "," +
           std::to_string(GetBValue(colour));
}

// The screen's pixels over `area`, read once.
class ScreenCopy {
public:
    explicit ScreenCopy(const RECT& area) : area_(area) {
        const int width = area.right - area.left;
        const int height = area.bottom - area.top;
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;  // top row first
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
        GdiFlush();
        const auto* pixels = static_cast<const uint32_t*>(bits);
        pixels_.assign(pixels, pixels + static_cast<size_t>(width) * height);
        SelectObject(memory, old);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
    }

    COLORREF At(POINT point) const {
        const int width = area_.right - area_.left;
        const uint32_t bgra =
            pixels_[static_cast<size_t>(point.y - area_.top) * width + (point.x - area_.left)];
        return RGB((bgra >> 16) & 0xFF, (bgra >> 8) & 0xFF, bgra & 0xFF);
    }

private:
    RECT area_;
    std::vector<uint32_t> pixels_;
};

// Where the picture of a frameWidth x frameHeight source must be in `tile`: the largest
// rectangle of its shape, centred (worked out here on its own, not by the library's code).
RECT Letterboxed(const RECT& tile, int frameWidth, int frameHeight) {
    const double width = tile.right - tile.left;
    const double height = tile.bottom - tile.top;
    const double scale = std::min(width / frameWidth, height / frameHeight);
    const int pictureWidth = static_cast<int>(frameWidth * scale + 0.5);
    const int pictureHeight = static_cast<int>(frameHeight * scale + 0.5);
    const int left = tile.left + (static_cast<int>(width) - pictureWidth) / 2;
    const int top = tile.top + (static_cast<int>(height) - pictureHeight) / 2;
    return RECT{left, top, left + pictureWidth, top + pictureHeight};
}

// The quadrants at their centres and next to each edge, and the window's colour just
// outside each edge that has a bar.
std::vector<Check> PictureChecks(const RECT& tile, int frameWidth, int frameHeight,
                                 const std::string& name) {
    const RECT p = Letterboxed(tile, frameWidth, frameHeight);
    const int w = p.right - p.left;
    const int h = p.bottom - p.top;
    auto at = [](int x, int y) { return POINT{x, y}; };
    const int left = p.left + w / 4, right = p.left + 3 * w / 4;
    const int top = p.top + h / 4, bottom = p.top + 3 * h / 4;
    std::vector<Check> checks = {
        {at(left, top), kQuadrants[0], name + " top left"},
        {at(right, top), kQuadrants[1], name + " top right"},
        {at(left, bottom), kQuadrants[2], name + " bottom left"},
        {at(right, bottom), kQuadrants[3], name + " bottom right"},
        {at(p.left + kMargin, top), kQuadrants[0], name + " left edge"},
        {at(p.right - 1 - kMargin, top), kQuadrants[1], name + " right edge"},
        {at(left, p.top + kMargin), kQuadrants[0], name + " top edge"},
        {at(left, p.bottom - 1 - kMargin), kQuadrants[2], name + " bottom edge"},
    };
    if (p.left - tile.left > 2 * kMargin) {
        checks.push_back({at(p.left - kMargin, top), kWindowColour, name + " left bar"});
        checks.push_back({at(p.right - 1 + kMargin, top), kWindowColour, name + " right bar"});
    }
    if (p.top - tile.top > 2 * kMargin) {
        checks.push_back({at(left, p.top - kMargin), kWindowColour, name + " top bar"});
        checks.push_back({at(left, p.bottom - 1 + kMargin), kWindowColour, name + " bottom bar"});
    }
    return checks;
}

// Whether every check holds on the screen now (answering the window first); `mismatches`
// says which do not.
bool PixelsHold(HWND window, const std::vector<Check>& checks, std::string& mismatches) {
    Pump();
    RECT area = {};
    GetClientRect(window, &area);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&area), 2);
    ScreenCopy screen(area);
    mismatches.clear();
    for (const Check& check : checks) {
        POINT at = check.at;
        ClientToScreen(window, &at);
        const bool inside = PtInRect(&area, at) != FALSE;
        const COLORREF seen = inside ? screen.At(at) : CLR_INVALID;
        if (!inside || !Near(seen, check.colour)) {
            mismatches += check.what + ": " + (inside ? Text(seen) : "outside") + " instead of " +
                          Text(check.colour) + "\n";
        }
    }
    return mismatches.empty();
}

// Waits until every check holds: the host draws moments after a view has placed it.
bool AwaitPixels(HWND window, const std::vector<Check>& checks, std::string& mismatches) {
    const double end = NowMs() + 15000;
    while (!PixelsHold(window, checks, mismatches) && NowMs() < end) {
        Sleep(20);
    }
    return mismatches.empty();
}

struct Tiles {
    RECT first;   // the left half
    RECT second;  // the top of the right half
};

Tiles Layout(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    const int middle = client.right / 2;
    return Tiles{RECT{20, 20, middle - 10, client.bottom - 20},
                 RECT{middle + 10, 20, client.right - 20, client.bottom / 2}};
}

bool StartHost(HostProcess& host, const char* exe, HWND& window) {
    HostOptions options;
    options.executable = ExeDir() + exe;
    options.libraryFolder = SimDir();
    HostReady ready;
    if (!host.Start(options) || !host.WaitForReady(15000, &ready)) {
        return false;
    }
    window = ready.window;
    return true;
}

TEST(HostViewPixels, TwoViewsShowTheirSourcesShapeThroughAResizeAndAFrameSizeChange) {
    if (!FileExists(ExeDir() + "Tivane.exe") || !FileExists(ExeDir() + "Parlex.exe") ||
        !FileExists(SimDir() + "libomt.dll")) {
        GTEST_SKIP() << "the hosts or the simulated runtimes are not built";
    }
    AppWindow app;
    ASSERT_NE(app.handle, nullptr);
    HostProcess tivane;
    HostProcess parlex;
    HWND tivaneWindow = nullptr;
    HWND parlexWindow = nullptr;
    // The first host window is made before the application's window is shown, the second
    // after: on the screen, the first lies below the application's window, the second above.
    ASSERT_TRUE(StartHost(tivane, "Tivane.exe", tivaneWindow));
    app.Show();
    Pump();
    ASSERT_EQ(GetForegroundWindow(), app.handle) << "the application is not in front";
    ASSERT_TRUE(StartHost(parlex, "Parlex.exe", parlexWindow));
    ASSERT_TRUE(tivane.SetSource("pattern:320x180@30;still"));
    ASSERT_TRUE(parlex.SetSource("pattern:200x300@30, still"));

    HostView first(tivane);
    HostView second(parlex);
    Tiles tiles = Layout(app.handle);
    std::string mismatches;
    ASSERT_TRUE(first.Show(app.handle, tiles.first));
    std::vector<Check> checks = PictureChecks(tiles.first, 320, 180, "16:9");
    EXPECT_TRUE(AwaitPixels(app.handle, checks, mismatches)) << "first alone:\n" << mismatches;

    ASSERT_TRUE(second.Show(app.handle, tiles.second));
    // Wine has no desktop composition: the host window itself, owned by ours.
    const ViewWay expected = RunningUnderWine() ? ViewWay::OwnedWindow : ViewWay::Thumbnail;
    EXPECT_EQ(first.state().way, expected);
    EXPECT_EQ(second.state().way, expected);
    std::vector<Check> more = PictureChecks(tiles.second, 200, 300, "2:3");
    checks.insert(checks.end(), more.begin(), more.end());
    EXPECT_TRUE(AwaitPixels(app.handle, checks, mismatches)) << "both:\n" << mismatches;
    EXPECT_EQ(GetForegroundWindow(), app.handle) << "a host window took the focus";

    // The application window moves: the pictures follow by themselves (a window manager
    // may keep it where it is; the checks follow wherever it is).
    SetWindowPos(app.handle, nullptr, 140, 110, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    Pump();
    checks = PictureChecks(tiles.first, 320, 180, "16:9 moved");
    more = PictureChecks(tiles.second, 200, 300, "2:3 moved");
    checks.insert(checks.end(), more.begin(), more.end());
    EXPECT_TRUE(AwaitPixels(app.handle, checks, mismatches)) << "moved:\n" << mismatches;

    // It changes its size (or keeps the one a window manager gives it) and lays its tiles
    // out again.
    SetWindowPos(app.handle, nullptr, 0, 0, 760, 700, SWP_NOMOVE | SWP_NOZORDER);
    Pump();
    tiles = Layout(app.handle);
    ASSERT_TRUE(first.Show(app.handle, tiles.first));
    ASSERT_TRUE(second.Show(app.handle, tiles.second));
    checks = PictureChecks(tiles.first, 320, 180, "16:9 resized");
    more = PictureChecks(tiles.second, 200, 300, "2:3 resized");
    checks.insert(checks.end(), more.begin(), more.end());
    EXPECT_TRUE(AwaitPixels(app.handle, checks, mismatches)) << "resized:\n" << mismatches;

    // The second source's frames become 3:1. The host window keeps the view's size
    // throughout: it never takes the frame's size, even for a moment.
    ASSERT_TRUE(parlex.SetSource("pattern:360x120@30, still"));
    checks = PictureChecks(tiles.second, 360, 120, "3:1");
    bool tookFrameSize = false;
    const double end = NowMs() + 15000;
    while (!(first.state().frameWidth == 320 && second.state().frameWidth == 360 &&
             PixelsHold(app.handle, checks, mismatches)) &&
           NowMs() < end) {
        RECT rect = {};
        GetWindowRect(parlexWindow, &rect);
        tookFrameSize |= rect.right - rect.left == 360 && rect.bottom - rect.top == 120;
    }
    EXPECT_TRUE(mismatches.empty()) << "3:1:\n" << mismatches;
    EXPECT_FALSE(tookFrameSize);
    checks = PictureChecks(tiles.first, 320, 180, "16:9 beside");
    EXPECT_TRUE(AwaitPixels(app.handle, checks, mismatches)) << mismatches;

    EXPECT_EQ(GetForegroundWindow(), app.handle) << "a host window took the focus";
    std::vector<uint32_t> codes;
    for (const HostResult& ended : HostProcess::EndMany({&tivane, &parlex}, 10000, &codes)) {
        EXPECT_TRUE(ended) << ended.reason;
    }
    EXPECT_EQ(codes, (std::vector<uint32_t>{0, 0}));
}

}  // namespace
