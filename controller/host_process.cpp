#include "host_process.h"

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <utility>
#include <vector>

#include "host_commands.h"
#include "host_environment.h"
#include "host_process_state.h"
#include "library_thread.h"
#include "secure_pipe.h"
#include "sent_message_wait.h"
#include "win_text.h"

namespace {

using State = HostProcess::State;

// After the host's end its pipe is broken; the reader needs only to take what is left.
constexpr DWORD kDrainAfterExitMs = 2000;
// A reader told to stop leaves its wait at once; this only covers a busy machine.
constexpr DWORD kReaderStopMs = kReaderEndMs - kDrainAfterExitMs;
// The reader of the host's standard error stops at once; this only covers a busy machine.
constexpr DWORD kStartupReadMs = 1000;
// After a flush that ran out of time, the disconnect ends it at once.
constexpr DWORD kFlushCancelMs = 1000;

HostResult Fail(HostError error, std::string reason, uint32_t systemError = 0) {
    HostResult result;
    result.error = error;
    result.systemError = systemError;
    result.reason = std::move(reason);
    return result;
}

HostResult NotStarted() {
    return Fail(HostError::WrongState, "no host has been started");
}

bool Signalled(HANDLE handle) {
    return WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
}

bool Signalled(const UniqueHandle& handle) {
    return Signalled(handle.Get());
}

DWORD Remaining(ULONGLONG start, unsigned limitMs) {
    if (limitMs == kWaitForever) {
        return INFINITE;
    }
    ULONGLONG spent = GetTickCount64() - start;
    return spent >= limitMs ? 0 : static_cast<DWORD>(limitMs - spent);
}

// A wait of the caller's thread: it takes sent messages, so that a callback handing an
// event to this thread with SendMessage is answered meanwhile.
DWORD CallerWait(HANDLE handle, DWORD timeoutMs) {
    return WaitTakingSentMessages(1, &handle, timeoutMs);
}

bool InsideCallback(State& s) {
    return s.callbacks && s.callbacks->InsideCallback();
}

// A thread of the library's that holds the state until it has finished with it.
template <void (*Body)(State&)>
UniqueHandle StartThread(const wchar_t* what, const std::shared_ptr<State>& state) {
    return StartLibraryThread(what, [state] { Body(*state); });
}

void RunCallbacks(State& s) {
    s.callbacks->Run();
}

// FlushFileBuffers waits until the host has read everything, with no limit of its own,
// so it runs here while ClosePipe waits a bounded time for it.
void RunFlush(State& s) {
    FlushFileBuffers(s.pipe.Get());
}

bool CreateEvents(State& s) {
    s.control.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    s.writeEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return s.control && s.pipeOpened.Valid() && s.readyArrived.Valid() && s.readingEnded.Valid() &&
           s.writeEvent;
}

HostResult CheckOptions(const HostOptions& options) {
    std::string problem = CheckHostExecutable(options.executable);
    std::wstring ignored;
    if (problem.empty() && !ToWide(options.executable, ignored)) {
        problem = "the host executable's path is not valid UTF-8";
    }
    for (const std::string& argument : options.arguments) {
        if (!problem.empty()) {
            break;
        }
        if (argument.find('\0') != std::string::npos) {
            problem = "a host argument holds a NUL byte";
        } else if (!ToWide(argument, ignored)) {
            problem = "a host argument is not valid UTF-8";
        }
    }
    if (problem.empty() && !options.libraryFolder.empty()) {
        problem = CheckLibraryFolder(options.libraryFolder);
        if (problem.empty() && !ToWide(options.libraryFolder, ignored)) {
            problem = "the library folder is not valid UTF-8";
        }
    }
    for (const std::string& entry : options.environment) {
        if (!problem.empty()) {
            break;
        }
        problem = CheckEnvironmentEntry(entry);
        if (problem.empty() && !ToWide(entry, ignored)) {
            problem = "a host variable is not valid UTF-8";
        }
    }
    return problem.empty() ? HostResult() : Fail(HostError::InvalidArgument, problem);
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
        return Fail(taken ? HostError::PipeNameTaken : HostError::PipeFailed,
                    "cannot create pipe \\\\.\\pipe\\" + s.pipeName + ": " + SystemErrorText(error),
                    error);
    }
    return HostResult();
}

