// Frame-path figures, in process, with the hosts' own pieces (FrameSlot, FramePresenter,
// NdiReceiver on the simulated runtime). Not a test: it prints one `key value` line per
// figure for scripts/bench, which runs it several times and takes medians.
//
//   frame_bench handoff            worker copy into the slot vs memcpy, 720p/1080p/2160p:
//                                  a frame that replaces a pending one, and a first frame
//   frame_bench upload             UploadFrame + Render vs memcpy, same sizes
//   frame_bench pipeline [s] [src] simulated source -> slot -> Present: fps, frame
//                                  notifications and latency; then a bare Direct3D 11 loop
//                                  at the same size on the same window, as the baseline
//   frame_bench path [s] [src]     simulated source -> slot -> a texture the draw can
//                                  sample: the worker's store and the main thread's take
//                                  (Present left out) per frame, against a memcpy of the
//                                  same library frame; CPU per received frame
//
// Threads: the main thread plays the host's main thread; in `pipeline` and `path` the
// receiver's worker stores frames exactly as Tivane's FrameCallback does.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>

#include <d3d11.h>
#include <d3dcompiler.h>
#include <wrl/client.h>

#include "frame_presenter.h"
#include "frame_slot.h"
#include "host_kind.h"
#include "host_window.h"
#include "ndi_receiver.h"

