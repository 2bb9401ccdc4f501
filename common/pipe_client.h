// The host's only channel to the controlling application: the client end of its named
// pipe. The main thread connects, announces the host and tears down; a reader thread
// cuts incoming bytes into command lines; any thread may send: a send only hands the
// message to the one pipe writer (pipe_writer.h) and never waits for the controller.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "host_kind.h"
#include "json.h"
#include "line_splitter.h"
#include "pipe_writer.h"
#include "win_types.h"

using CommandCallback = std::function<void(const JsonObject&)>;

class PipeClient {
public:
    // The host kind only chooses the wording of diagnostic lines.
    explicit PipeClient(HostKind kind = HostKind::Tivane) : kind_(kind) {}
    ~PipeClient() { Close(); }
    PipeClient(const PipeClient&) = delete;
    PipeClient& operator=(const PipeClient&) = delete;

    // Opens \\.\pipe\<pipeName>, waiting at most 5000 ms for a free instance, and starts
    // the writer.
    bool Connect(const std::string& pipeName);
    void SendHostReady(HWND window, DWORD processId);
    void SendStatus(const char* state, const char* source);
    void SendStats(float framesPerSecond, int width, int height);
    // Only the newest unsent one waits, as with stats.
    void SendFrameSize(int width, int height);
    // Any other message: one whole line, kept in order with the others.
    void Send(const std::string& json);

    // onBroken runs on the reader thread when the controlling side closes its end.
    void StartReader(CommandCallback callback, std::function<void()> onBroken);
    // Waits at most 2000 ms for the reader. False when it has not ended: then nothing it
    // may use (this client, the command callback's objects) may be released.
    bool StopReader();
    // Lets the writer send what waits for at most drainMs, then ends it. False when its
    // thread has not ended: then the pipe must stay open.
    bool StopWriter(DWORD drainMs = PipeWriter::kWriteBoundMs);
    void ClosePipe();
    void Close();

    // For tests: the write bound, normally 2000 ms.
    void SetWriteTimeoutForTesting(DWORD milliseconds) {
        writer_.SetWriteBoundForTesting(milliseconds);
    }

private:
    static DWORD WINAPI ReaderMain(LPVOID self);
    void ReaderLoop();
    // Waits for the pending read; false when the reader must end.
    bool WaitForRead(DWORD& count);
    void DeliverLines(DWORD count);
    void EndHost();
    // Ends the pending read for good, so its buffer and record may go.
    void CancelRead();

    HostKind kind_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    UniqueHandle readerThread_;
    std::atomic<bool> running_{false};
    CommandCallback onCommand_;
    std::function<void()> onBroken_;
    OVERLAPPED readOverlapped_ = {};
    UniqueHandle readEvent_;
    // Lives as long as the client, so a read the system still holds after a cancel never
    // writes into freed memory.
    char readBuffer_[4096] = {};
    LineSplitter lines_;
    bool readerStuck_ = false;  // main thread: the reader outlasted StopReader's wait
    PipeWriter writer_;
};