// Ours, with the host's own variables and library folder; empty when it has none, and
// the host then simply gets ours.
std::wstring HostEnvironmentBlock(const HostOptions& options) {
    if (options.libraryFolder.empty() && options.environment.empty()) {
        return std::wstring();
    }
    std::vector<std::wstring> inherited;
    wchar_t* strings = GetEnvironmentStringsW();
    for (const wchar_t* entry = strings; entry != nullptr && *entry != L'\0';
         entry += wcslen(entry) + 1) {
        inherited.emplace_back(entry);
    }
    FreeEnvironmentStringsW(strings);
    std::vector<std::wstring> overrides;
    for (const std::string& entry : options.environment) {
        std::wstring wide;
        ToWide(entry, wide);  // checked by CheckOptions
        overrides.push_back(wide);
    }
    std::wstring folder;
    ToWide(options.libraryFolder, folder);
    return EnvironmentBlock(HostEnvironment(inherited, overrides, folder));
}

HostResult Launch(State& s) {
    s.commandLine = HostCommandLine(s.options.executable, s.options.passPipeName ? s.pipeName : "",
                                    s.options.arguments);
    std::wstring application;
    std::wstring line;
    std::wstring folder;
    ToWide(s.options.executable, application);  // all three checked by CheckOptions
    ToWide(s.commandLine, line);
    ToWide(HostFolder(s.options.executable), folder);
    std::wstring environment = HostEnvironmentBlock(s.options);
    DWORD error = 0;
    UniqueHandle standardError;  // the host's end; ours goes once the host has its own
    if (!s.host.errorOutput.Start(s.pipeName + "-stderr", standardError, error)) {
        return Fail(HostError::LaunchFailed,
                    "cannot make the host's standard error: " + SystemErrorText(error), error);
    }
    std::string step;
    if (!LaunchHostInJob(application, line, folder, environment.empty() ? nullptr : &environment,
                         standardError.Get(), s.host, error, step)) {
        std::string what = step == "start" ? "start " + s.options.executable : step;
        return Fail(HostError::LaunchFailed, "cannot " + what + ": " + SystemErrorText(error),
                    error);
    }
    return HostResult();
}

HostResult StartThreads(const std::shared_ptr<State>& s) {
    s->readerThread = StartThread<RunPipeReader>(L"pipe reader", s);
    if (s->readerThread && s->options.onEvent) {
        s->callbackThread = StartThread<RunCallbacks>(L"callbacks", s);
    }
    if (!s->readerThread || (s->options.onEvent && !s->callbackThread)) {
        DWORD error = GetLastError();
        TerminateProcess(s->host.process.Get(), kTerminatedExitCode);
        s->stopping.store(true);
        SetEvent(s->control.Get());
        return Fail(HostError::LaunchFailed, "cannot create a thread: " + SystemErrorText(error),
                    error);
    }
    return HostResult();
}

bool PipeGone(DWORD error) {
    return error == ERROR_NO_DATA || error == ERROR_BROKEN_PIPE ||
           error == ERROR_PIPE_NOT_CONNECTED;
}

// One write, at most timeoutMs in all: the wait for another thread's write included.
HostResult Write(State& s, const std::string& bytes, unsigned timeoutMs) {
    ULONGLONG start = GetTickCount64();
    std::unique_lock<std::timed_mutex> lock(s.writeLock, std::defer_lock);
    if (timeoutMs == kWaitForever) {
        lock.lock();
    } else if (!lock.try_lock_for(std::chrono::milliseconds(timeoutMs))) {
        return Fail(HostError::WriteTimedOut, "another command was still being written after " +
                                                  std::to_string(timeoutMs) + " ms; not sent");
    }
    if (s.pipeClosed) {
        return Fail(HostError::PipeClosed, "the pipe is closed; not sent");
    }
    if (Signalled(s.host.process)) {
        return Fail(HostError::PipeClosed, "the host has ended; not sent");
    }
    if (!s.pipeOpened.IsSet()) {
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
        return PipeGone(error)
                   ? Fail(HostError::PipeClosed, "the host has closed the pipe; not sent", error)
                   : Fail(HostError::WriteFailed, "write failed: " + SystemErrorText(error), error);
    }
    if (WaitForSingleObject(s.writeEvent.Get(), Remaining(start, timeoutMs)) != WAIT_OBJECT_0) {
        CancelIoEx(pipe, &overlapped);
        GetOverlappedResult(pipe, &overlapped, &written, TRUE);
        s.lineOpen = written > 0 && written < text.size();
        return Fail(HostError::WriteTimedOut,
                    "write not taken within " + std::to_string(timeoutMs) + " ms; cancelled");
    }
    if (!GetOverlappedResult(pipe, &overlapped, &written, FALSE)) {
        error = GetLastError();
        return PipeGone(error)
                   ? Fail(HostError::PipeClosed, "the host has closed the pipe; not sent", error)
                   : Fail(HostError::WriteFailed, "write failed: " + SystemErrorText(error), error);
    }
    return HostResult();
}

