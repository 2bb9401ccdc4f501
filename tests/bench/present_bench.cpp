// Benchmark of the CPU-frame path on a real window and device: the worker's copy into the
// frame slot (StoreFrame) and the main thread's UploadFrame + Render, each against a plain
// memcpy of the same bytes in the same run, and the frame rate the whole path sustains
// with a worker that delivers as fast as it can. Prints figures; asserts nothing.
//
//   present_bench [--seconds=N]     (run under Wine with scripts/wine-run)
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include <windows.h>

#include "frame_presenter.h"
#include "frame_slot.h"
#include "host_kind.h"
#include "host_window.h"

namespace {

class CountingPresenter : public FramePresenter {
public:
    std::atomic<int> presents{0};

protected:
    void Present() override {
        ++presents;
        FramePresenter::Present();
    }
};

double TicksPerMs() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) / 1000.0;
}

double NowMs() {
    static const double ticksPerMs = TicksPerMs();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / ticksPerMs;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Dispatches what the window needs and takes frame notifications out without drawing.
void DrainMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != kFrameNotification) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

struct Source {
    int width;
    int height;
    int frames;  // timed copies of each kind; twice as many draws
};

// A few distinct frames, so that the copies do not all come from a warm cache.
std::vector<std::vector<unsigned char>> MakeFrames(const Source& source, int count) {
    const size_t bytes = static_cast<size_t>(source.width) * source.height * 4;
    std::vector<std::vector<unsigned char>> frames(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        frames[i].resize(bytes);
        for (size_t b = 0; b < bytes; ++b) {
            frames[i][b] = static_cast<unsigned char>(b * 7 + i * 53);
        }
    }
    return frames;
}

struct Figures {
    double memcpyMs;
    double storeMs;
    double postMs;
    double drawMs;
    double drawnFps;
    double deliveredFps;
};

// Median per-frame costs, measured one after the other on the main thread.
void MeasureSteps(const Source& source, const std::vector<std::vector<unsigned char>>& frames,
                  HWND window, FramePresenter& presenter, Figures& figures) {
    const int stride = source.width * 4;
    const size_t bytes = frames[0].size();
    std::vector<unsigned char> target(bytes);
    FrameSlot slot;
    StoreFrame(slot, window, frames[0].data(), source.width, source.height, stride);
    DrawPendingFrame(slot, presenter);  // texture, swap chain and window take the size
    DrainMessages();

    // Each copy is timed right after a draw, alternating memcpy and StoreFrame, so that
    // both meet the same cache state; the draw is timed every time.
    std::vector<double> copy, store, draw, post;
    unsigned checksum = 0;
    for (int i = 0; i < 2 * source.frames; ++i) {
        const unsigned char* pixels = frames[static_cast<size_t>(i) % frames.size()].data();
        double start = NowMs();
        if (i % 2 == 0) {
            std::memcpy(target.data(), pixels, bytes);
            copy.push_back(NowMs() - start);
            checksum += target[static_cast<size_t>(i) % bytes];
            // The notification alone: under Wine a call into the server, whose cost
            // grows with the load the draws leave behind.
            start = NowMs();
            PostMessageW(window, kFrameNotification, 0, 0);
            post.push_back(NowMs() - start);
            StoreFrame(slot, window, pixels, source.width, source.height, stride);
        } else {
            StoreFrame(slot, window, pixels, source.width, source.height, stride);
            store.push_back(NowMs() - start);
        }
        start = NowMs();
        DrawPendingFrame(slot, presenter);
        draw.push_back(NowMs() - start);
        DrainMessages();
    }
    figures.memcpyMs = Median(copy);
    figures.postMs = Median(post);
    figures.storeMs = Median(store);
    figures.drawMs = Median(draw);
    if (checksum == 0xFFFFFFFFu) {
        std::printf(" ");  // keeps the copies observable
    }
}

// The whole path: a worker storing frames without pause, the main loop drawing the
// newest one on each notification, for `seconds`.
void MeasureSustained(const Source& source, const std::vector<std::vector<unsigned char>>& frames,
                      HWND window, CountingPresenter& presenter, double seconds, Figures& figures) {
    FrameSlot slot;
    std::atomic<bool> running{true};
    std::atomic<int> delivered{0};
    const int stride = source.width * 4;
    const int presentsBefore = presenter.presents;
    const double start = NowMs();
    std::thread worker([&] {
        for (size_t i = 0; running; ++i) {
            StoreFrame(slot, window, frames[i % frames.size()].data(), source.width, source.height,
                       stride);
            ++delivered;
            SwitchToThread();  // a receiver hands over between frames too
        }
    });
    const double endMs = start + seconds * 1000.0;
    while (NowMs() < endMs) {
        MSG message;
        if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            continue;
        }
        if (message.message == kFrameNotification) {
            DrawPendingFrame(slot, presenter);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    const double elapsedS = (NowMs() - start) / 1000.0;
    running = false;
    worker.join();
    DrainMessages();
    figures.drawnFps = (presenter.presents - presentsBefore) / elapsedS;
    figures.deliveredFps = delivered / elapsedS;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 3.0;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0) {
            seconds = std::max(0.5, std::atof(argv[i] + 10));
        }
    }
    static const HostTraits kTraits{"PresentBench", L"PresentBenchWindowClass", L"PresentBench",
                                    "--source=", true};
    HWND window = nullptr;
    if (!CreateHostWindow(GetModuleHandleW(nullptr), kTraits, 320, 180, window)) {
        std::fprintf(stderr, "no window\n");
        return 1;
    }
    int result = 0;
    {
        CountingPresenter presenter;
        if (!presenter.Initialize(window)) {
            std::fprintf(stderr, "no Direct3D 11 device\n");
            result = 1;
        } else {
            const Source sources[] = {{1280, 720, 60}, {1920, 1080, 40}, {3840, 2160, 16}};
            std::printf("%-10s %7s %10s %18s %9s %22s %10s %14s\n", "frame", "frames", "memcpy ms",
                        "StoreFrame ms (x)", "post ms", "Upload+Render ms (x)", "drawn fps",
                        "delivered fps");
            for (const Source& source : sources) {
                const auto frames = MakeFrames(source, 3);
                Figures figures = {};
                MeasureSteps(source, frames, window, presenter, figures);
                MeasureSustained(source, frames, window, presenter, seconds, figures);
                char size[32];
                std::snprintf(size, sizeof size, "%dx%d", source.width, source.height);
                std::printf("%-10s %7d %10.3f %10.3f (%5.2f) %9.3f %14.3f (%5.2f) %10.1f %14.1f\n",
                            size, source.frames, figures.memcpyMs, figures.storeMs,
                            figures.storeMs / figures.memcpyMs, figures.postMs, figures.drawMs,
                            figures.drawMs / figures.memcpyMs, figures.drawnFps,
                            figures.deliveredFps);
                std::fflush(stdout);
            }
        }
    }
    DestroyHostWindow(window);
    return result;
}
