// The one writer of the pipe. Every thread hands its messages to Post, which only puts
// them in the outbox (outbox.h says what is kept while the controller does not read) and
// never waits for the pipe; the writer thread drains the outbox one line a write, and
// waits at most the write bound (2000 ms) for each write. A write the pipe has not taken
// by then is cancelled and its line is not lost: the rest of a line the pipe took in part
// is written next, so lines stay whole, and a line it took none of goes back to the
// outbox, where only newer messages of its kind can replace it. Until a write succeeds
// again the pipe counts as stalled. Once a write fails (the controller is gone) nothing
// more is kept.
//
// Threads: any thread posts; the writer thread writes; Start and Stop are called by the
// pipe client's owner (the main thread, or the teardown's helper thread).
#pragma once

#include <string>

#include "outbox.h"
#include "win_types.h"

class PipeWriter {
public:
    static constexpr DWORD kWriteBoundMs = 2000;
    static constexpr DWORD kJoinMs = 2000;

    PipeWriter();
    ~PipeWriter() { Stop(0); }
    PipeWriter(const PipeWriter&) = delete;
    PipeWriter& operator=(const PipeWriter&) = delete;

    // Starts the writer thread on `pipe`, which must outlive it. False when no thread
    // could be made: then posts are dropped.
    bool Start(HANDLE pipe);
    void Post(MessageKind kind, std::string line);
    // Gives the writer at most drainMs to empty the outbox, then ends it (a write in
    // flight is cancelled) and waits at most kJoinMs for its thread. False when it has
    // not ended: the pipe must then stay open.
    bool Stop(DWORD drainMs);

    void SetWriteBoundForTesting(DWORD milliseconds) { writeBoundMs_ = milliseconds; }

private:
    static DWORD WINAPI Main(LPVOID self);
    void Run();
    // Writer thread: waits for the next line; false on stop.
    bool TakeLine();
    // Writer thread: writes the line taken, to its end unless stopped; false on stop.
    bool WriteLine();
    // Writer thread: one write of what is left of the line; false on stop.
    bool WriteRest();
    void Fail(DWORD error);
    void SetStalled(bool stalled);

    HANDLE pipe_ = INVALID_HANDLE_VALUE;  // borrowed
    CriticalSection lock_;
    Outbox outbox_;         // under lock_
    bool failed_ = false;   // under lock_
    UniqueHandle wake_;     // auto-reset: something was posted
    UniqueHandle drained_;  // manual-reset: set while nothing waits and nothing is in flight
    UniqueHandle stop_;     // manual-reset
    UniqueHandle writeEvent_;
    OVERLAPPED overlapped_ = {};  // lives as long as the writer, so a cancelled write is safe
    UniqueHandle thread_;
    bool stuck_ = false;  // the thread outlasted Stop's join
    DWORD writeBoundMs_ = kWriteBoundMs;
    // Writer thread only: the line in flight and how much of it the pipe has taken.
    MessageKind kind_ = MessageKind::Ordered;
    std::string line_;
    size_t sent_ = 0;
};
