// View figures (not a test), under Wine or Windows:
//   view_bench shape [rounds]    a source's frames change shape under a view: from the
//                                host's frame_size to the host window at its new place, and
//                                to the new shape on the screen; the first stats of the new
//                                size for comparison (what a view without frame_size would
//                                have to wait for); whether the window ever took the frame's
//                                size (a jump)
//   view_bench cpu [seconds]     the CPU time of the controlling application with 4 hosts
//                                receiving 1280x720 at 30 frames a second, shown by 4 views
//                                and not shown, alternately, 3 rounds each
// Prints one line per round, then medians.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

#include "controller_runs.h"
#include "controller_window.h"
#include "host_process.h"
#include "host_view.h"
#include "test_files.h"
#include "timing.h"

namespace {

const COLORREF kWindowColour = RGB(40, 90, 160);

double Median(std::vector<double> values) {
    if (values.empty()) {
        return -1.0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

HWND MakeAppWindow(int width, int height) {
    HWND window = MakeTestWindow(L"ViewBench", L"View bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40,
                                 40, width, height, nullptr, kWindowColour);
    Pump();
    return window;
}

COLORREF ScreenAt(POINT point) {
    HDC screen = GetDC(nullptr);
    COLORREF colour = GetPixel(screen, point.x, point.y);
    ReleaseDC(nullptr, screen);
    return colour;
}

bool Near(COLORREF a, COLORREF b) {
    auto close = [](int x, int y) { return std::abs(x - y) <= 48; };
    return close(GetRValue(a), GetRValue(b)) && close(GetGValue(a), GetGValue(b)) &&
           close(GetBValue(a), GetBValue(b));
}

// The frame_size and stats events of one host, on the library's callback thread, with the
// offset of the event clock (milliseconds since the host's start) to NowMs.
struct Reports {
    std::mutex lock;
    double offsetMs = 1e18;  // the smallest NowMs - receivedMs seen: the event's own moment
    std::vector<HostEvent> events;

    void Take(const HostEvent& event) {
        std::lock_guard<std::mutex> hold(lock);
        offsetMs = std::min(offsetMs, NowMs() - event.receivedMs);
        if (event.type == HostEventType::FrameSize || event.type == HostEventType::Stats) {
            events.push_back(event);
        }
    }
    // When (NowMs) the first report of `type` with this size came after `sinceMs`; -1: none.
    double FirstAt(HostEventType type, int width, int height, double sinceMs) {
        std::lock_guard<std::mutex> hold(lock);
        for (const HostEvent& event : events) {
            const double at = event.receivedMs + offsetMs;
            if (event.type == type && event.width == width && event.height == height &&
                at >= sinceMs) {
                return at;
            }
        }
        return -1.0;
    }
};

struct Shape {
    const char* source;
    int width, height;
};

int ShapeFigures(int rounds) {
    HWND app = MakeAppWindow(700, 520);
    Reports reports;
    HostOptions options;
    options.executable = ExeDir() + "Tivane.exe";
    options.libraryFolder = SimDir();
    options.onEvent = [&reports](const HostEvent& event) { reports.Take(event); };
    HostProcess host;
    HostReady ready;
    if (!host.Start(options) || !host.WaitForReady(30000, &ready)) {
        std::printf("no host\n");
        return 1;
    }
    HostView view(host);
    const RECT tile = {20, 20, 620, 420};  // 600 x 400
    const Shape shapes[] = {{"pattern:320x180@30;still", 320, 180},
                            {"pattern:180x240@30;still", 180, 240}};
    std::vector<double> placed, onScreen, statsLater;
    int jumps = 0;
    host.SetSource(shapes[0].source);
    view.Show(app, tile);
    WaitUntil([&view] { return view.state().frameWidth == 320; }, 20000);
    for (int round = 0; round < rounds; ++round) {
        const Shape& shape = shapes[(round + 1) % 2];
        const double sent = NowMs();
        host.SetSource(std::string(shape.source) + ";tag:" + std::to_string(round));
        // Where the picture must go, worked out as the view does.
        const double scale = std::min(600.0 / shape.width, 400.0 / shape.height);
        const int width = static_cast<int>(shape.width * scale + 0.5);
        const int height = static_cast<int>(shape.height * scale + 0.5);
        POINT origin = {tile.left + (600 - width) / 2, tile.top + (400 - height) / 2};
        ClientToScreen(app, &origin);
        // A point of the bar beside or above the new picture, and one of its top left.
        POINT bar = width < 600 ? POINT{origin.x - 10, origin.y + height / 4}
                                : POINT{origin.x + width / 4, origin.y - 10};
        POINT picture = {origin.x + width / 4, origin.y + height / 4};
        double placedAt = -1.0, shownAt = -1.0;
        bool jumped = false;
        while (NowMs() - sent < 10000 && shownAt < 0) {
            Pump();
            RECT rect = {};
            GetWindowRect(ready.window, &rect);
            jumped |=
                rect.right - rect.left == shape.width && rect.bottom - rect.top == shape.height;
            if (placedAt < 0 && rect.left == origin.x && rect.top == origin.y &&
                rect.right - rect.left == width && rect.bottom - rect.top == height) {
                placedAt = NowMs();
            }
            if (placedAt >= 0 && Near(ScreenAt(bar), kWindowColour) &&
                Near(ScreenAt(picture), RGB(255, 0, 0))) {
                shownAt = NowMs();
            }
        }
        Sleep(1500);  // the first stats of the new size
        const double told =
            reports.FirstAt(HostEventType::FrameSize, shape.width, shape.height, sent);
        const double stats = reports.FirstAt(HostEventType::Stats, shape.width, shape.height, sent);
        std::printf(
            "round %d %dx%d: frame_size -> placed %.1f ms, -> on screen %.1f ms, "
            "-> first stats %.1f ms%s\n",
            round, shape.width, shape.height, placedAt - told, shownAt - told, stats - told,
            jumped ? ", the window took the frame's size" : "");
        std::fflush(stdout);
        if (told > 0 && placedAt > 0 && shownAt > 0) {
            placed.push_back(placedAt - told);
            onScreen.push_back(shownAt - told);
        }
        if (told > 0 && stats > 0) {
            statsLater.push_back(stats - told);
        }
        jumps += jumped ? 1 : 0;
    }
    std::printf(
        "\nmedians of %zu rounds: frame_size -> host window placed %.1f ms, -> new shape "
        "on the screen %.1f ms; first stats of the new size %.1f ms after frame_size; "
        "the window took the frame's size in %d of %d rounds\n",
        placed.size(), Median(placed), Median(onScreen), Median(statsLater), jumps, rounds);
    view.Close();
    host.End(20000);
    return 0;
}

double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME& time) {
        return static_cast<double>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                   time.dwLowDateTime) /
               10000.0;
    };
    return ms(kernel) + ms(user);
}