// A listing that answers a request is never dropped from the events; the reader counts
// the requests written to tell.
HostResult WriteListingRequest(State& s, unsigned timeoutMs) {
    s.listings.NoteRequest();
    HostResult result = Write(s, ListSourcesCommand() + "\n", timeoutMs);
    if (!result) {
        s.listings.WithdrawRequest();
    }
    return result;
}

// No write follows; the handle itself goes once neither the reader nor a flush can be
// using it, else with the state.
void RetirePipe(State& s) {
    std::lock_guard<std::timed_mutex> lock(s.writeLock);
    s.pipeClosed = true;
    bool flushing = s.flushThread && !Signalled(s.flushThread);
    if (s.readingEnded.IsSet() && !flushing) {
        s.pipe.Reset();
    }
}

// Sends shutdown, its write within what is left of waitMs since `start`, to a host that
// has not ended. False when the host cannot hear it (it never opened the pipe): there is
// no point in waiting for it then.
bool AskToEnd(State& s, ULONGLONG start, unsigned waitMs) {
    if (Signalled(s.host.process)) {
        return true;
    }
    bool mayHear = s.pipeOpened.IsSet();
    if (mayHear && !s.shutdownSent.exchange(true)) {
        unsigned writeMs = std::min<unsigned>(s.options.writeTimeoutMs, Remaining(start, waitMs));
        mayHear = Write(s, ShutdownCommand() + "\n", writeMs).error != HostError::WrongState;
    }
    return mayHear;
}

// The host's last lines are to be read, not left in the pipe.
void ResumeForTheEnd(State& s) {
    s.suspended.store(false);
    SetEvent(s.control.Get());
}

// The readers of ended hosts end by themselves once they have taken what their host left
// in the pipe; waits that share one start add up to the longest, not to their sum.
void AwaitDrain(State& s, ULONGLONG start) {
    if (Signalled(s.host.process)) {
        CallerWait(s.readerThread.Get(), Remaining(start, kDrainAfterExitMs));
    }
}

void StopReader(State& s, ULONGLONG start) {
    s.stopping.store(true);
    SetEvent(s.control.Get());
    CallerWait(s.readerThread.Get(), Remaining(start, kReaderStopMs));
    s.queue.Close();
}

// The callback takes the events still queued, Exited among them.
void AwaitCallbacks(State& s, ULONGLONG start) {
    if (s.callbacks) {
        s.callbacks->AwaitEnd(Remaining(start, kCallbackDrainMs));
    }
}

// Every thread of the library's for this host, to its end, taking sent messages while it
// waits: once the owner has gone, no code of the library's runs for it. Not where waiting
// for the callback thread could mean waiting for this very thread (inside the callback):
// the threads then end by themselves, each holding the library loaded until it has.
void JoinThreads(State& s) {
    if (s.callbacks && s.callbacks->AwaitEnd(kWaitForever) != CallbackRunner::Awaited::Ended) {
        return;
    }
    HANDLE flush = nullptr;
    {
        std::lock_guard<std::timed_mutex> lock(s.writeLock);
        flush = s.flushThread.Get();
    }
    for (HANDLE thread : {s.readerThread.Get(), s.callbackThread.Get(), flush}) {
        if (thread != nullptr) {
            CallerWait(thread, INFINITE);
        }
    }
}

}  // namespace

HostProcess::HostProcess() = default;

