#include "host_process.h"

#include <utility>

#include "host_commands.h"
#include "host_process_state.h"
#include "secure_pipe.h"

namespace {

using State = HostProcess::State;

constexpr DWORD kThreadJoinMs = 5000;
constexpr DWORD kTerminateWaitMs = 5000;
// After the host's end its pipe is broken; the reader needs only to take what is left.
constexpr DWORD kDrainAfterExitMs = 2000;

HostResult Fail(HostError error, std::string reason, uint32_t systemError = 0) {
    HostResult result;
    result.error = error;
    result.systemError = systemError;
    result.reason = std::move(reason);
    return result;
}

bool Signalled(const UniqueHandle& event) {
    return WaitForSingleObject(event.Get(), 0) == WAIT_OBJECT_0;
}

template <void (*Body)(State&)>
DWORD WINAPI ThreadMain(LPVOID context) {
    // The thread's own reference keeps the state alive until the thread has finished.
    auto* reference = static_cast<std::shared_ptr<State>*>(context);
    Body(**reference);
    delete reference;
    return 0;
}

template <void (*Body)(State&)>
UniqueHandle StartThread(const std::shared_ptr<State>& state, DWORD* threadId = nullptr) {
    auto* reference = new std::shared_ptr<State>(state);
    UniqueHandle thread(CreateThread(nullptr, 0, &ThreadMain<Body>, reference, 0, threadId));
    if (!thread) {
        delete reference;
    }
    return thread;
}

void RunCallbacks(State& s) {
    HostEvent event;
    while (!s.detached.load() && s.queue.Pop(event, kWaitForever)) {
        if (s.detached.load()) {
            break;
        }
        s.options.onEvent(event);
    }
}

bool CreateEvents(State& s) {
    s.control.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    s.pipeOpened.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    s.readyArrived.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    s.readingEnded.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    s.writeEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return s.control && s.pipeOpened && s.readyArrived && s.readingEnded && s.writeEvent;
}

HostResult CreatePipe(State& s) {
    s.pipeName = s.options.pipeName;
    if (s.pipeName.empty() && !MakeUnguessablePipeName(s.options.pipeNamePrefix, s.pipeName)) {
        return Fail(HostError::PipeFailed, "cannot make a pipe name: no random numbers");
    }
    DWORD error = 0;
    s.pipe = CreateHostPipe(s.pipeName, static_cast<DWORD>(s.options.pipeBufferBytes), error);
    if (!s.pipe) {
        bool taken = error == ERROR_ACCESS_DENIED || error == ERROR_PIPE_BUSY ||
                     error == ERROR_ALREADY_EXISTS;
        return Fail(
            taken ? HostError::PipeNameTaken : HostError::PipeFailed,
            "cannot create pipe \\\\.\\pipe\\" + s.pipeName + ", error " + std::to_string(error),
            error);
    }
    return HostResult();
}

HostResult Launch(State& s) {
    s.commandLine = HostCommandLine(s.options.executable, s.options.passPipeName ? s.pipeName : "",
                                    s.options.arguments);
    DWORD error = 0;
    std::string step;
    if (!LaunchHostInJob(s.commandLine, s.host, error, step)) {
        std::string what = step == "start" ? "start " + s.commandLine : step;
        return Fail(HostError::LaunchFailed, "cannot " + what + ", error " + std::to_string(error),
                    error);
    }
    return HostResult();
}

HostResult StartThreads(const std::shared_ptr<State>& s) {
    s->readerThread = StartThread<RunPipeReader>(s);
    if (s->readerThread && s->options.onEvent) {
        s->callbackThread = StartThread<RunCallbacks>(s, &s->callbackThreadId);
    }
    if (!s->readerThread || (s->options.onEvent && !s->callbackThread)) {
        DWORD error = GetLastError();
        TerminateProcess(s->host.process.Get(), kTerminatedExitCode);
        s->stopping.store(true);
        SetEvent(s->control.Get());
        return Fail(HostError::LaunchFailed,
                    "cannot create a thread, error " + std::to_string(error), error);
    }
    return HostResult();
}

HostResult Write(State& s, const std::string& bytes) {
    ScopedLock lock(s.writeLock);
    if (s.pipeClosed) {
        return Fail(HostError::PipeClosed, "pipe is closed; not sent");
    }
    if (!Signalled(s.pipeOpened)) {
        return Fail(HostError::WrongState, "the host has not opened the pipe yet");
    }
    // After a write cut off part-way, an LF first ends that fragment, so that this line is
    // not glued onto it.
    std::string text = (s.lineOpen ? "\n" : "") + bytes;
    s.lineOpen = false;
    OVERLAPPED overlapped = {};
    overlapped.hEvent = s.writeEvent.Get();
    ResetEvent(s.writeEvent.Get());
    DWORD written = 0;
    HANDLE pipe = s.pipe.Get();
    if (WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, &overlapped)) {
        return HostResult();
    }
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        return Fail(HostError::WriteFailed, "write failed, error " + std::to_string(error), error);
    }
    if (WaitForSingleObject(s.writeEvent.Get(), s.options.writeTimeoutMs) != WAIT_OBJECT_0) {
        CancelIoEx(pipe, &overlapped);
        GetOverlappedResult(pipe, &overlapped, &written, TRUE);
        s.lineOpen = written > 0 && written < text.size();
        return Fail(HostError::WriteTimedOut, "write not taken within " +
                                                  std::to_string(s.options.writeTimeoutMs) +
                                                  " ms; cancelled");
    }
    if (!GetOverlappedResult(pipe, &overlapped, &written, FALSE)) {
        error = GetLastError();
        return Fail(HostError::WriteFailed, "write failed, error " + std::to_string(error), error);
    }
    return HostResult();
}

