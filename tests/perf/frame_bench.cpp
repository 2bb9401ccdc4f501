// Frame-path figures, in process, with the hosts' own pieces (FrameSlot, FramePresenter,
// NdiReceiver on the simulated runtime). Not a test: it prints one `key value` line per
// figure for scripts/bench, which runs it several times and takes medians.
//
//   frame_bench handoff            worker copy into the slot vs memcpy, 720p/1080p/2160p
//   frame_bench upload             UploadFrame + Render vs memcpy, same sizes
//   frame_bench pipeline [s] [src] simulated source -> slot -> Present: fps and latency
//
// Threads: the main thread plays the host's main thread; in `pipeline` the receiver's
// worker stores frames exactly as Tivane's FrameCallback does.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>

#include "frame_presenter.h"
#include "frame_slot.h"
#include "host_kind.h"
#include "host_window.h"
#include "ndi_receiver.h"

namespace {

struct Size {
    const char* name;
    int width;
    int height;
};
const Size kSizes[] = {{"720p", 1280, 720}, {"1080p", 1920, 1080}, {"2160p", 3840, 2160}};

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    size_t index = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

// Frame notifications are dropped; everything else is dispatched, so that WM_PAINT is
// validated instead of coming back for ever.
void DrainMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != kFrameNotification) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

std::vector<unsigned char> Pattern(size_t bytes, unsigned seed) {
    std::vector<unsigned char> data(bytes);
    for (size_t i = 0; i < bytes; ++i) {
        data[i] = static_cast<unsigned char>(i * 7 + seed);
    }
    return data;
}

// Alternates two source frames (as a receiver's fresh buffers would), so neither side
// copies the same cache-resident bytes twice in a row.
template <typename Step>
double MicrosPerFrame(int frames, Step step) {
    double start = Now();
    for (int i = 0; i < frames; ++i) {
        step(i);
    }
    return (Now() - start) * 1e6 / frames;
}

int FramesFor(const Size& size) {
    return size.width >= 3840 ? 10 : 30;
}

// Each figure: the median over `rounds` of a batch; memcpy and the measured step alternate
// per round so that both see the same machine load.
void Handoff(HWND window, int rounds) {
    for (const Size& size : kSizes) {
        const size_t bytes = static_cast<size_t>(size.width) * 4 * size.height;
        std::vector<unsigned char> sources[2] = {Pattern(bytes, 1), Pattern(bytes, 2)};
        std::vector<unsigned char> target(bytes);
        FrameSlot slot;
        FramePresenter none;  // never initialised: DrawPendingFrame only takes the frame
        std::vector<double> copy;
        std::vector<double> store;
        const int frames = FramesFor(size);
        for (int round = 0; round < rounds; ++round) {
            copy.push_back(MicrosPerFrame(
                frames, [&](int i) { std::memcpy(target.data(), sources[i & 1].data(), bytes); }));
            store.push_back(MicrosPerFrame(frames, [&](int i) {
                StoreFrame(slot, window, sources[i & 1].data(), size.width, size.height,
                           size.width * 4);
            }));
            DrawPendingFrame(slot, none);
            DrainMessages();
        }
        double c = Median(copy);
        double s = Median(store);
        std::printf("handoff_%s_memcpy_us %.1f\nhandoff_%s_store_us %.1f\nhandoff_%s_ratio %.3f\n",
                    size.name, c, size.name, s, size.name, s / c);
    }
}

void Upload(HWND window, int rounds) {
    FramePresenter presenter;
    if (!presenter.Initialize(window)) {
        std::printf("upload_error presenter\n");
        return;
    }
    DrainMessages();
    for (const Size& size : kSizes) {
        const size_t bytes = static_cast<size_t>(size.width) * 4 * size.height;
        std::vector<unsigned char> sources[2] = {Pattern(bytes, 3), Pattern(bytes, 4)};
        std::vector<unsigned char> target(bytes);
        presenter.UploadFrame(sources[0].data(), size.width, size.height, size.width * 4);
        presenter.Render();  // the size change happens outside the measurement
        DrainMessages();
        std::vector<double> copy;
        std::vector<double> draw;
        const int frames = FramesFor(size) / 2;
        for (int round = 0; round < rounds; ++round) {
            copy.push_back(MicrosPerFrame(
                frames, [&](int i) { std::memcpy(target.data(), sources[i & 1].data(), bytes); }));
            draw.push_back(MicrosPerFrame(frames, [&](int i) {
                if (presenter.UploadFrame(sources[i & 1].data(), size.width, size.height,
                                          size.width * 4)) {
                    presenter.Render();
                }
                DrainMessages();  // as the host's loop would between frames
            }));
            DrainMessages();
        }
        double c = Median(copy);
        double d = Median(draw);
        std::printf("upload_%s_memcpy_us %.1f\nupload_%s_draw_us %.1f\nupload_%s_ratio %.3f\n",
                    size.name, c, size.name, d, size.name, d / c);
    }
}