// The state goes with the last thread of the library's that holds it: here, once they are
// joined, and with it the drain of the host's standard error (joined as it goes).
HostProcess::~HostProcess() {
    std::shared_ptr<State> held = Held();
    if (!held) {
        return;
    }
    End(held->options.endWaitMs);
    StopCallbacks();
    JoinThreads(*held);
}

std::shared_ptr<HostProcess::State> HostProcess::Held() const {
    return std::atomic_load(&state_);
}

HostResult HostProcess::Start(HostOptions options) {
    std::lock_guard<std::mutex> lock(startLock_);
    if (Held()) {
        return Fail(HostError::WrongState, "this HostProcess has been started already");
    }
    HostResult result = CheckOptions(options);
    if (!result) {
        return result;
    }
    auto s = std::make_shared<State>(options);
    QueryPerformanceFrequency(&s->ticksPerSecond);
    QueryPerformanceCounter(&s->startTicks);
    if (!CreateEvents(*s)) {
        DWORD error = GetLastError();
        return Fail(HostError::PipeFailed, "cannot create events: " + SystemErrorText(error),
                    error);
    }
    result = CreatePipe(*s);
    if (result) {
        result = Launch(*s);
    }
    if (result) {
        result = StartThreads(s);
    }
    if (result) {
        std::atomic_store(&state_, std::move(s));
    }
    return result;
}

HostResult HostProcess::WaitForReady(unsigned timeoutMs, HostReady* ready) {
    std::shared_ptr<State> held = Held();
    if (!held) {
        return NotStarted();
    }
    State& s = *held;
    const Signal* waits[2] = {&s.readyArrived, &s.readingEnded};
    const int woken = WaitAny(waits, 2, timeoutMs);
    bool opened = s.pipeOpened.IsSet();
    if (s.readyArrived.IsSet()) {
        if (ready) {
            *ready = s.ready;
        }
        return HostResult();
    }
    if (woken == 1) {
        if (!s.fault.empty()) {
            return Fail(HostError::HostFaulty, s.fault);
        }
        // The host's end and what it said on its standard error share one bound.
        ULONGLONG ended = GetTickCount64();
        if (CallerWait(s.host.process.Get(), kDrainAfterExitMs) != WAIT_OBJECT_0) {
            return Fail(HostError::PipeClosed, "the host closed the pipe before host_ready");
        }
        DWORD code = 0;
        GetExitCodeProcess(s.host.process.Get(), &code);
        StartupProblem startup =
            s.host.errorOutput.Take(s.host.process.Get(), Remaining(ended, kDrainAfterExitMs));
        std::string why =
            startup.reason == StartupFailure::None
                ? ""
                : std::string(": ") + StartupFailureWord(startup.reason) + ": " + startup.text;
        HostResult result =
            Fail(opened ? HostError::ExitedBeforeReady : HostError::ExitedBeforePipe,
                 "the host exited with code " + std::to_string(code) +
                     (opened ? " before it sent host_ready" : " without opening the pipe") + why);
        result.exitCode = code;
        result.startup = std::move(startup);
        return result;
    }
    std::string limit = std::to_string(timeoutMs) + " ms";
    return opened
               ? Fail(HostError::ReadyTimedOut, "no host_ready within " + limit)
               : Fail(HostError::PipeNeverOpened, "the host did not open the pipe within " + limit);
}

bool HostProcess::NextEvent(HostEvent& event, unsigned timeoutMs) {
    std::shared_ptr<State> held = Held();
    if (!held || held->options.onEvent) {
        return false;
    }
    return held->queue.Pop(event, timeoutMs);
}

bool HostProcess::EventsOver() const {
    std::shared_ptr<State> held = Held();
    return held && held->queue.Drained();
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
    std::shared_ptr<State> held = Held();
    if (!held) {
        return NotStarted();
    }
    return Write(*held, bytes, held->options.writeTimeoutMs);
}

HostResult HostProcess::RequestSources() {
    std::shared_ptr<State> held = Held();
    if (!held) {
        return NotStarted();
    }
    return WriteListingRequest(*held, held->options.writeTimeoutMs);
}

