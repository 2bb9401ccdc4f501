#include "pipe_client.h"

#include "log.h"
#include "protocol.h"
#include "win_text.h"

namespace {

constexpr DWORD kReadChunk = 4095;
constexpr DWORD kStopPollMs = 100;
constexpr DWORD kReaderJoinMs = 2000;

bool IsBrokenPipe(DWORD error) {
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
}

}  // namespace

bool PipeClient::Connect(const std::string& pipeName) {
    std::string path = "\\\\.\\pipe\\" + pipeName;
    HostLog("[Pipe] Connecting to '%s'...", path.c_str());
    std::wstring widePath;
    if (!ToWide(path, widePath)) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    if (!WaitNamedPipeW(widePath.c_str(), 5000)) {
        GetLastError();
        return false;
    }
    // The server end may identify this client but never impersonate it.
    pipe_ = CreateFileW(widePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                        nullptr);
    if (pipe_ == INVALID_HANDLE_VALUE) {
        GetLastError();
        return false;
    }
    readEvent_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    readOverlapped_ = {};
    readOverlapped_.hEvent = readEvent_.Get();
    DWORD mode = PIPE_READMODE_BYTE | PIPE_WAIT;
    SetNamedPipeHandleState(pipe_, &mode, nullptr, nullptr);
    if (!writer_.Start(pipe_)) {
        ClosePipe();
        return false;
    }
    return true;
}

void PipeClient::SendHostReady(HWND window, DWORD processId) {
    std::string json = BuildHostReady(static_cast<int64_t>(reinterpret_cast<intptr_t>(window)),
                                      static_cast<int32_t>(processId));
    HostLog("[Pipe] Sending: %s", json.c_str());
    writer_.Post(MessageKind::Ordered, std::move(json));
}

void PipeClient::SendStatus(const char* state, const char* source) {
    const char* shownState = state ? state : "";
    if (kind_ == HostKind::Tivane) {
        HostLog("[Pipe] SendStatus BEFORE WriteFile: state='%s'", shownState);
    } else if (kind_ == HostKind::Grelm) {
        HostLog("[Pipe] SendStatus: state='%s'", shownState);
    }
    writer_.Post(MessageKind::Status, BuildStatus(state, source));
    if (kind_ == HostKind::Tivane) {
        HostLog("[Pipe] SendStatus AFTER WriteFile: state='%s'", shownState);
    }
}

void PipeClient::SendStats(float framesPerSecond, int width, int height) {
    writer_.Post(MessageKind::Stats, BuildStats(framesPerSecond, width, height));
}

void PipeClient::SendFrameSize(int width, int height) {
    writer_.Post(MessageKind::FrameSize, BuildFrameSize(width, height));
}

void PipeClient::Send(const std::string& json) {
    writer_.Post(MessageKind::Ordered, json);
}

void PipeClient::CancelRead() {
    CancelIoEx(pipe_, &readOverlapped_);
    DWORD transferred = 0;
    // Returns at once when the read already finished; otherwise when the cancel lands.
    GetOverlappedResult(pipe_, &readOverlapped_, &transferred, TRUE);
}

void PipeClient::StartReader(CommandCallback callback, std::function<void()> onBroken) {
    onCommand_ = std::move(callback);
    onBroken_ = std::move(onBroken);
    running_.exchange(true);
    readerThread_.Reset(CreateThread(nullptr, 0, &PipeClient::ReaderMain, this, 0, nullptr));
}

DWORD WINAPI PipeClient::ReaderMain(LPVOID self) {
    static_cast<PipeClient*>(self)->ReaderLoop();
    return 0;
}

void PipeClient::EndHost() {
    if (onBroken_) {
        onBroken_();
    }
}

bool PipeClient::WaitForRead(DWORD& count) {
    for (;;) {
        if (!running_.load()) {
            CancelRead();
            return false;
        }
        if (WaitForSingleObject(readEvent_.Get(), kStopPollMs) == WAIT_TIMEOUT) {
            continue;
        }
        if (GetOverlappedResult(pipe_, &readOverlapped_, &count, FALSE)) {
            return true;
        }
        DWORD error = GetLastError();
        if (IsBrokenPipe(error)) {
            EndHost();
            return false;
        }
        if (error == ERROR_IO_INCOMPLETE) {
            ResetEvent(readEvent_.Get());  // woken by StopReader; the read is still out
            continue;
        }
        count = 0;  // cancelled or failed: nothing read
        return true;
    }
}

void PipeClient::DeliverLines(DWORD count) {
    lines_.Append(readBuffer_, count, [this](const std::string& line) {
        HostLog(kind_ == HostKind::Parlex ? "[Pipe] Received: %s" : "[Pipe] Received command: %s",
                line.c_str());
        JsonObject command = ParseJson(line);
        if (onCommand_) {
            onCommand_(command);
        }
    });
}

void PipeClient::ReaderLoop() {
    while (running_.load() && pipe_ != INVALID_HANDLE_VALUE) {
        DWORD count = 0;
        ResetEvent(readEvent_.Get());
        if (!ReadFile(pipe_, readBuffer_, kReadChunk, &count, &readOverlapped_)) {
            DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                if (!WaitForRead(count)) {
                    break;
                }
            } else if (IsBrokenPipe(error)) {
                EndHost();
                break;
            } else {
                if (!running_.load()) {
                    break;
                }
                Sleep(10);
                continue;
            }
        }
        if (!running_.load()) {
            break;
        }
        if (count > 0) {
            DeliverLines(count);
        }
    }
    lines_.Clear();  // an unfinished line is never delivered
}

bool PipeClient::StopReader() {
    running_.exchange(false);
    if (!readerThread_) {
        return !readerStuck_;
    }
    // Only the read: the writer's write in flight must not be cut short.
    if (pipe_ != INVALID_HANDLE_VALUE) {
        CancelIoEx(pipe_, &readOverlapped_);
    }
    if (readEvent_) {
        SetEvent(readEvent_.Get());
    }
    if (WaitForSingleObject(readerThread_.Get(), kReaderJoinMs) != WAIT_OBJECT_0) {
        // Still inside a command: it may use this client, the command handling and what
        // they refer to for a while yet. The handle is closed, the thread left to run.
        readerStuck_ = true;
    }
    readerThread_.Reset();
    return !readerStuck_;
}

bool PipeClient::StopWriter(DWORD drainMs) {
    return writer_.Stop(drainMs);
}

void PipeClient::ClosePipe() {
    if (!writer_.Stop(0)) {
        return;  // the writer may still use the handle
    }
    if (pipe_ != INVALID_HANDLE_VALUE) {
        CloseHandle(pipe_);
        pipe_ = INVALID_HANDLE_VALUE;
    }
}

void PipeClient::Close() {
    if (!StopReader() || !StopWriter()) {
        return;  // a thread still running keeps the pipe, its events and the callbacks
    }
    ClosePipe();
    readEvent_.Reset();
    onCommand_ = nullptr;
    onBroken_ = nullptr;
}