namespace {

using Microsoft::WRL::ComPtr;

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

// Frame notifications waiting in this thread's queue, removed and counted.
long DrainNotifications() {
    MSG message;
    long count = 0;
    while (PeekMessageW(&message, nullptr, kFrameNotification, kFrameNotification, PM_REMOVE)) {
        ++count;
    }
    return count;
}

// The frames of one hand-off measurement: the slot, two source frames and a memcpy target.
struct HandoffCase {
    HandoffCase(const Size& s, HWND w)
        : size(s),
          window(w),
          bytes(static_cast<size_t>(s.width) * 4 * s.height),
          sources{Pattern(bytes, 1), Pattern(bytes, 2)},
          target(bytes) {}
    void Store(int i) {
        StoreFrame(slot, window, sources[i & 1].data(), size.width, size.height, size.width * 4);
    }
    // The main thread's side: takes the pending frame out, draws it and empties the queue.
    void Take() {
        DrawPendingFrame(slot, presenter);
        DrainMessages();
    }
    const Size& size;
    HWND window;
    size_t bytes;
    std::vector<unsigned char> sources[2];
    std::vector<unsigned char> target;
    FrameSlot slot;
    FramePresenter presenter;  // the host's, so that the slot works as in a host
};

double MicrosOf(const std::function<void()>& step) {
    double start = Now();
    step();
    return (Now() - start) * 1e6;
}

// Each frame is timed on its own, and the three cases take turns frame by frame, so that
// all meet the same load; a figure is the median over every frame of every round, which
// leaves out the frames a busy machine preempted. Per frame: memcpy into a warm block;
// StoreFrame into an empty slot (the first frame: it posts the notification); StoreFrame
// of the next frame while that one is pending (it replaces it and posts nothing); then,
// untimed, the main thread's side takes the frame out and draws it.
void Handoff(HWND window, int rounds) {
    for (const Size& size : kSizes) {
        HandoffCase c(size, window);
        if (!c.presenter.Initialize(window)) {
            std::printf("handoff_error presenter\n");
            return;
        }
        for (int i = 0; i < 2; ++i) {  // whatever the slot allocates for this size, first
            c.Store(i);
            c.Take();
        }
        std::vector<double> copy;
        std::vector<double> first;
        std::vector<double> replace;
        const int frames = rounds * FramesFor(size);
        for (int i = 0; i < frames; ++i) {
            copy.push_back(
                MicrosOf([&] { std::memcpy(c.target.data(), c.sources[i & 1].data(), c.bytes); }));
            first.push_back(MicrosOf([&] { c.Store(i); }));
            replace.push_back(MicrosOf([&] { c.Store(i + 1); }));
            c.Take();
        }
        double m = Median(copy);
        double f = Median(first);
        double r = Median(replace);
        std::printf("handoff_%s_memcpy_us %.1f\n", size.name, m);
        std::printf("handoff_%s_first_us %.1f\nhandoff_%s_first_ratio %.3f\n", size.name, f,
                    size.name, f / m);
        std::printf("handoff_%s_replace_us %.1f\nhandoff_%s_replace_ratio %.3f\n", size.name, r,
                    size.name, r / m);
        FreeFramePixels(c.slot);
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

// The simulator's frame number, which it writes into the first pixel.
long FrameNumber(const unsigned char* pixels) {
    return pixels[0] | (pixels[1] << 8) | (pixels[2] << 16);
}

// The bench build's present counter: a presenter that counts and times every Present and
// timestamps it for the frame the loop is drawing (`drawing`: the newest frame stored
// when the loop took its notification; one stored between that moment and the take makes
// a latency up to a frame too long, rarely).
class TimedPresenter : public FramePresenter {
public:
    int presents = 0;
    double presentSeconds = 0.0;  // spent inside Present
    std::vector<double> latencies;
    double* producedAt = nullptr;  // indexed by frame number modulo kRing
    long drawing = -1;
    static constexpr long kRing = 1 << 16;

protected:
    void Present() override {
        const double start = Now();
        FramePresenter::Present();
        const double now = Now();
        presentSeconds += now - start;
        ++presents;
        if (producedAt != nullptr && drawing >= 0) {
            double produced = producedAt[drawing % kRing];
            if (produced > 0.0) {
                latencies.push_back((now - produced) * 1000.0);
            }
        }
    }
};

std::string SimDir() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, length);
    dir.resize(dir.find_last_of("\\/") + 1);
    return dir + "..\\sim\\";
}

// The NdiReceiver finds the simulated runtime first.
void UseSimulatedRuntime() {
    char path[32768];
    GetEnvironmentVariableA("PATH", path, sizeof path);
    SetEnvironmentVariableA("PATH", (SimDir() + ";" + path).c_str());
}

// The size and rate a `pattern:WxH@R` source asks for; false for any other source.
bool ParsePattern(const std::string& source, int& width, int& height, int& rate) {
    const std::string prefix = "pattern:";
    const size_t at = source.find(prefix);
    if (at == std::string::npos) {
        return false;
    }
    const char* text = source.c_str() + at + prefix.size();
    char* next = nullptr;
    width = static_cast<int>(std::strtol(text, &next, 10));
    if (*next != 'x') {
        return false;
    }
    height = static_cast<int>(std::strtol(next + 1, &next, 10));
    if (*next != '@') {
        return false;
    }
    rate = static_cast<int>(std::strtol(next + 1, &next, 10));
    return width > 0 && height > 0 && rate > 0;
}

// What the host-style loop saw over the measured span.
struct PathFigures {
    double seconds = 0.0;
    int presents = 0;
    long received = 0;  // frames the worker stored
    long taken = 0;     // frame notifications the loop took that were posted in the span
    long waiting = 0;   // frame notifications still queued at the end
    std::vector<double> latencies;
    double presentSeconds = 0.0;  // spent inside Present
    double takeSeconds = 0.0;     // spent in DrawPendingFrame, Present included
};

// The host-style message loop over a warm-up and the measured span. Notifications are
// counted as the loop takes them; the warm-up's backlog is removed at the start of the
// span and the backlog left at its end is counted, so that taken + waiting is every
// notification posted during the span (within the frame or two that straddle either end).
void MeasureLoop(HWND window, FrameSlot& slot, TimedPresenter& presenter,
                 const std::atomic<long>& received, const std::atomic<long>& newest, int seconds,
                 PathFigures& figures) {
    const double warmUp = 1.5;  // connection, first size change, first allocations
    const double start = Now();
    const double end = start + warmUp + seconds;
    double from = 0.0;
    int presentsFrom = 0;
    long receivedFrom = 0;
    bool measuring = false;
    MSG message;
    while (Now() < end && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == kFrameNotification) {
            presenter.drawing = newest.load();
            const double taking = Now();
            DrawPendingFrame(slot, presenter);
            figures.takeSeconds += measuring ? Now() - taking : 0.0;
            figures.taken += measuring ? 1 : 0;
        } else {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (!measuring && Now() >= start + warmUp) {
            measuring = true;
            // The warm-up's backlog shrinks to the one notification the loop still owes a
            // take; it is taken in the span but was not posted in it.
            if (DrainNotifications() > 0 && PostMessageW(window, kFrameNotification, 0, 0)) {
                figures.taken = -1;
            }
            from = Now();
            presentsFrom = presenter.presents;
            receivedFrom = received.load();
            presenter.latencies.clear();
            presenter.presentSeconds = 0.0;
        }
    }
    figures.seconds = Now() - from;
    figures.presents = presenter.presents - presentsFrom;
    figures.received = received.load() - receivedFrom;
    figures.waiting = DrainNotifications();
    figures.latencies = presenter.latencies;
    figures.presentSeconds = presenter.presentSeconds;
}

// The host's whole path: simulated source -> NdiReceiver -> StoreFrame -> a host-style
// message loop -> DrawPendingFrame -> Present.
bool RunHostPath(HWND window, int seconds, const std::string& source, PathFigures& figures) {
    auto receiver = NdiReceiver::Create();
    if (!receiver->Initialize()) {
        std::printf("pipeline_error runtime\n");
        return false;
    }
    FrameSlot slot;
    TimedPresenter presenter;
    if (!presenter.Initialize(window)) {
        std::printf("pipeline_error presenter\n");
        return false;
    }
    std::vector<double> produced(TimedPresenter::kRing, 0.0);
    presenter.producedAt = produced.data();
    std::atomic<long> received{0};
    std::atomic<long> newest{-1};
    receiver->SetFrameCallback([&](const unsigned char* pixels, int width, int height, int stride) {
        const long frame = FrameNumber(pixels);
        produced[frame % TimedPresenter::kRing] = Now();
        ++received;
        StoreFrame(slot, window, pixels, width, height, stride);
        newest = frame;
    });
    receiver->Start(source, 100);
    SetTimer(window, 1, 100, nullptr);  // the loop wakes even when no frame comes
    MeasureLoop(window, slot, presenter, received, newest, seconds, figures);
    KillTimer(window, 1);
    receiver->Stop();
    FreeFramePixels(slot);
    return true;
}

// The limit of this platform: nothing but a dynamic texture's map (discard), one copy,
// unmap, one draw and a present, at the frame's size on a window of the host's kind, with
// the same swap chain and shaders as the host's presenter. State is bound once.
class BareLoop {
public:
    BareLoop() = default;
    BareLoop(const BareLoop&) = delete;
    BareLoop& operator=(const BareLoop&) = delete;
    // Unbinds what the context holds, so that the swap chain goes with its references.
    ~BareLoop() {
        if (context_) {
            context_->ClearState();
            context_->Flush();
        }
    }