HostResult HostProcess::ListSources(std::vector<std::string>& names, unsigned timeoutMs) {
    names.clear();
    std::shared_ptr<State> held = Held();
    if (!held) {
        return NotStarted();
    }
    State& s = *held;
    ULONGLONG start = GetTickCount64();
    // Registered before the request is written: a host that answers at once is not missed.
    ListingWaiters::Waiter waiter(s.listings);
    HostResult result = WriteListingRequest(s, std::min(s.options.writeTimeoutMs, timeoutMs));
    ListingWaiters::Waiter::Outcome outcome = ListingWaiters::Waiter::Outcome::TimedOut;
    if (result) {
        outcome = waiter.Await(s.readingEnded, Remaining(start, timeoutMs));
    }
    if (!result) {
        return result;
    }
    if (outcome == ListingWaiters::Waiter::Outcome::Answered) {
        names = std::move(waiter.names);
        return waiter.error.empty() ? HostResult() : Fail(HostError::ListingFailed, waiter.error);
    }
    if (outcome == ListingWaiters::Waiter::Outcome::ReadingEnded) {
        return Fail(HostError::PipeClosed,
                    "the host ended or closed the pipe before it answered "
                    "list_sources");
    }
    return Fail(HostError::ListingTimedOut,
                "no answer to list_sources within " + std::to_string(timeoutMs) +
                    " ms: the host may be older than source listing, which it then ignores");
}

void HostProcess::SuspendReading() {
    std::shared_ptr<State> held = Held();
    if (held) {
        held->suspended.store(true);
        SetEvent(held->control.Get());
    }
}

void HostProcess::ResumeReading() {
    std::shared_ptr<State> held = Held();
    if (held) {
        held->suspended.store(false);
        SetEvent(held->control.Get());
    }
}

HostResult HostProcess::ClosePipe() {
    std::shared_ptr<State> held = Held();
    if (!held) {
        return NotStarted();
    }
    State& s = *held;
    {
        std::lock_guard<std::timed_mutex> lock(s.writeLock);
        if (s.pipeClosed) {
            return Fail(HostError::PipeClosed, "the pipe is closed already");
        }
        s.pipeClosed = true;  // no write from here on
    }
    s.closeRequested.store(true);
    SetEvent(s.control.Get());
    s.readingEnded.Wait(kReaderEndMs);
    UniqueHandle flush;
    if (s.pipeOpened.IsSet() && !Signalled(s.host.process)) {
        flush = StartThread<RunFlush>(L"pipe flush", held);
    }
    if (flush && CallerWait(flush.Get(), s.options.writeTimeoutMs) != WAIT_OBJECT_0) {
        // The host does not read: what it has not read goes with the connection.
        DisconnectNamedPipe(s.pipe.Get());
        CallerWait(flush.Get(), kFlushCancelMs);
    }
    {
        std::lock_guard<std::timed_mutex> lock(s.writeLock);
        s.flushThread = std::move(flush);
    }
    RetirePipe(s);
    return HostResult();
}

// One host ended as many are: the same steps, the same bounds.
HostResult HostProcess::End(unsigned waitMs, uint32_t* exitCode) {
    std::vector<uint32_t> codes;
    HostResult result = EndMany({this}, waitMs, &codes).front();
    if (result && exitCode) {
        *exitCode = codes.front();
    }
    return result;
}

void HostProcess::StopCallbacks() {
    std::shared_ptr<State> held = Held();
    if (!held || !held->callbacks) {
        return;
    }
    held->callbacks->Stop();
    held->queue.Close();
    held->callbacks->AwaitEnd(kWaitForever);
}

HostResult HostProcess::Terminate(uint32_t exitCode) {
    std::shared_ptr<State> held = Held();
    if (!held) {
        return NotStarted();
    }
    HANDLE process = held->host.process.Get();
    if (!TerminateProcess(process, exitCode) && !Signalled(process)) {
        DWORD error = GetLastError();
        return Fail(HostError::WrongState, "cannot terminate: " + SystemErrorText(error), error);
    }
    CallerWait(process, kTerminateWaitMs);
    return HostResult();
}

HostResult HostProcess::WatchFrameSizes(std::function<void(const HostEvent&)> watch) {
    std::shared_ptr<State> s = Held();
    if (!s) {
        return NotStarted();
    }
    std::lock_guard<std::mutex> lock(s->frameWatchLock);
    s->frameWatch = std::move(watch);
    return HostResult();
}