void CloseHandleOfPipe(State& s, bool flush) {
    ScopedLock lock(s.writeLock);
    if (s.pipeClosed) {
        return;
    }
    if (flush && Signalled(s.pipeOpened)) {
        FlushFileBuffers(s.pipe.Get());  // what was sent is read before the pipe goes
    }
    s.pipe.Reset();
    s.pipeClosed = true;
}

// Lets the reader take what the ended host left in the pipe, then stops both threads.
void StopThreads(State& s) {
    if (WaitForSingleObject(s.host.process.Get(), 0) == WAIT_OBJECT_0) {
        WaitForSingleObject(s.readingEnded.Get(), kDrainAfterExitMs);
    }
    s.stopping.store(true);
    SetEvent(s.control.Get());
    if (s.readerThread) {
        WaitForSingleObject(s.readerThread.Get(), kThreadJoinMs);
    }
    s.queue.Close();
    if (s.callbackThread && GetCurrentThreadId() != s.callbackThreadId) {
        WaitForSingleObject(s.callbackThread.Get(), kThreadJoinMs);
    }
}

}  // namespace

HostProcess::HostProcess() = default;

HostProcess::~HostProcess() {
    if (!state_) {
        return;
    }
    End(state_->options.endWaitMs);
    state_->detached.store(true);
}

HostResult HostProcess::Start(HostOptions options) {
    if (state_) {
        return Fail(HostError::WrongState, "this HostProcess has been started already");
    }
    if (options.executable.empty()) {
        return Fail(HostError::InvalidArgument, "no host executable given");
    }
    auto s = std::make_shared<State>(options);
    QueryPerformanceFrequency(&s->ticksPerSecond);
    QueryPerformanceCounter(&s->startTicks);
    if (!CreateEvents(*s)) {
        return Fail(HostError::PipeFailed, "cannot create events", GetLastError());
    }
    HostResult result = CreatePipe(*s);
    if (result) {
        result = Launch(*s);
    }
    if (result) {
        result = StartThreads(s);
    }
    if (result) {
        state_ = std::move(s);
    }
    return result;
}

HostResult HostProcess::WaitForReady(unsigned timeoutMs, HostReady* ready) {
    if (!state_) {
        return Fail(HostError::WrongState, "not started");
    }
    State& s = *state_;
    HANDLE waits[2] = {s.readyArrived.Get(), s.readingEnded.Get()};
    DWORD woken = WaitForMultipleObjects(2, waits, FALSE, timeoutMs);
    bool opened = Signalled(s.pipeOpened);
    if (Signalled(s.readyArrived)) {
        if (ready) {
            *ready = s.ready;
        }
        return HostResult();
    }
    if (woken == WAIT_OBJECT_0 + 1) {
        if (WaitForSingleObject(s.host.process.Get(), kDrainAfterExitMs) != WAIT_OBJECT_0) {
            return Fail(HostError::PipeClosed, "the pipe closed before host_ready");
        }
        DWORD code = 0;
        GetExitCodeProcess(s.host.process.Get(), &code);
        HostResult result =
            Fail(opened ? HostError::ExitedBeforeReady : HostError::ExitedBeforePipe,
                 "the host exited with code " + std::to_string(code) +
                     (opened ? " before it sent host_ready" : " without opening the pipe"));
        result.exitCode = code;
        return result;
    }
    std::string limit = std::to_string(timeoutMs) + " ms";
    return opened
               ? Fail(HostError::ReadyTimedOut, "no host_ready within " + limit)
               : Fail(HostError::PipeNeverOpened, "the host did not open the pipe within " + limit);
}