    bool Initialize(HWND window, int width, int height) {
        width_ = width;
        height_ = height;
        return CreateSwapChain(window) && CreateTexture() && CreatePipeline();
    }

    void Frame(const unsigned char* pixels) {
        D3D11_MAPPED_SUBRESOURCE mapped = {};
        if (FAILED(context_->Map(texture_.Get(), 0, D3D11_MAP_WRITE_DISCARD, 0, &mapped))) {
            return;
        }
        const size_t rowBytes = static_cast<size_t>(width_) * 4;
        auto* target = static_cast<unsigned char*>(mapped.pData);
        if (mapped.RowPitch == rowBytes) {
            std::memcpy(target, pixels, rowBytes * static_cast<size_t>(height_));
        } else {
            for (int row = 0; row < height_; ++row) {
                std::memcpy(target + static_cast<size_t>(row) * mapped.RowPitch,
                            pixels + static_cast<size_t>(row) * rowBytes, rowBytes);
            }
        }
        context_->Unmap(texture_.Get(), 0);
        context_->Draw(3, 0);
        swapChain_->Present(0, 0);
    }

private:
    bool CreateSwapChain(HWND window) {
        DXGI_SWAP_CHAIN_DESC desc = {};
        desc.BufferDesc.Width = static_cast<UINT>(width_);
        desc.BufferDesc.Height = static_cast<UINT>(height_);
        desc.BufferDesc.RefreshRate = {0, 1};
        desc.BufferDesc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        desc.SampleDesc = {1, 0};
        desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
        desc.BufferCount = 1;
        desc.OutputWindow = window;
        desc.Windowed = TRUE;
        desc.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
        const D3D_FEATURE_LEVEL level = D3D_FEATURE_LEVEL_11_0;
        ComPtr<ID3D11Texture2D> backBuffer;
        return SUCCEEDED(D3D11CreateDeviceAndSwapChain(
                   nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, 0, &level, 1, D3D11_SDK_VERSION,
                   &desc, &swapChain_, &device_, nullptr, &context_)) &&
               SUCCEEDED(swapChain_->GetBuffer(0, IID_PPV_ARGS(&backBuffer))) &&
               SUCCEEDED(device_->CreateRenderTargetView(backBuffer.Get(), nullptr, &target_));
    }

