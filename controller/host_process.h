// HostProcess: one receiver host, started, steered and ended by the controlling
// application. It owns the host's pipe (see secure_pipe.h), the host process and the job
// object that ends the host with the application (see host_launch.h).
//
// Threads: the application may call every method from any thread; sends are serialised.
// The controller runs a reader thread of its own that reads every line the host writes
// at once (so a slow application never stalls the host's writes) and then waits for the
// host's end; with an event callback it also runs a callback thread that delivers the
// events in order. Nothing throws; every failure is a HostResult.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "event_queue.h"
#include "host_event.h"

#include <windows.h>

enum class HostError {
    None,
    InvalidArgument,    // an empty executable or source name, or a NUL byte in a value
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
};

struct HostResult {
    HostError error = HostError::None;
    uint32_t systemError = 0;  // the system's error code, where one applies
    uint32_t exitCode = 0;     // ExitedBeforePipe, ExitedBeforeReady: the host's exit code
    std::string reason;        // one line for a person, empty on success

    explicit operator bool() const { return error == HostError::None; }
};

struct HostOptions {
    std::string executable;              // Tivane.exe, Parlex.exe or Grelm.exe, with its path
    std::vector<std::string> arguments;  // host options after --pipeName=, e.g. --quality=low
    std::string pipeName;                // empty: an unguessable name is made
    std::string pipeNamePrefix = "host";
    bool passPipeName = true;  // false only to see how a host without one fails
    // The pipe's buffer each way. A small one (0: every write waits for our read) shows
    // how a host copes with a controller that reads late.
    size_t pipeBufferBytes = 64 * 1024;
    // Called on the controller's callback thread, once per event, in order. Empty: the
    // application takes events with NextEvent instead.
    std::function<void(const HostEvent&)> onEvent;
    size_t maxQueuedEvents = 4096;  // beyond it the oldest reports are dropped
    unsigned writeTimeoutMs = 5000;
    unsigned endWaitMs = 10000;  // how long the destructor waits after shutdown
};

struct HostReady {
    HWND window = nullptr;
    DWORD processId = 0;
};

// The exit code the controller gives a host that it has to terminate.
constexpr uint32_t kTerminatedExitCode = 124;

class HostProcess {
public:
    HostProcess();
    // Ends the host as End(endWaitMs) does, when it still runs. Waits at most about 5 s
    // for an event callback in progress; no callback starts after it.
    ~HostProcess();
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    // Makes the pipe and starts the host on it; returns once the process runs.
    HostResult Start(HostOptions options);
    // Waits at most timeoutMs for host_ready. On a timeout the host keeps running; End
    // or the destructor ends it.
    HostResult WaitForReady(unsigned timeoutMs, HostReady* ready = nullptr);
    // The next event, waiting at most timeoutMs (kWaitForever: no limit). False on a
    // timeout, after the Exited event has been taken, or when a callback is in use.
    bool NextEvent(HostEvent& event, unsigned timeoutMs);

    HostResult SetSource(const std::string& name);
    HostResult SetSource(const std::string& name, const std::string& quality);
    HostResult SetQuality(const std::string& quality);
    HostResult Shutdown();
    // A line as it is (an LF is added), or bytes as they are: for testing how a host
    // copes with what no well-behaved controller sends.
    HostResult SendLine(const std::string& line);
    HostResult SendRaw(const std::string& bytes);

    // Stops reading the pipe until ResumeReading, so that the host's writes pile up in
    // it: for testing how a host copes with a controller that stops reading.
    void SuspendReading();
    void ResumeReading();

    // Closes our end after the host has read what was sent: the host sees a broken pipe
    // and ends. Events still arrive, up to Exited.
    HostResult ClosePipe();
    // shutdown, then waits at most waitMs for the host to end, then terminates it with
    // kTerminatedExitCode. The host's exit code goes to exitCode.
    HostResult End(unsigned waitMs, uint32_t* exitCode = nullptr);
    // Terminates the host at once with `exitCode`.
    HostResult Terminate(uint32_t exitCode);

    // True once the host process has ended; its exit code goes to exitCode.
    bool HasExited(uint32_t* exitCode = nullptr) const;
    const std::string& pipeName() const;
    const std::string& commandLine() const;
    DWORD processId() const;
    HANDLE processHandle() const;  // owned by the HostProcess
    size_t droppedEvents() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};