// The application's CPU per second of wall time while `seconds` pass with its window
// answered, in percent of one core.
double CpuPercent(double seconds) {
    const double cpuBefore = ProcessCpuMs();
    const double begin = NowMs();
    while (NowMs() - begin < seconds * 1000) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        Pump();
    }
    return (ProcessCpuMs() - cpuBefore) * 100.0 / (NowMs() - begin);
}

int CpuFigures(double seconds) {
    HWND app = MakeAppWindow(1300, 780);
    std::vector<std::unique_ptr<HostProcess>> hosts;
    for (int i = 0; i < 4; ++i) {
        HostOptions options;
        options.executable = ExeDir() + (i % 2 ? "Parlex.exe" : "Tivane.exe");
        options.libraryFolder = SimDir();
        hosts.push_back(std::make_unique<HostProcess>());
        if (!hosts.back()->Start(options) || !hosts.back()->WaitForReady(30000) ||
            !hosts.back()->SetSource(i % 2 ? "pattern:1280x720@30, tag:" + std::to_string(i)
                                           : "pattern:1280x720@30;tag:" + std::to_string(i))) {
            std::printf("host %d did not start\n", i);
            return 1;
        }
    }
    std::vector<std::unique_ptr<HostView>> views;
    for (auto& host : hosts) {
        views.push_back(std::make_unique<HostView>(*host));
    }
    CpuPercent(3);  // every host past its first frames
    std::vector<double> with, without;
    for (int round = 0; round < 3; ++round) {
        for (bool shown : {false, true}) {
            for (size_t i = 0; i < views.size(); ++i) {
                const RECT tile = {static_cast<LONG>(10 + (i % 2) * 640),
                                   static_cast<LONG>(10 + (i / 2) * 370),
                                   static_cast<LONG>(10 + (i % 2) * 640 + 630),
                                   static_cast<LONG>(10 + (i / 2) * 370 + 360)};
                if (shown) {
                    views[i]->Show(app, tile);
                } else {
                    views[i]->Close();
                }
            }
            CpuPercent(1);  // settled
            const double percent = CpuPercent(seconds);
            std::printf("round %d, %s: %.2f %% of a core\n", round, shown ? "4 views" : "no view",
                        percent);
            std::fflush(stdout);
            (shown ? with : without).push_back(percent);
        }
    }
    std::printf(
        "\nmedians: the application with 4 views %.2f %%, without views %.2f %% of a core "
        "(4 hosts receiving 1280x720 at 30 frames a second)\n",
        Median(with), Median(without));
    views.clear();
    std::vector<HostProcess*> all;
    for (auto& host : hosts) {
        all.push_back(host.get());
    }
    HostProcess::EndMany(all, 20000);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "shape") {
        return ShapeFigures(argc > 2 ? std::atoi(argv[2]) : 10);
    }
    if (mode == "cpu") {
        return CpuFigures(argc > 2 ? std::atof(argv[2]) : 10.0);
    }
    std::printf("usage: view_bench shape [rounds] | cpu [seconds]\n");
    return 2;
}
