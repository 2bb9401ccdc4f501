// The pipe as the writer sees it: one write at a time, waited for with a bound, ended by a
// cancel. The hosts' channel is an overlapped WriteFile on their named pipe
// (pipe_write_channel.h); the stress tests use one whose reader stalls at will. Win32-free.
#pragma once

#include <cstddef>

class WriteChannel {
public:
    enum class Outcome {
        Written,   // the write ended; `taken` says how much the pipe took
        TimedOut,  // the bound passed with the write still in flight
        Stopped,   // Interrupt was called; the write may still be in flight
        Failed,    // the pipe is gone: nothing more can be written
    };

    virtual ~WriteChannel() = default;

    // Writer thread: begins writing `size` bytes at `data`, which stay valid and unchanged
    // until the write has ended. False when it failed at once (the pipe is gone).
    virtual bool Begin(const char* data, size_t size) = 0;
    // Writer thread: waits at most boundMs for the write begun to end.
    virtual Outcome Await(unsigned boundMs, size_t& taken) = 0;
    // Writer thread: ends the write begun; `taken` is what the pipe took of it before.
    virtual void Cancel(size_t& taken) = 0;
    // Any thread: every Await from now on returns Stopped at once.
    virtual void Interrupt() = 0;
};