    bool CreateTexture() {
        const D3D11_TEXTURE2D_DESC desc = FrameTextureDesc(width_, height_);
        return SUCCEEDED(device_->CreateTexture2D(&desc, nullptr, &texture_)) &&
               SUCCEEDED(device_->CreateShaderResourceView(texture_.Get(), nullptr, &view_));
    }

    static ComPtr<ID3DBlob> Compile(const char* source, const char* target) {
        ComPtr<ID3DBlob> code;
        if (FAILED(D3DCompile(source, std::strlen(source), nullptr, nullptr, nullptr, "main",
                              target, 0, 0, &code, nullptr))) {
            return nullptr;
        }
        return code;
    }

    // A fullscreen triangle sampling the texture, bound once for the whole loop.
    bool CreatePipeline() {
        ComPtr<ID3DBlob> vertex = Compile(
            "void main(uint id : SV_VertexID, out float4 pos : SV_Position,"
            "          out float2 uv : TEXCOORD0) {"
            "    uv = float2((id << 1) & 2, id & 2);"
            "    pos = float4(uv * float2(2, -2) + float2(-1, 1), 0, 1); }",
            "vs_5_0");
        ComPtr<ID3DBlob> pixel = Compile(
            "Texture2D tex : register(t0); SamplerState samp : register(s0);"
            "float4 main(float4 pos : SV_Position, float2 uv : TEXCOORD0) : SV_Target {"
            "    return tex.Sample(samp, uv); }",
            "ps_5_0");
        D3D11_SAMPLER_DESC sampler = {};
        sampler.Filter = D3D11_FILTER_MIN_MAG_MIP_LINEAR;
        sampler.AddressU = D3D11_TEXTURE_ADDRESS_CLAMP;
        sampler.AddressV = D3D11_TEXTURE_ADDRESS_CLAMP;
        sampler.AddressW = D3D11_TEXTURE_ADDRESS_CLAMP;
        sampler.ComparisonFunc = D3D11_COMPARISON_NEVER;
        sampler.MaxLOD = D3D11_FLOAT32_MAX;
        if (!vertex || !pixel ||
            FAILED(device_->CreateVertexShader(vertex->GetBufferPointer(), vertex->GetBufferSize(),
                                               nullptr, &vs_)) ||
            FAILED(device_->CreatePixelShader(pixel->GetBufferPointer(), pixel->GetBufferSize(),
                                              nullptr, &ps_)) ||
            FAILED(device_->CreateSamplerState(&sampler, &sampler_))) {
            return false;
        }
        ID3D11RenderTargetView* target = target_.Get();
        context_->OMSetRenderTargets(1, &target, nullptr);
        D3D11_VIEWPORT viewport = {
            0.0f, 0.0f, static_cast<float>(width_), static_cast<float>(height_), 0.0f, 1.0f};
        context_->RSSetViewports(1, &viewport);
        context_->VSSetShader(vs_.Get(), nullptr, 0);
        context_->PSSetShader(ps_.Get(), nullptr, 0);
        ID3D11ShaderResourceView* view = view_.Get();
        context_->PSSetShaderResources(0, 1, &view);
        ID3D11SamplerState* samplerState = sampler_.Get();
        context_->PSSetSamplers(0, 1, &samplerState);
        context_->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
        return true;
    }

