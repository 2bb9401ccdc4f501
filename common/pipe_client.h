// The host's only channel to the controlling application: the client end of its named
// pipe. The main thread connects, announces the host and tears down; a reader thread
// cuts incoming bytes into command lines; any thread may send (one write lock, each
// write bounded to 2000 ms).
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "host_kind.h"
#include "json.h"
#include "line_splitter.h"
#include "win_types.h"

using CommandCallback = std::function<void(const JsonObject&)>;

class PipeClient {
public:
    // The host kind only chooses the wording of diagnostic lines.
    explicit PipeClient(HostKind kind = HostKind::Tivane) : kind_(kind) {}
    ~PipeClient() { Close(); }
    PipeClient(const PipeClient&) = delete;
    PipeClient& operator=(const PipeClient&) = delete;

    // Opens \\.\pipe\<pipeName>, waiting at most 5000 ms for a free instance.
    bool Connect(const std::string& pipeName);
    void SendHostReady(HWND window, DWORD processId);
    void SendStatus(const char* state, const char* source);
    void SendStats(float framesPerSecond, int width, int height);
    // One whole message line (without its LF), in order with the others.
    void Send(const std::string& json) { WriteMessage(json); }

    // onBroken runs on the reader thread when the controlling side closes its end.
    void StartReader(CommandCallback callback, std::function<void()> onBroken);
    // Waits at most 2000 ms for the reader. False when it has not ended: then nothing it
    // may use (this client, the command callback's objects) may be released.
    bool StopReader();
    void ClosePipe();
    void Close();

    // For tests: the write bound, normally 2000 ms.
    void SetWriteTimeoutForTesting(DWORD milliseconds) { writeTimeoutMs_ = milliseconds; }

private:
    static DWORD WINAPI ReaderMain(LPVOID self);
    void ReaderLoop();
    // Waits for the pending read; false when the reader must end.
    bool WaitForRead(DWORD& count);
    void DeliverLines(DWORD count);
    void EndHost();
    void WriteMessage(const std::string& json);
    // Ends a pending overlapped operation for good, so its buffer and record may go;
    // returns the bytes it had transferred.
    DWORD CancelAndDrain(OVERLAPPED& overlapped);

    HostKind kind_;
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    UniqueHandle readerThread_;
    std::atomic<bool> running_{false};
    CommandCallback onCommand_;
    std::function<void()> onBroken_;
    CriticalSection writeLock_;
    OVERLAPPED readOverlapped_ = {};
    OVERLAPPED writeOverlapped_ = {};
    UniqueHandle readEvent_;
    UniqueHandle writeEvent_;
    // Both buffers live as long as the client, so an operation the system still holds
    // after a cancel never writes into freed memory.
    char readBuffer_[4096] = {};
    std::string writeBuffer_;
    bool lineOpen_ = false;  // under writeLock_: the last write left a partial line
    LineSplitter lines_;
    DWORD writeTimeoutMs_ = 2000;
    bool readerStuck_ = false;  // main thread: the reader outlasted StopReader's wait
};
