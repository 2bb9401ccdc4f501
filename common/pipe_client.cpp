#include "pipe_client.h"

#include <atomic>
#include <memory>
#include <utility>

#include "log.h"
#include "pipe_write_channel.h"
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

struct PipeClient::Reader {
    Reader(HostKind hostKind, std::shared_ptr<UniqueHandle> pipeHandle)
        : kind(hostKind), pipe(std::move(pipeHandle)) {
        overlapped.hEvent = event.Get();
    }

    void Loop();
    // Waits for the pending read; false when the reader must end.
    bool WaitForRead(DWORD& count);
    void Deliver(DWORD count);
    void EndHost();
    // Ends the pending read for good, so its buffer and record may go.
    void CancelRead();
    HANDLE Pipe() const { return pipe->Get(); }

    HostKind kind;
    std::shared_ptr<UniqueHandle> pipe;
    std::atomic<bool> running{false};
    CommandCallback onCommand;       // set before the thread starts
    std::function<void()> onBroken;  // likewise
    UniqueHandle event{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED overlapped = {};
    // Lives as long as the reader, so a read the system still holds after a cancel never
    // writes into freed memory.
    char buffer[4096] = {};
    LineSplitter lines{kMaxCommandBytes};
};

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
    auto pipe = std::make_shared<UniqueHandle>(CreateFileW(
        widePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
        FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr));
    if (!*pipe) {
        return false;  // the system's error stays for the caller
    }
    DWORD mode = PIPE_READMODE_BYTE | PIPE_WAIT;
    SetNamedPipeHandleState(pipe->Get(), &mode, nullptr, nullptr);
    auto reader = std::make_shared<Reader>(kind_, pipe);
    auto channel = std::make_shared<PipeWriteChannel>(pipe);
    if (!reader->event || !channel->Valid() || !writer_.Start(std::move(channel))) {
        return false;
    }
    pipe_ = std::move(pipe);
    reader_ = std::move(reader);
    return true;
}

void PipeClient::SendHostReady(HWND window, DWORD processId) {
    std::string json = BuildHostReady(static_cast<int64_t>(reinterpret_cast<intptr_t>(window)),
                                      static_cast<int32_t>(processId));
    HostLog("[Pipe] Sending: %s", json.c_str());
    writer_.Post(MessageKind::HostReady, std::move(json));
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

void PipeClient::StartReader(CommandCallback callback, std::function<void()> onBroken) {
    if (!reader_ || readerThread_.Started()) {
        return;
    }
    reader_->onCommand = std::move(callback);
    reader_->onBroken = std::move(onBroken);
    reader_->running.exchange(true);
    Reader* reader = reader_.get();
    if (!readerThread_.Start(reader_, [reader] { reader->Loop(); })) {
        reader_->running.exchange(false);
    }
}

bool PipeClient::StopReader() {
    if (reader_ && readerThread_.Started()) {
        reader_->running.exchange(false);
        // Only the read: the writer's write in flight must not be cut short.
        CancelIoEx(reader_->Pipe(), &reader_->overlapped);
        SetEvent(reader_->event.Get());
    }
    // A reader that outlasted one full wait is only looked at again; one still inside a
    // command keeps its state and the pipe while it runs.
    return readerThread_.Join(kReaderJoinMs);
}

bool PipeClient::StopWriter(DWORD drainMs) {
    return writer_.Stop(drainMs);
}

void PipeClient::ClosePipe() {
    writer_.Stop(0);  // a writer that outlasts it keeps its channel, and the pipe with it
    StopReader();     // likewise the reader, with its state
    reader_.reset();
    pipe_.reset();
}

void PipeClient::Close() {
    StopReader();
    StopWriter();
    ClosePipe();
}

void PipeClient::Reader::CancelRead() {
    CancelIoEx(Pipe(), &overlapped);
    DWORD transferred = 0;
    // Returns at once when the read already finished; otherwise when the cancel lands.
    GetOverlappedResult(Pipe(), &overlapped, &transferred, TRUE);
}

void PipeClient::Reader::EndHost() {
    if (onBroken) {
        onBroken();
    }
}

bool PipeClient::Reader::WaitForRead(DWORD& count) {
    for (;;) {
        if (!running.load()) {
            CancelRead();
            return false;
        }
        if (WaitForSingleObject(event.Get(), kStopPollMs) == WAIT_TIMEOUT) {
            continue;
        }
        if (GetOverlappedResult(Pipe(), &overlapped, &count, FALSE)) {
            return true;
        }
        DWORD error = GetLastError();
        if (IsBrokenPipe(error)) {
            EndHost();
            return false;
        }
        if (error == ERROR_IO_INCOMPLETE) {
            ResetEvent(event.Get());  // woken by StopReader; the read is still out
            continue;
        }
        count = 0;  // cancelled or failed: nothing read
        return true;
    }
}

void PipeClient::Reader::Deliver(DWORD count) {
    lines.Append(
        buffer, count,
        [this](const std::string& line) {
            HostLog(
                kind == HostKind::Parlex ? "[Pipe] Received: %s" : "[Pipe] Received command: %s",
                line.c_str());
            JsonObject command = ParseJson(line);
            if (onCommand) {
                onCommand(command);
            }
        },
        [](size_t bytes) {
            HostLog("[Pipe] WARNING: a command line of more than %u bytes is ignored (%lu seen)",
                    static_cast<unsigned>(kMaxCommandBytes), static_cast<unsigned long>(bytes));
        });
}

void PipeClient::Reader::Loop() {
    while (running.load()) {
        DWORD count = 0;
        ResetEvent(event.Get());
        if (!ReadFile(Pipe(), buffer, kReadChunk, &count, &overlapped)) {
            DWORD error = GetLastError();
            if (error == ERROR_IO_PENDING) {
                if (!WaitForRead(count)) {
                    break;
                }
            } else if (IsBrokenPipe(error)) {
                EndHost();
                break;
            } else {
                if (!running.load()) {
                    break;
                }
                Sleep(10);
                continue;
            }
        }
        if (!running.load()) {
            break;
        }
        if (count > 0) {
            Deliver(count);
        }
    }
    lines.Clear();  // an unfinished line is never delivered
}
