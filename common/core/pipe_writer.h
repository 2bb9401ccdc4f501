// The one writer of the pipe. Every thread hands its messages to Post, which only puts
// them in the outbox (outbox.h says what is kept while the controller does not read) and
// never waits for the pipe; the writer thread drains the outbox one line a write. A write
// the pipe has not taken within the write bound (2000 ms) makes the pipe count as stalled,
// so that newer state collapses behind it in the outbox, and is waited for further: a
// line, once begun, is written whole, and only a stop cancels a write. The pipe counts as
// flowing again once a write has ended. Once a write fails (the controller is gone)
// nothing more is kept.
//
// Threads: any thread posts; the writer thread writes; Start and Stop are called by the
// pipe client's owner (the main thread, or the teardown's helper thread). Win32-free: the
// pipe is reached through a WriteChannel.
#pragma once

#include <memory>
#include <string>

#include "bounded_thread.h"
#include "outbox.h"
#include "write_channel.h"

class PipeWriter {
public:
    static constexpr unsigned kWriteBoundMs = 2000;
    static constexpr unsigned kJoinMs = 2000;

    PipeWriter();
    ~PipeWriter() { Stop(0); }
    PipeWriter(const PipeWriter&) = delete;
    PipeWriter& operator=(const PipeWriter&) = delete;

    // Starts the writer thread on `channel`, which it holds until it ends. False when no
    // thread could be made: then posts are dropped.
    bool Start(std::shared_ptr<WriteChannel> channel);
    void Post(MessageKind kind, std::string line);
    // Whether a line of `kind` waits in the outbox (the one being written does not count:
    // the pipe may have taken it, and the controller read it, before the writer is told).
    bool Waiting(MessageKind kind);
    // Gives the writer at most drainMs to empty the outbox, then ends it (a write in
    // flight is cancelled: the reader may then get part of its line) and waits at most
    // kJoinMs for its thread. False when it has not ended: it then keeps the channel until
    // it does, and a later Stop only looks whether it has.
    bool Stop(unsigned drainMs);

    void SetWriteBoundForTesting(unsigned milliseconds);

private:
    struct Shared;  // held by the writer thread too
    std::shared_ptr<Shared> shared_;
    bool started_ = false;  // until Stop
    BoundedThread thread_;
};
