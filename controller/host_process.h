// HostProcess: one receiver host, started, steered and ended by the controlling
// application. It owns the host's pipe (see secure_pipe.h), the host process and the job
// object that ends the host with the application (see host_launch.h).
//
// Threads: the application may call every method from any thread; each call holds the
// shared state for its whole length, and sends are serialised. The controller runs a
// reader thread of its own that reads every line the host writes at once (so a slow
// application never stalls the host's writes) and then waits for the host's end; with an
// event callback it also runs a callback thread that delivers the events in order. The
// waits that may stand between a callback and its return (ready, end, destruction) take
// the messages other threads send to the waiting thread, so a callback that hands an
// event to that thread with SendMessage is answered. Nothing throws; every failure is a
// HostResult.
//
// Text is UTF-8 throughout: the executable's path, the arguments, the names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host_event.h"
#include "startup_failure.h"

#include <windows.h>

enum class HostError {
    None,
    InvalidArgument,    // no absolute .exe path, an empty source name, a NUL byte, not UTF-8
    WrongState,         // not started, started twice, or the pipe is not open yet
    PipeNameTaken,      // another server already has a pipe of that name
    PipeFailed,         // the pipe could not be made
    LaunchFailed,       // the host process could not be started or put in its job
    ExitedBeforePipe,   // the host ended without opening the pipe (exitCode is set)
    ExitedBeforeReady,  // the host opened the pipe but ended before host_ready
    PipeNeverOpened,    // the wait for host_ready ran out before the host opened the pipe
    ReadyTimedOut,      // the host opened the pipe but sent no host_ready in time
    PipeClosed,         // the pipe is closed: by ClosePipe, End, or the host's end
    WriteFailed,        // the system refused the write (systemError is set)
    WriteTimedOut,      // the host did not take the bytes within the write time limit
    HostFaulty,         // the host broke the protocol and was ended (see HostEventType::Fault)
    ListingFailed,      // the host answered list_sources without a list, or without a whole
                        // one: `reason` is the host's error text or says what is missing
    ListingTimedOut,    // no answer to list_sources in time: a host older than the command
                        // ignores it
};

struct HostResult {
    HostError error = HostError::None;
    uint32_t systemError = 0;  // the system's error code, where one applies
    uint32_t exitCode = 0;     // ExitedBeforePipe, ExitedBeforeReady: the host's exit code
    std::string reason;        // one line for a person, empty on success
    // ExitedBeforePipe: why the host could not start, as it said itself (reason None when
    // it did not say); `reason` ends with its text.
    StartupProblem startup;

    explicit operator bool() const { return error == HostError::None; }
};

struct HostOptions {
    // The absolute path of Tivane.exe, Parlex.exe or Grelm.exe. The host runs in its own
    // folder.
    std::string executable;
    // Host options after --pipeName=, e.g. --quality=low; each reaches the host as one
    // argument, whatever it holds (quoted by the rules CommandLineToArgvW reads).
    std::vector<std::string> arguments;
    std::string pipeName;  // empty: an unguessable name is made
    std::string pipeNamePrefix = "host";
    bool passPipeName = true;  // false only to see how a host without one fails
    // The pipe's buffer each way. A small one (0: every write waits for our read) shows
    // how a host copes with a controller that reads late.
    size_t pipeBufferBytes = 64 * 1024;
    // Called on the controller's callback thread, once per event, in order. Empty: the
    // application takes events with NextEvent instead.
    std::function<void(const HostEvent&)> onEvent;
    // Beyond it the oldest status, stats and other events, and listings nobody asked for,
    // are dropped; a listing that answers ListSources or RequestSources never is.
    size_t maxQueuedEvents = 4096;
    unsigned writeTimeoutMs = 5000;
    unsigned endWaitMs = 10000;  // how long the destructor waits after shutdown
    // An absolute folder put first on the host's PATH, where the host looks for its
    // receiving library after its own folder and the system folders: a vendor's runtime
    // folder, say. Empty: PATH as the application has it.
    std::string libraryFolder;
    // Variables set for the host over the application's own, each "NAME=value".
    std::vector<std::string> environment;
};