bool HostProcess::NextEvent(HostEvent& event, unsigned timeoutMs) {
    if (!state_ || state_->options.onEvent) {
        return false;
    }
    return state_->queue.Pop(event, timeoutMs);
}

HostResult HostProcess::SetSource(const std::string& name) {
    std::string problem = CheckSourceName(name);
    if (!problem.empty()) {
        return Fail(HostError::InvalidArgument, problem);
    }
    return SendLine(SetSourceCommand(name));
}

HostResult HostProcess::SetSource(const std::string& name, const std::string& quality) {
    std::string problem = CheckSourceName(name);
    if (problem.empty()) {
        problem = CheckQuality(quality);
    }
    if (!problem.empty()) {
        return Fail(HostError::InvalidArgument, problem);
    }
    return SendLine(SetSourceCommand(name, quality));
}

HostResult HostProcess::SetQuality(const std::string& quality) {
    std::string problem = CheckQuality(quality);
    if (!problem.empty()) {
        return Fail(HostError::InvalidArgument, problem);
    }
    return SendLine(SetQualityCommand(quality));
}

HostResult HostProcess::Shutdown() {
    return SendLine(ShutdownCommand());
}

HostResult HostProcess::SendLine(const std::string& line) {
    return SendRaw(line + "\n");
}

HostResult HostProcess::SendRaw(const std::string& bytes) {
    if (!state_) {
        return Fail(HostError::WrongState, "not started");
    }
    return Write(*state_, bytes);
}

void HostProcess::SuspendReading() {
    if (state_) {
        state_->suspended.store(true);
        SetEvent(state_->control.Get());
    }
}

void HostProcess::ResumeReading() {
    if (state_) {
        state_->suspended.store(false);
        SetEvent(state_->control.Get());
    }
}

HostResult HostProcess::ClosePipe() {
    if (!state_) {
        return Fail(HostError::WrongState, "not started");
    }
    State& s = *state_;
    {
        ScopedLock lock(s.writeLock);
        if (s.pipeClosed) {
            return Fail(HostError::PipeClosed, "the pipe is closed already");
        }
    }
    s.closeRequested.store(true);
    SetEvent(s.control.Get());
    WaitForSingleObject(s.readingEnded.Get(), kThreadJoinMs);
    CloseHandleOfPipe(s, true);
    return HostResult();
}

HostResult HostProcess::End(unsigned waitMs, uint32_t* exitCode) {
    if (!state_) {
        return Fail(HostError::WrongState, "not started");
    }
    State& s = *state_;
    ScopedLock lock(s.endLock);
    if (!s.ended) {
        s.ended = true;
        HANDLE process = s.host.process.Get();
        if (WaitForSingleObject(process, 0) != WAIT_OBJECT_0) {
            // A host that never opened the pipe cannot hear the shutdown: no wait for it.
            HostResult sent = Shutdown();
            bool mayEnd = sent || sent.error != HostError::WrongState;
            if (!mayEnd || WaitForSingleObject(process, waitMs) != WAIT_OBJECT_0) {
                TerminateProcess(process, kTerminatedExitCode);
                WaitForSingleObject(process, kTerminateWaitMs);
            }
        }
        StopThreads(s);
        CloseHandleOfPipe(s, false);
    }
    if (!HasExited(exitCode)) {
        return Fail(HostError::WrongState, "the host did not end, even when terminated");
    }
    return HostResult();
}

HostResult HostProcess::Terminate(uint32_t exitCode) {
    if (!state_) {
        return Fail(HostError::WrongState, "not started");
    }
    HANDLE process = state_->host.process.Get();
    if (!TerminateProcess(process, exitCode) && WaitForSingleObject(process, 0) != WAIT_OBJECT_0) {
        DWORD error = GetLastError();
        return Fail(HostError::WrongState, "cannot terminate, error " + std::to_string(error),
                    error);
    }
    WaitForSingleObject(process, kTerminateWaitMs);
    return HostResult();
}

bool HostProcess::HasExited(uint32_t* exitCode) const {
    if (!state_ || WaitForSingleObject(state_->host.process.Get(), 0) != WAIT_OBJECT_0) {
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(state_->host.process.Get(), &code);
    if (exitCode) {
        *exitCode = code;
    }
    return true;
}

const std::string& HostProcess::pipeName() const {
    static const std::string kNone;
    return state_ ? state_->pipeName : kNone;
}

const std::string& HostProcess::commandLine() const {
    static const std::string kNone;
    return state_ ? state_->commandLine : kNone;
}

DWORD HostProcess::processId() const {
    return state_ ? state_->host.processId : 0;
}

HANDLE HostProcess::processHandle() const {
    return state_ ? state_->host.process.Get() : nullptr;
}

size_t HostProcess::droppedEvents() const {
    return state_ ? state_->queue.dropped() : 0;
}
