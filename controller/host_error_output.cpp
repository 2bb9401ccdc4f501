#include "host_error_output.h"

#include <utility>

#include "library_thread.h"
#include "secure_pipe.h"
#include "sent_message_wait.h"
#include "win_text.h"

namespace {

// Far more than the one line a host writes; a library's chatter beyond it is dropped from
// the front.
constexpr size_t kKeptBytes = 64 * 1024;

}  // namespace

struct HostErrorOutput::Drain {
    UniqueHandle pipe;  // ours: overlapped
    UniqueHandle stop{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle readEvent{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::mutex lock;
    std::string kept;  // under lock: the newest kKeptBytes

    // Reads until the pipe breaks (every writer has gone) or the stop is set; once stopped,
    // takes what is still in the pipe without waiting for more.
    void Run() {
        char buffer[4096];
        for (;;) {
            // A writer that keeps the pipe full completes every read at once: the stop is
            // looked at before each.
            if (WaitForSingleObject(stop.Get(), 0) == WAIT_OBJECT_0) {
                TakeTheRest(buffer, sizeof buffer);
                return;
            }
            OVERLAPPED overlapped = {};
            overlapped.hEvent = readEvent.Get();
            ResetEvent(readEvent.Get());
            DWORD count = 0;
            if (!ReadFile(pipe.Get(), buffer, sizeof buffer, &count, &overlapped)) {
                if (GetLastError() != ERROR_IO_PENDING) {
                    return;
                }
                HANDLE waits[2] = {readEvent.Get(), stop.Get()};
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    CancelIoEx(pipe.Get(), &overlapped);
                    GetOverlappedResult(pipe.Get(), &overlapped, &count, TRUE);
                    Keep(buffer, count);
                    TakeTheRest(buffer, sizeof buffer);
                    return;
                }
                if (!GetOverlappedResult(pipe.Get(), &overlapped, &count, FALSE)) {
                    return;
                }
            }
            Keep(buffer, count);
        }
    }

    // What a writer that is still there (a child of the host) has put in the pipe so far,
    // and no more: one that keeps writing must not keep the drain from ending.
    void TakeTheRest(char* buffer, DWORD size) {
        DWORD available = 0;
        if (!PeekNamedPipe(pipe.Get(), nullptr, 0, nullptr, &available, nullptr)) {
            return;
        }
        while (available > 0) {
            OVERLAPPED overlapped = {};
            overlapped.hEvent = readEvent.Get();
            ResetEvent(readEvent.Get());
            DWORD count = 0;
            DWORD wanted = available < size ? available : size;
            if (!ReadFile(pipe.Get(), buffer, wanted, &count, &overlapped) &&
                (GetLastError() != ERROR_IO_PENDING ||
                 !GetOverlappedResult(pipe.Get(), &overlapped, &count, TRUE))) {
                return;
            }
            Keep(buffer, count);
            available -= count < available ? count : available;
        }
    }

    void Keep(const char* bytes, DWORD count) {
        std::lock_guard<std::mutex> guard(lock);
        kept.append(bytes, count);
        if (kept.size() > kKeptBytes) {
            kept.erase(0, kept.size() - kKeptBytes);
        }
    }
};

HostErrorOutput::~HostErrorOutput() {
    Stop(INFINITE);
}

bool HostErrorOutput::Start(const std::string& name, UniqueHandle& hostEnd, DWORD& error) {
    auto drain = std::make_shared<Drain>();
    if (!drain->stop || !drain->readEvent) {
        error = GetLastError();
        return false;
    }
    drain->pipe = CreateHostPipe(name, static_cast<DWORD>(kKeptBytes), error);
    if (!drain->pipe) {
        return false;
    }
    std::wstring path;
    ToWide("\\\\.\\pipe\\" + name, path);
    // One instance: once we hold the other end, nobody else can open it. Not inheritable:
    // the launch lets only the host inherit it (host_launch.h).
    hostEnd.Reset(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!hostEnd) {
        error = GetLastError();
        return false;
    }
    OVERLAPPED connect = {};
    connect.hEvent = drain->readEvent.Get();
    if (!ConnectNamedPipe(drain->pipe.Get(), &connect) && GetLastError() != ERROR_PIPE_CONNECTED) {
        error = GetLastError();
        CancelIoEx(drain->pipe.Get(), &connect);
        DWORD ignored = 0;
        GetOverlappedResult(drain->pipe.Get(), &connect, &ignored, TRUE);
        hostEnd.Reset();
        return false;
    }
    // The thread's own reference: the drain outlives a HostErrorOutput that stopped waiting.
    thread_ = StartLibraryThread(L"standard error", [drain] { drain->Run(); });
    if (!thread_) {
        error = GetLastError();
        hostEnd.Reset();
        return false;
    }
    drain_ = std::move(drain);
    return true;
}

// The drain leaves its wait at once when told to stop: waitMs only covers a busy machine.
// Sent messages are taken meanwhile, as in every wait of the caller's.
void HostErrorOutput::Stop(DWORD waitMs) {
    if (drain_) {
        SetEvent(drain_->stop.Get());
    }
    if (thread_) {
        HANDLE thread = thread_.Get();
        WaitTakingSentMessages(1, &thread, waitMs);
    }
}

StartupProblem HostErrorOutput::Take(HANDLE process, DWORD waitMs) {
    std::lock_guard<std::mutex> guard(takeLock_);
    if (taken_ || !drain_ || WaitForSingleObject(process, 0) != WAIT_OBJECT_0) {
        return problem_;
    }
    taken_ = true;
    // The host wrote before it ended: what it wrote is read, or in the pipe still.
    Stop(waitMs);
    std::string output;
    {
        std::lock_guard<std::mutex> kept(drain_->lock);
        output = drain_->kept;
    }
    problem_ = ReadStartupFailed(output);
    return problem_;
}