struct HostReady {
    HWND window = nullptr;
    DWORD processId = 0;  // the process the controller started; host_ready must agree
};

// The exit code the controller gives a host that it has to terminate.
constexpr uint32_t kTerminatedExitCode = 124;
// A host line longer than this (or as many bytes without a line feed) is a fault: the
// controller ends the host instead of holding ever more of its output.
constexpr size_t kMaxHostLineBytes = 64 * 1024;

// The fixed parts of End's worst case beyond its waitMs: a terminated host's going, the
// reader taking the host's last lines, and the callback taking the events still queued.
constexpr unsigned kTerminateWaitMs = 5000;
constexpr unsigned kReaderEndMs = 3000;
constexpr unsigned kCallbackDrainMs = 5000;

// A time limit for ListSources: a host cuts its library's discovery call off after 2.5 s
// and answers with an error, and a list of a few thousand names fits in the rest (the
// answer takes longer the more names there are: 10,000 took about 3 s under Wine).
constexpr unsigned kListSourcesWaitMs = 5000;

class HostProcess {
public:
    HostProcess();
    // Ends the host as End(endWaitMs) does, when it still runs, then StopCallbacks, then
    // waits for every thread of the library's for this host to end: once it has returned
    // no code of the library runs for it. Except where InsideCallback(): the threads then
    // end by themselves once the callback in progress has returned.
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // Makes the pipe and starts the host on it; returns once the process runs. A failed
    // Start changes nothing: it may be tried again.
    HostResult Start(HostOptions options);
    // Waits at most timeoutMs (kWaitForever: no limit) for host_ready, plus at most 2 s in
    // all for the exit code of a host that ended first and for what it said on its
    // standard error. The host_ready must name the process
    // that was started and a window of that process; otherwise the host is ended and the
    // result is HostFaulty. On a timeout the host keeps running; End or the destructor
    // ends it.
    HostResult WaitForReady(unsigned timeoutMs, HostReady* ready = nullptr);
    // The next event, waiting at most timeoutMs (kWaitForever: no limit). False on a
    // timeout, after the Exited event has been taken (EventsOver), before a start, or
    // when a callback is in use.
    bool NextEvent(HostEvent& event, unsigned timeoutMs);
    // True once every event, Exited included, has been taken.
    bool EventsOver() const;

    // Each waits at most writeTimeoutMs in all, other threads' sends ahead of it included.
    // After the host's end: PipeClosed.
    HostResult SetSource(const std::string& name);
    HostResult SetSource(const std::string& name, const std::string& quality);
    HostResult SetQuality(const std::string& quality);
    HostResult Shutdown();
    // A line as it is (an LF is added), or bytes as they are: for testing how a host
    // copes with what no well-behaved controller sends.
    HostResult SendLine(const std::string& line);
    HostResult SendRaw(const std::string& bytes);

    // Asks the host which sources it can see, without waiting: the answer comes as one
    // Sources event. Waits as SetSource does.
    HostResult RequestSources();
    // Asks the host which sources it can see and waits for the listing that answers: the
    // first one the host closes after this call began (a listing under way answers it, as
    // the host itself merges the requests). `names` gets them in the host's order, each
    // one as SetSource takes it. Works with a callback and with polling, from any thread
    // (the callback's included); the listing is delivered as a Sources event as well.
    // Waits at most timeoutMs in all, the request's write included (kWaitForever: until
    // the answer or the host's end; see kListSourcesWaitMs), taking sent messages meanwhile
    // as WaitForReady does.
    // None; ListingFailed (`reason` is the host's error, such as "Source listing not
    // supported", or says what is missing; `names` has what did arrive); ListingTimedOut
    // (the host keeps running); PipeClosed (the host ended or the pipe closed first);
    // WrongState (not started, the pipe not open yet, or no event to wait with:
    // systemError); WriteFailed; WriteTimedOut.
    HostResult ListSources(std::vector<std::string>& names, unsigned timeoutMs);

