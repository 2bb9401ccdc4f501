#include "omt_test_support.h"

#include <atomic>
#include <cstdio>

std::string SimDir(const std::string& variant) {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string exe(path, length);
    std::string dir = exe.substr(0, exe.find_last_of("\\/") + 1) + "..\\sim\\";
    return variant.empty() ? dir : dir + variant + "\\";
}

std::string ReadTextFile(const std::string& path) {
    std::string text;
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return text;
    }
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    return text;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::string text = ReadTextFile(path);
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            break;  // a line still being written
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return lines;
}

std::string UniqueTempPath(const char* stem) {
    static std::atomic<int> counter{0};
    char dir[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, dir);
    char name[MAX_PATH];
    std::snprintf(name, sizeof(name), "%s%s_%lu_%d", dir, stem, GetCurrentProcessId(),
                  counter.fetch_add(1));
    return name;
}

SimCallLog::SimCallLog() : path_(UniqueTempPath("sim_omt_log") + ".txt") {
    DeleteFileA(path_.c_str());
    SetEnvironmentVariableA("SIM_OMT_LOG", path_.c_str());
}

SimCallLog::~SimCallLog() {
    SetEnvironmentVariableA("SIM_OMT_LOG", nullptr);
    DeleteFileA(path_.c_str());
}

std::vector<std::string> SimCallLog::Matching(const std::string& prefix) const {
    std::vector<std::string> result;
    for (const std::string& line : Lines()) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            result.push_back(line);
        }
    }
    return result;
}

Recorder::Recorder() {
    QueryPerformanceFrequency(&frequency_);
    QueryPerformanceCounter(&start_);
}

double Recorder::NowMs() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - start_.QuadPart) * 1000.0 /
           static_cast<double>(frequency_.QuadPart);
}

void Recorder::Attach(OmtReceiver& receiver) {
    receiver.SetStatusCallback([this](const char* state, const char* source) {
        ScopedLock lock(lock_);
        statuses_.push_back({state ? state : "", source ? source : "", NowMs()});
    });
    receiver.SetStatsCallback([this](float fps, int width, int height) {
        ScopedLock lock(lock_);
        stats_.push_back({fps, width, height, NowMs()});
    });
    receiver.SetFrameCallback(
        [this](const unsigned char* pixels, int width, int height, int strideBytes) {
            // Touch the last byte the host would copy: a short buffer shows up here.
            volatile unsigned char last = pixels[static_cast<size_t>(height) * strideBytes - 1];
            (void)last;
            int number = pixels[0] | (pixels[1] << 8) | (pixels[2] << 16);
            int quality = width > 1 ? pixels[4] : 0;
            ScopedLock lock(lock_);
            frames_.push_back({width, height, strideBytes, number, quality});
        });
}

std::vector<StatusEvent> Recorder::Statuses() {
    ScopedLock lock(lock_);
    return statuses_;
}

std::vector<StatsEvent> Recorder::Stats() {
    ScopedLock lock(lock_);
    return stats_;
}

std::vector<FrameEvent> Recorder::Frames() {
    ScopedLock lock(lock_);
    return frames_;
}

void Recorder::Clear() {
    ScopedLock lock(lock_);
    statuses_.clear();
    stats_.clear();
    frames_.clear();
}

int Recorder::CountStatus(const std::string& state) {
    ScopedLock lock(lock_);
    int count = 0;
    for (const StatusEvent& event : statuses_) {
        count += event.state == state ? 1 : 0;
    }
    return count;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (done()) {
            return true;
        }
        Sleep(10);
    }
    return done();
}
