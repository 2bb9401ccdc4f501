// What a HostProcess shares with its threads. Every method of HostProcess, the reader
// thread, the callback thread and a pipe flush each hold a reference of their own for as
// long as they run, so the state outlives a HostProcess that is destroyed from inside its
// own event callback. Fields are set before the threads start, or guarded as noted.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "callback_runner.h"
#include "event_queue.h"
#include "host_launch.h"
#include "host_process.h"
#include "listing_waiters.h"
#include "source_gatherer.h"
#include "thread_wait.h"
#include "win_types.h"

struct HostProcess::State {
    explicit State(const HostOptions& hostOptions)
        : options(hostOptions), queue(hostOptions.maxQueuedEvents) {
        if (options.onEvent) {
            callbacks = std::make_unique<CallbackRunner>(queue, options.onEvent);
        }
    }

    HostOptions options;
    std::string pipeName;
    std::string commandLine;
    LaunchedHost host;
    LARGE_INTEGER startTicks = {};
    LARGE_INTEGER ticksPerSecond = {};
    EventQueue queue;

    // The pipe handle: read by the reader thread until it ends, written under writeLock,
    // closed under writeLock once neither the reader nor a flush uses it any more (or
    // with the state).
    UniqueHandle pipe;
    std::timed_mutex writeLock;  // held for one bounded write; never while waiting else
    UniqueHandle writeEvent;     // manual-reset, under writeLock
    bool pipeClosed = false;     // under writeLock: no more writes
    bool lineOpen = false;       // under writeLock: a cut-off write left part of a line
    UniqueHandle flushThread;    // under writeLock: ClosePipe's flush

    // Wakes the reader (auto-reset) after a change of the three flags below.
    UniqueHandle control;
    std::atomic<bool> stopping{false};
    std::atomic<bool> closeRequested{false};
    std::atomic<bool> suspended{false};

    // The reader sets each once, in this order.
    Signal pipeOpened;
    Signal readyArrived;
    Signal readingEnded;
    HostReady ready;    // written before readyArrived is set
    std::string fault;  // written before readingEnded is set: why the host was ended

    UniqueHandle readerThread;
    UniqueHandle callbackThread;
    std::unique_ptr<CallbackRunner> callbacks;  // with an event callback only
    std::atomic<bool> shutdownSent{false};

    // Source listings: the reader gathers each one and hands it to the ListSources calls
    // waiting at that moment, then queues it as a Sources event.
    SourceGatherer gatherer;  // reader thread only
    ListingWaiters listings;

    // A view's watch of the frame sizes, called by the reader under frameWatchLock.
    std::mutex frameWatchLock;
    std::function<void(const HostEvent&)> frameWatch;  // under frameWatchLock

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