    int width_ = 0;
    int height_ = 0;
    ComPtr<ID3D11Device> device_;
    ComPtr<ID3D11DeviceContext> context_;
    ComPtr<IDXGISwapChain> swapChain_;
    ComPtr<ID3D11RenderTargetView> target_;
    ComPtr<ID3D11Texture2D> texture_;
    ComPtr<ID3D11ShaderResourceView> view_;
    ComPtr<ID3D11VertexShader> vs_;
    ComPtr<ID3D11PixelShader> ps_;
    ComPtr<ID3D11SamplerState> sampler_;
};

// A window of the host's kind at the frame's size, for one bare loop alone: nothing a
// presenter left on the host's window can touch the baseline.
struct BareWindow {
    BareWindow(int width, int height) {
        if (!CreateHostWindow(GetModuleHandleW(nullptr), TraitsOf(HostKind::Tivane), width, height,
                              window)) {
            DestroyHostWindow(window);
        }
    }
    ~BareWindow() {
        DestroyHostWindow(window);
        MSG quit;  // the host's window asks the thread to quit when it is destroyed
        PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    }
    BareWindow(const BareWindow&) = delete;
    BareWindow& operator=(const BareWindow&) = delete;
    HWND window = nullptr;
};

// Frames presented over a measured span.
struct PresentCount {
    int presents = 0;
    double seconds = 0.0;
    double PerSecond() const { return seconds > 0.0 ? presents / seconds : 0.0; }
    void Add(const PresentCount& other) {
        presents += other.presents;
        seconds += other.seconds;
    }
};

// The bare loop for `seconds` after a short warm-up, alternating two source frames as a
// receiver's fresh buffers would; the window's messages are emptied between frames. With
// a `beside` source, the simulated source runs meanwhile and its worker stores every frame
// into a slot that nothing takes: the CPU the host's path shares with its source. Nothing
// counted on failure.
PresentCount RunBareLoop(int width, int height, double seconds, const std::string& beside = "") {
    BareWindow bareWindow(width, height);
    const HWND window = bareWindow.window;
    BareLoop loop;
    if (window == nullptr || !loop.Initialize(window, width, height)) {
        return {};
    }
    auto receiver = NdiReceiver::Create();
    FrameSlot slot;
    if (!beside.empty()) {
        if (!receiver->Initialize()) {
            return {};
        }
        receiver->SetFrameCallback([&](const unsigned char* pixels, int w, int h, int stride) {
            StoreFrame(slot, window, pixels, w, h, stride);
        });
        receiver->Start(beside, 100);
    }
    const size_t bytes = static_cast<size_t>(width) * 4 * height;
    std::vector<unsigned char> sources[2] = {Pattern(bytes, 5), Pattern(bytes, 6)};
    const double warmUp = 0.5;
    const double start = Now();
    double from = 0.0;
    int presents = 0;
    for (int i = 0; Now() < start + warmUp + seconds; ++i) {
        if (from == 0.0 && Now() >= start + warmUp) {
            from = Now();
            presents = 0;
        }
        loop.Frame(sources[i & 1].data());
        ++presents;
        DrainMessages();
    }
    const PresentCount count = {presents, Now() - from};
    receiver->Stop();
    FreeFramePixels(slot);
    return count;
}

void PrintHostPath(const char* k, const PathFigures& figures) {
    const double span = figures.seconds;
    std::printf("%s_present_fps %.2f\n", k, figures.presents / span);
    std::printf("%s_worker_fps %.2f\n", k, figures.received / span);
    std::printf("%s_posted_per_s %.2f\n", k, (figures.taken + figures.waiting) / span);
    std::printf("%s_taken_per_s %.2f\n", k, figures.taken / span);
    std::printf("%s_queued_at_end %ld\n", k, figures.waiting);
    std::printf("%s_latency_median_ms %.2f\n", k, Median(figures.latencies));
    std::printf("%s_latency_p99_ms %.2f\n", k, Percentile(figures.latencies, 0.99));
    // Where the main thread's time goes: inside Present, and in the rest of the takes.
    const double presents = std::max(1, figures.presents);
    std::printf("%s_present_call_ms %.2f\n", k, figures.presentSeconds * 1000.0 / presents);
    std::printf("%s_take_without_present_ms %.3f\n", k,
                (figures.takeSeconds - figures.presentSeconds) * 1000.0 / presents);
    std::printf("%s_main_busy_share %.3f\n", k, figures.takeSeconds / span);
}

// The host's path, and at the same size the bare loop (the baseline, half of its time
// just before the host's path and half just after, so that both meet the same load) and
// the bare loop beside the running source. Keys carry the source's
// shape, e.g. pipeline_1080p60_present_fps.
void Pipeline(HWND window, int seconds, const std::string& source) {
    int width = 0;
    int height = 0;
    int rate = 0;
    if (!ParsePattern(source, width, height, rate)) {
        std::printf("pipeline_error source\n");
        return;
    }
    UseSimulatedRuntime();
    PresentCount bare = RunBareLoop(width, height, seconds / 2.0);
    PathFigures figures;
    if (!RunHostPath(window, seconds, source, figures)) {
        return;
    }
    bare.Add(RunBareLoop(width, height, seconds / 2.0));
    if (bare.presents == 0) {
        std::printf("pipeline_error bare\n");
        return;
    }
    const std::string key = "pipeline_" + std::to_string(height) + "p" + std::to_string(rate);
    const char* k = key.c_str();
    PrintHostPath(k, figures);
    // The host can present no more frames than the source sends.
    const double ceiling = std::min(bare.PerSecond(), static_cast<double>(rate));
    std::printf("%s_bare_fps %.2f\n", k, bare.PerSecond());
    std::printf("%s_present_ratio %.3f\n", k, figures.presents / figures.seconds / ceiling);
    // Not a baseline: how much of the gap is the CPU the source and the worker take.
    std::printf("%s_bare_beside_source_fps %.2f\n", k,
                RunBareLoop(width, height, seconds, source).PerSecond());
}

double Micros(const FILETIME& time) {
    return static_cast<double>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                               time.dwLowDateTime) /
           10.0;
}