// The frame the main thread is drawing; valid during Present on the main thread.
const unsigned char* DrawnPixels(const FrameSlot& slot) {
    return slot.drawPixels.get();
}

// The bench build's present counter: a presenter that timestamps every Present and reads
// the simulator's frame number (first pixel) from the frame it has just drawn.
class TimedPresenter : public FramePresenter {
public:
    explicit TimedPresenter(const FrameSlot& slot) : slot_(slot) {}
    int presents = 0;
    std::vector<double> latencies;
    double* producedAt = nullptr;  // indexed by frame number modulo kRing
    static constexpr long kRing = 1 << 16;

protected:
    void Present() override {
        FramePresenter::Present();
        double now = Now();
        ++presents;
        const unsigned char* drawn = DrawnPixels(slot_);
        if (drawn != nullptr) {
            long frame = drawn[0] | (drawn[1] << 8) | (drawn[2] << 16);
            double produced = producedAt[frame % kRing];
            if (produced > 0.0) {
                latencies.push_back((now - produced) * 1000.0);
            }
        }
    }

private:
    const FrameSlot& slot_;
};

std::string SimDir() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, length);
    dir.resize(dir.find_last_of("\\/") + 1);
    return dir + "..\\sim\\";
}

void Pipeline(HWND window, int seconds, const std::string& source) {
    char path[32768];
    GetEnvironmentVariableA("PATH", path, sizeof path);
    SetEnvironmentVariableA("PATH", (SimDir() + ";" + path).c_str());
    NdiReceiver receiver;
    if (!receiver.Initialize()) {
        std::printf("pipeline_error runtime\n");
        return;
    }
    FrameSlot slot;
    TimedPresenter presenter(slot);
    if (!presenter.Initialize(window)) {
        std::printf("pipeline_error presenter\n");
        return;
    }
    std::vector<double> produced(TimedPresenter::kRing, 0.0);
    presenter.producedAt = produced.data();
    std::atomic<long> received{0};
    std::atomic<double> measureFrom{0.0};
    receiver.SetFrameCallback([&](const unsigned char* pixels, int width, int height, int stride) {
        double now = Now();
        long frame = pixels[0] | (pixels[1] << 8) | (pixels[2] << 16);
        produced[frame % TimedPresenter::kRing] = now;
        if (measureFrom.load() > 0.0 && now >= measureFrom.load()) {
            ++received;
        }
        StoreFrame(slot, window, pixels, width, height, stride);
    });
    std::vector<float> workerFps;
    CriticalSection statsLock;
    receiver.SetStatsCallback([&](float fps, int, int) {
        ScopedLock lock(statsLock);
        workerFps.push_back(fps);
    });
    receiver.Start(source, 100);
    // Warm-up: connection, first size change, first allocations.
    const double warmUp = 1.5;
    double start = Now();
    measureFrom.store(start + warmUp);
    int presentsAtStart = 0;
    bool measuring = false;
    double end = start + warmUp + seconds;
    SetTimer(window, 1, 100, nullptr);  // the loop wakes even when no frame comes
    MSG message;
    while (Now() < end && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (!measuring && Now() >= start + warmUp) {
            measuring = true;
            presentsAtStart = presenter.presents;
            presenter.latencies.clear();
        }
        if (message.message == kFrameNotification) {
            DrawPendingFrame(slot, presenter);
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    KillTimer(window, 1);
    receiver.Stop();
    double span = Now() - (start + warmUp);
    std::printf("pipeline_present_fps %.2f\n", (presenter.presents - presentsAtStart) / span);
    std::printf("pipeline_worker_fps %.2f\n", received.load() / span);
    std::printf("pipeline_latency_median_ms %.2f\n", Median(presenter.latencies));
    std::printf("pipeline_latency_p99_ms %.2f\n", Percentile(presenter.latencies, 0.99));
    FreeFramePixels(slot);
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // figures reach the script as they come
    std::string mode = argc > 1 ? argv[1] : "handoff";
    HWND window = nullptr;
    if (!CreateHostWindow(GetModuleHandleW(nullptr), TraitsOf(HostKind::Tivane), 320, 180,
                          window)) {
        std::printf("error window\n");
        return 1;
    }
    if (mode == "handoff") {
        Handoff(window, argc > 2 ? std::atoi(argv[2]) : 5);
    } else if (mode == "upload") {
        Upload(window, argc > 2 ? std::atoi(argv[2]) : 5);
    } else if (mode == "pipeline") {
        Pipeline(window, argc > 2 ? std::atoi(argv[2]) : 5,
                 argc > 3 ? argv[3] : "pattern:1920x1080@60");
    } else {
        std::printf("usage: frame_bench handoff|upload|pipeline [rounds|seconds] [source]\n");
    }
    DestroyHostWindow(window);
    std::fflush(stdout);
    return 0;
}
