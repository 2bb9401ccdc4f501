// What a HostProcess shares with its threads. The application's calls, the reader thread
// and the callback thread each hold a reference, so the state outlives a HostProcess that
// is destroyed from inside its own event callback. Fields are set before the threads
// start, or guarded as noted.
#pragma once

#include <atomic>
#include <string>

#include "event_queue.h"
#include "host_launch.h"
#include "host_process.h"
#include "win_types.h"

struct HostProcess::State {
    explicit State(const HostOptions& hostOptions)
        : options(hostOptions), queue(hostOptions.maxQueuedEvents) {}

    HostOptions options;
    std::string pipeName;
    std::string commandLine;
    LaunchedHost host;
    LARGE_INTEGER startTicks = {};
    LARGE_INTEGER ticksPerSecond = {};
    EventQueue queue;

    // The pipe handle: read by the reader thread until readingEnded is set, written under
    // writeLock, closed under writeLock once reading has ended.
    UniqueHandle pipe;
    CriticalSection writeLock;
    UniqueHandle writeEvent;  // manual-reset, under writeLock
    bool pipeClosed = false;  // under writeLock
    bool lineOpen = false;    // under writeLock: a cut-off write left part of a line

    // Wakes the reader (auto-reset) after a change of the three flags below.
    UniqueHandle control;
    std::atomic<bool> stopping{false};
    std::atomic<bool> closeRequested{false};
    std::atomic<bool> suspended{false};

    // Manual-reset events the reader sets, each once, in this order.
    UniqueHandle pipeOpened;
    UniqueHandle readyArrived;
    UniqueHandle readingEnded;
    HostReady ready;  // written before readyArrived is set

    UniqueHandle readerThread;
    UniqueHandle callbackThread;
    DWORD callbackThreadId = 0;
    std::atomic<bool> detached{false};  // the HostProcess is gone: no more callbacks
    CriticalSection endLock;            // one End at a time; a second one waits for the first
    bool ended = false;                 // under endLock

    double ElapsedMs() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - startTicks.QuadPart) * 1000.0 /
               static_cast<double>(ticksPerSecond.QuadPart);
    }
};

// The reader thread's whole life: wait for the host to open the pipe, read and queue
// every line, then wait for the host's end and queue it. Ends when the host has ended or
// the state is stopping.
void RunPipeReader(HostProcess::State& state);