// User plus kernel time of a thread, or of the whole process, in microseconds.
double ThreadCpuMicros(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    return GetThreadTimes(thread, &created, &exited, &kernel, &user) ? Micros(kernel) + Micros(user)
                                                                     : 0.0;
}
double ProcessCpuMicros() {
    FILETIME created, exited, kernel, user;
    return GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)
               ? Micros(kernel) + Micros(user)
               : 0.0;
}

// What the frame callback measures; the worker's until the receiver has stopped.
struct StoreTimes {
    std::vector<double> copies;   // memcpy of the library frame, us
    std::vector<double> stores;   // StoreFrame of it, when it posted nothing, us
    std::vector<double> posting;  // StoreFrame of it, when it posted the notification, us
    std::vector<unsigned char> block;
    long frames = 0;
    UniqueHandle thread;  // the worker, for its CPU time
};

// The CPU times the measured span starts and ends with.
struct CpuMarks {
    double at = 0.0;
    double process = 0.0;
    double main = 0.0;
    double worker = 0.0;
    long received = 0;
    static CpuMarks Take(HANDLE worker, long received) {
        return {Now(), ProcessCpuMicros(), ThreadCpuMicros(GetCurrentThread()),
                worker != nullptr ? ThreadCpuMicros(worker) : 0.0, received};
    }
};

// Whether a frame notification is outstanding.
bool Notified(FrameSlot& slot) {
    std::lock_guard<std::mutex> lock(slot.lock);
    return slot.notified;
}