    // Stops reading the pipe until ResumeReading (or End), so that the host's writes pile
    // up in it: for testing how a host copes with a controller that stops reading.
    void SuspendReading();
    void ResumeReading();

    // Closes our end once the host has read what was sent, or after writeTimeoutMs when
    // it does not read (what it has not read is then discarded): the host sees a broken
    // pipe and ends. Events still arrive, up to Exited. Takes at most 3 s plus
    // writeTimeoutMs plus 1 s.
    HostResult ClosePipe();
    // Sends shutdown (its write is part of waitMs), waits at most waitMs in all for the
    // host to end, then terminates it with kTerminatedExitCode. The host's exit code goes
    // to exitCode. Returns once the Exited event has been delivered: taken by the
    // callback, or queued for NextEvent, except where InsideCallback() (Exited then
    // follows once the callback in progress has returned). Worst case: waitMs +
    // kTerminateWaitMs + kReaderEndMs + kCallbackDrainMs (the last only while the
    // callback is busy with earlier events). Any number of threads may call it at once;
    // each keeps its own waitMs.
    HostResult End(unsigned waitMs, uint32_t* exitCode = nullptr);
    // Ends several hosts at once: asks each to shut down, waits at most waitMs in all for
    // them together, then terminates the ones left, so that N hosts take about the time of
    // one. Otherwise as End for each, in the order given: a result and, when exitCodes is
    // given, an exit code per host (null or never started: WrongState). Worst case: waitMs
    // + kTerminateWaitMs + kReaderEndMs + kCallbackDrainMs, whatever the number of hosts.
    static std::vector<HostResult> EndMany(const std::vector<HostProcess*>& hosts, unsigned waitMs,
                                           std::vector<uint32_t>* exitCodes = nullptr);
    // No callback starts after this; waits, with no time limit, for a callback in
    // progress to return (it is the application's code), except where InsideCallback().
    // Ends no host: call End first.
    void StopCallbacks();
    // True where waiting for the callback could mean waiting for oneself: on the callback
    // thread, and in a message that the callback in progress sent this thread with
    // SendMessage and waits for. In a message that another thread sent while a callback
    // runs it asks the callback's thread, taking sent messages meanwhile: that thread
    // answers only from inside a wait that takes sent messages, so the call waits until
    // the callback has returned or has shown itself blocked in such a wait (see
    // host_controller.h's hc_destroy for the one case this cannot tell).
    bool InsideCallback() const;
    // Terminates the host at once with `exitCode`; waits at most kTerminateWaitMs.
    HostResult Terminate(uint32_t exitCode);

    // For a view (host_view.h): `watch` runs on the reader thread with every Stats and
    // FrameSize event, before it is queued, so that a new frame size is followed at once
    // whoever takes the events. One watch at a time; an empty one ends it, waiting for a
    // call in progress (so never from inside the watch). WrongState before the start.
    HostResult WatchFrameSizes(std::function<void(const HostEvent&)> watch);

    bool Started() const;
    // True once the host process has ended; its exit code goes to exitCode.
    bool HasExited(uint32_t* exitCode = nullptr) const;
    // Once the host has ended: why it could not start, as it said (reason None when it
    // started, or ended without saying). The first call after the end stops the reader of
    // the host's standard error: it waits at most 1 s for that, taking sent messages.
    StartupProblem startupProblem() const;
    const std::string& pipeName() const;
    const std::string& commandLine() const;
    DWORD processId() const;
    HANDLE processHandle() const;  // owned by the HostProcess
    size_t droppedEvents() const;

    struct State;

private:
    // The state as one call holds it: Start may publish it on another thread meanwhile.
    std::shared_ptr<State> Held() const;

    std::mutex startLock_;  // one Start at a time
    std::shared_ptr<State> state_;
};
