#include "ndi_test_support.h"

#include <atomic>
#include <cstdio>

std::string ExeDir() {
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string exe(path, length);
    return exe.substr(0, exe.find_last_of("\\/") + 1);
}

std::string SimDir(const std::string& variant) {
    std::string dir = ExeDir() + "..\\sim\\";
    return variant.empty() ? dir : dir + variant + "\\";
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

std::vector<std::string> ReadLines(const std::string& path) {
    std::string text;
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    char buffer[4096];
    DWORD read = 0;
    while (file && ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    std::vector<std::string> lines;
    size_t begin = 0;
    for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        lines.push_back(text.substr(begin, end - begin));
    }
    return lines;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TempDir::TempDir() : path_(UniqueTempPath("ndi_test") + "\\") {
    CreateDirectoryA(path_.c_str(), nullptr);
}

TempDir::~TempDir() {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path_ + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            DeleteFileA((path_ + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path_.c_str());
}

bool TempDir::CopyIn(const std::string& file, const std::string& name) {
    return CopyFileA(file.c_str(), (path_ + name).c_str(), FALSE) != 0;
}

SimCallLog::SimCallLog() : path_(UniqueTempPath("sim_ndi_log") + ".txt") {
    DeleteFileA(path_.c_str());
    SetEnvironmentVariableA("SIM_NDI_LOG", path_.c_str());
}

SimCallLog::~SimCallLog() {
    SetEnvironmentVariableA("SIM_NDI_LOG", nullptr);
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

void Recorder::Attach(NdiReceiver& receiver) {
    receiver.SetFrameCallback(
        [this](const unsigned char* pixels, int width, int height, int strideBytes) {
            long number = pixels[0] | pixels[1] << 8 | pixels[2] << 16;
            ScopedLock lock(lock_);
            frames_.push_back(FrameEvent{width, height, strideBytes, number});
        });
    receiver.SetStatsCallback([this](float fps, int width, int height) {
        double at = NowMs();
        ScopedLock lock(lock_);
        stats_.push_back(StatsEvent{fps, width, height, at});
    });
    receiver.SetStatusCallback([this](const char* state, const char* source) {
        double at = NowMs();
        ScopedLock lock(lock_);
        statuses_.push_back(StatusEvent{state, source ? source : "(null)", at});
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

int Recorder::CountStatus(const std::string& state) {
    ScopedLock lock(lock_);
    int count = 0;
    for (const StatusEvent& event : statuses_) {
        count += event.state == state ? 1 : 0;
    }
    return count;
}

double Recorder::TimeOf(const std::string& state, int n) {
    ScopedLock lock(lock_);
    for (const StatusEvent& event : statuses_) {
        if (event.state == state && n-- == 0) {
            return event.atMs;
        }
    }
    return -1.0;
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; waited += 10) {
        if (done()) {
            return true;
        }
        Sleep(10);
    }
    return done();
}

void UseRuntimeFrom(const std::string& dir) {
    SetDllDirectoryA(dir.c_str());
}