// The frame path from the library's buffer to a texture the draw can sample. Per frame,
// in the frame callback: StoreFrame, and one memcpy of the same library frame into a warm
// block, the memcpy first on every other frame so that neither always finds the frame in
// the cache. A store that posts the frame notification is counted apart: under Wine a
// post is a round trip to wineserver, which costs as much as a copy on a busy machine and
// is not part of the frame's bytes. On the main thread, per frame drawn: DrawPendingFrame
// without the time spent inside Present (what is left: unmapping or uploading, the draw
// call, the slot's upkeep). Medians over the measured span; the path is the store that
// posts nothing and the take added. CPU per received frame: the process (the simulator,
// which draws each frame on the worker, and Wine's graphics threads, which render,
// included), the worker, and the main thread.
void Path(HWND window, int seconds, const std::string& source) {
    int width = 0;
    int height = 0;
    int rate = 0;
    if (!ParsePattern(source, width, height, rate)) {
        std::printf("path_error source\n");
        return;
    }
    UseSimulatedRuntime();
    auto receiver = NdiReceiver::Create();
    FrameSlot slot;
    TimedPresenter presenter;
    if (!receiver->Initialize() || !presenter.Initialize(window)) {
        std::printf("path_error setup\n");
        return;
    }
    StoreTimes times;
    std::atomic<bool> measuring{false};
    std::atomic<long> received{0};
    std::atomic<HANDLE> worker{nullptr};
    receiver->SetFrameCallback([&](const unsigned char* pixels, int w, int h, int stride) {
        if (!times.thread) {
            HANDLE thread = nullptr;
            DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread,
                            0, FALSE, DUPLICATE_SAME_ACCESS);
            times.thread.Reset(thread);
            worker = thread;
        }
        const size_t bytes = static_cast<size_t>(h) * static_cast<size_t>(stride);
        times.block.resize(std::max(times.block.size(), bytes));
        auto copy = [&] {
            return MicrosOf([&] { std::memcpy(times.block.data(), pixels, bytes); });
        };
        auto store = [&] {
            return MicrosOf([&] { StoreFrame(slot, window, pixels, w, h, stride); });
        };
        double copied = 0.0;
        double stored = 0.0;
        const bool outstanding = Notified(slot);
        if ((times.frames++ & 1) == 0) {
            copied = copy();
            stored = store();
        } else {
            stored = store();
            copied = copy();
        }
        // A notification taken right after this store's post is missed, rarely.
        const bool posted = !outstanding && Notified(slot);
        if (measuring) {
            times.copies.push_back(copied);
            (posted ? times.posting : times.stores).push_back(stored);
        }
        ++received;
    });
    receiver->Start(source, 100);
    SetTimer(window, 1, 100, nullptr);  // the loop wakes even when no frame comes
    const double warmUp = 1.5;          // connection, first size change, the ring
    const double end = Now() + warmUp + seconds;
    std::vector<double> takes;
    CpuMarks from;
    int presentsFrom = 0;
    MSG message;
    while (Now() < end && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == kFrameNotification) {
            const int presents = presenter.presents;
            const double inPresent = presenter.presentSeconds;
            const double start = Now();
            DrawPendingFrame(slot, presenter);
            const double took = Now() - start - (presenter.presentSeconds - inPresent);
            if (measuring && presenter.presents == presents + 1) {
                takes.push_back(took * 1e6);
            }
        } else {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (!measuring && Now() >= end - seconds) {
            from = CpuMarks::Take(worker.load(), received.load());
            presentsFrom = presenter.presents;
            measuring = true;
        }
    }
    measuring = false;
    const CpuMarks to = CpuMarks::Take(worker.load(), received.load());
    KillTimer(window, 1);
    receiver->Stop();
    FreeFramePixels(slot);
    DrainMessages();
    const long frames = std::max(1L, to.received - from.received);
    const std::string key = "path_" + std::to_string(height) + "p" + std::to_string(rate);
    const char* k = key.c_str();
    const double copy = Median(times.copies);
    const double path = Median(times.stores) + Median(takes);
    std::printf("%s_memcpy_us %.1f\n%s_store_us %.1f\n%s_take_us %.1f\n", k, copy, k,
                Median(times.stores), k, Median(takes));
    std::printf("%s_posting_store_us %.1f\n%s_posting_share %.3f\n", k, Median(times.posting), k,
                static_cast<double>(times.posting.size()) /
                    static_cast<double>(std::max<size_t>(1, times.copies.size())));
    std::printf("%s_path_us %.1f\n%s_ratio %.3f\n", k, path, k, path / copy);
    std::printf("%s_received_fps %.2f\n%s_drawn_fps %.2f\n", k, frames / (to.at - from.at), k,
                (presenter.presents - presentsFrom) / (to.at - from.at));
    std::printf("%s_process_cpu_us_per_frame %.0f\n", k, (to.process - from.process) / frames);
    std::printf("%s_worker_cpu_us_per_frame %.0f\n", k, (to.worker - from.worker) / frames);
    std::printf("%s_main_cpu_us_per_frame %.0f\n", k, (to.main - from.main) / frames);
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
    } else if (mode == "path") {
        Path(window, argc > 2 ? std::atoi(argv[2]) : 5,
             argc > 3 ? argv[3] : "pattern:1920x1080@60");
    } else {
        std::printf("usage: frame_bench handoff|upload|pipeline|path [rounds|seconds] [source]\n");
    }
    DestroyHostWindow(window);
    std::fflush(stdout);
    return 0;
}