bool HostProcess::Started() const {
    return Held() != nullptr;
}

bool HostProcess::HasExited(uint32_t* exitCode) const {
    std::shared_ptr<State> held = Held();
    if (!held || !Signalled(held->host.process)) {
        return false;
    }
    DWORD code = 0;
    GetExitCodeProcess(held->host.process.Get(), &code);
    if (exitCode) {
        *exitCode = code;
    }
    return true;
}

bool HostProcess::InsideCallback() const {
    std::shared_ptr<State> held = Held();
    return held && ::InsideCallback(*held);
}

// The strings live in the state, which the HostProcess keeps to its end.
const std::string& HostProcess::pipeName() const {
    static const std::string kNone;
    std::shared_ptr<State> held = Held();
    return held ? held->pipeName : kNone;
}

const std::string& HostProcess::commandLine() const {
    static const std::string kNone;
    std::shared_ptr<State> held = Held();
    return held ? held->commandLine : kNone;
}

DWORD HostProcess::processId() const {
    std::shared_ptr<State> held = Held();
    return held ? held->host.processId : 0;
}

HANDLE HostProcess::processHandle() const {
    std::shared_ptr<State> held = Held();
    return held ? held->host.process.Get() : nullptr;
}

size_t HostProcess::droppedEvents() const {
    std::shared_ptr<State> held = Held();
    return held ? held->queue.dropped() : 0;
}

StartupProblem HostProcess::startupProblem() const {
    std::shared_ptr<State> held = Held();
    return held ? held->host.errorOutput.Take(held->host.process.Get(), kStartupReadMs)
                : StartupProblem();
}

// End's steps, each taken for every host before the next, and each step's waits sharing
// one start: the hosts end side by side.
std::vector<HostResult> HostProcess::EndMany(const std::vector<HostProcess*>& hosts,
                                             unsigned waitMs, std::vector<uint32_t>* exitCodes) {
    std::vector<std::shared_ptr<State>> held;  // per host, null where none was started
    std::vector<std::shared_ptr<State>> states;
    for (HostProcess* host : hosts) {
        held.push_back(host ? host->Held() : nullptr);
        if (held.back()) {
            states.push_back(held.back());
        }
    }
    for (const std::shared_ptr<State>& s : states) {
        ResumeForTheEnd(*s);
    }
    ULONGLONG start = GetTickCount64();
    std::vector<bool> mayHear;
    for (const std::shared_ptr<State>& s : states) {
        mayHear.push_back(AskToEnd(*s, start, waitMs));
    }
    for (size_t i = 0; i < states.size(); ++i) {
        if (mayHear[i]) {
            CallerWait(states[i]->host.process.Get(), Remaining(start, waitMs));
        }
    }
    for (const std::shared_ptr<State>& s : states) {
        if (!Signalled(s->host.process)) {
            TerminateProcess(s->host.process.Get(), kTerminatedExitCode);
        }
    }
    ULONGLONG step = GetTickCount64();
    for (const std::shared_ptr<State>& s : states) {
        CallerWait(s->host.process.Get(), Remaining(step, kTerminateWaitMs));
    }
    step = GetTickCount64();
    for (const std::shared_ptr<State>& s : states) {
        AwaitDrain(*s, step);
    }
    step = GetTickCount64();
    for (const std::shared_ptr<State>& s : states) {
        StopReader(*s, step);
    }
    step = GetTickCount64();
    for (const std::shared_ptr<State>& s : states) {
        AwaitCallbacks(*s, step);
        RetirePipe(*s);
    }
    std::vector<HostResult> results;
    if (exitCodes) {
        exitCodes->assign(hosts.size(), 0);
    }
    for (size_t i = 0; i < hosts.size(); ++i) {
        DWORD code = 0;
        if (!held[i]) {
            results.push_back(NotStarted());
        } else if (!Signalled(held[i]->host.process) ||
                   !GetExitCodeProcess(held[i]->host.process.Get(), &code)) {
            results.push_back(
                Fail(HostError::WrongState, "the host did not end, even when terminated"));
        } else {
            results.push_back(HostResult());
        }
        if (exitCodes) {
            (*exitCodes)[i] = code;
        }
    }
    return results;
}
