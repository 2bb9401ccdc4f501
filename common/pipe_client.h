// The host's only channel to the controlling application: the client end of its named
// pipe. The main thread connects, announces the host and tears down; a reader thread
// cuts incoming bytes into command lines; any thread may send: a send only hands the
// message to the one pipe writer (pipe_writer.h) and never waits for the controller.
//
// A reader or writer thread that outlasts its stop keeps what it uses (the read buffer and
// record, the callbacks, the writer's outbox and lock, the pipe handle) until it ends, as
// the receivers' workers do: the client may go meanwhile, and the pipe is closed by the
// last of them.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "bounded_thread.h"
#include "host_kind.h"
#include "json.h"
#include "line_splitter.h"
#include "pipe_writer.h"
#include "receiver_callbacks.h"
#include "win_types.h"

using CommandCallback = std::function<void(const JsonObject&)>;

class PipeClient {
public:
    // The longest command line kept; a longer one is ignored whole (and logged).
    static constexpr size_t kMaxCommandBytes = 64 * 1024;

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
    // Any other message (a listing's lines): one whole line, kept in order with the others.
    void Send(const std::string& json);
    // Whether lines given to Send wait in the outbox.
    bool SentLinesWaiting() { return writer_.Waiting(MessageKind::Ordered); }
    // SendStatus and SendStats as the callbacks that the status relay and the receiver take.
    StatusCallback StatusSender() {
        return [this](const char* state, const char* source) { SendStatus(state, source); };
    }
    StatsCallback StatsSender() {
        return [this](float framesPerSecond, int width, int height) {
            SendStats(framesPerSecond, width, height);
        };
    }

    // onBroken runs on the reader thread when the controlling side closes its end.
    void StartReader(CommandCallback callback, std::function<void()> onBroken);
    // Waits at most 2000 ms for the reader (once: later calls only look). False when it has
    // not ended: then what the command callback refers to may not be released.
    bool StopReader();
    // Lets the writer send what waits for at most drainMs, then ends it. False when its
    // thread has not ended.
    bool StopWriter(DWORD drainMs = PipeWriter::kWriteBoundMs);
    // Lets go of the pipe: closed now, or by the reader or writer that still runs when it ends.
    void ClosePipe();
    void Close();

    // For tests: the write bound, normally 2000 ms.
    void SetWriteTimeoutForTesting(DWORD milliseconds) {
        writer_.SetWriteBoundForTesting(static_cast<unsigned>(milliseconds));
    }

private:
    struct Reader;  // the reader thread's state, which that thread holds until it ends

    HostKind kind_;
    // The reader and the writer's channel hold it too: the last of them to end closes it.
    std::shared_ptr<UniqueHandle> pipe_;
    std::shared_ptr<Reader> reader_;
    BoundedThread readerThread_;  // kept while the reader outlasts StopReader, to look again
    PipeWriter writer_;
};
