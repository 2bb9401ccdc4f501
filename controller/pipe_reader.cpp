// The controller's reader thread: waits for the host to open the pipe (turning away any
// other process that opens it first), reads every line the host writes into the event
// queue without ever waiting for the application (a source listing as one event, handed
// to the ListSources calls waiting for it as well), ends a host that breaks the protocol
// (a host_ready that names another process or window, a line without end), and finally
// waits for the host's end.
#include <utility>

#include "host_process_state.h"
#include "json.h"
#include "line_splitter.h"
#include "secure_pipe.h"

namespace {

using State = HostProcess::State;

bool StopWanted(const State& s) {
    return s.stopping.load() || s.closeRequested.load();
}

// Cancels `overlapped` and waits until the system has let go of it; the bytes it moved
// before the cancel landed.
DWORD CancelAndDrain(HANDLE pipe, OVERLAPPED& overlapped) {
    CancelIoEx(pipe, &overlapped);
    DWORD transferred = 0;
    GetOverlappedResult(pipe, &overlapped, &transferred, TRUE);
    return transferred;
}

// Vacated: a client came and went before the connection was taken up.
enum class ConnectEnd { Connected, Vacated, HostEnded, Stopped, Failed };

ConnectEnd ConnectOnce(State& s, HANDLE connected) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = connected;
    ResetEvent(connected);
    if (ConnectNamedPipe(s.pipe.Get(), &overlapped)) {
        return ConnectEnd::Connected;
    }
    DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED) {
        return ConnectEnd::Connected;  // the host was quicker than this call
    }
    if (error == ERROR_NO_DATA) {
        return ConnectEnd::Vacated;
    }
    if (error != ERROR_IO_PENDING) {
        return ConnectEnd::Failed;
    }
    HANDLE waits[3] = {connected, s.host.process.Get(), s.control.Get()};
    for (;;) {
        DWORD woken = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
        if (woken == WAIT_OBJECT_0) {
            DWORD ignored = 0;
            return GetOverlappedResult(s.pipe.Get(), &overlapped, &ignored, FALSE)
                       ? ConnectEnd::Connected
                       : ConnectEnd::Vacated;
        }
        if (woken == WAIT_OBJECT_0 + 1 || StopWanted(s)) {
            CancelAndDrain(s.pipe.Get(), overlapped);
            return woken == WAIT_OBJECT_0 + 1 ? ConnectEnd::HostEnded : ConnectEnd::Stopped;
        }
        // Woken for a suspend or resume: nothing to read yet, keep waiting.
    }
}

// True once our host holds the pipe. Another process of this user that found the name
// and opened the pipe first is disconnected, and the host's own wait for a free
// instance then succeeds.
bool AwaitHost(State& s) {
    UniqueHandle connected(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    for (;;) {
        ConnectEnd end = ConnectOnce(s, connected.Get());
        if (end == ConnectEnd::Connected && ClientIsProcess(s.pipe.Get(), s.host.processId)) {
            return true;
        }
        if (end != ConnectEnd::Connected && end != ConnectEnd::Vacated) {
            return false;
        }
        DisconnectNamedPipe(s.pipe.Get());
    }
}

// Why a host_ready cannot be taken at its word, or "": it must name the process we
// started and a window of that process, or the application would be handed another
// program's window.
std::string CheckReady(const HostEvent& event, DWORD processId) {
    std::string started = "the started host's process " + std::to_string(processId);
    if (event.processId != processId) {
        return "host_ready named process " + std::to_string(event.processId) + ", not " + started;
    }
    HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(event.window));
    DWORD owner = 0;
    if (!IsWindow(window) || GetWindowThreadProcessId(window, &owner) == 0 || owner != processId) {
        return "host_ready named window " + std::to_string(event.window) +
               ", which is not a window of " + started;
    }
    return "";
}

// The host broke the protocol: the application is told why, and the host is ended (its
// Exited follows with kTerminatedExitCode).
void EndFaultyHost(State& s, const std::string& reason) {
    s.fault = reason;
    HostEvent event;
    event.type = HostEventType::Fault;
    event.line = reason;
    event.receivedMs = s.ElapsedMs();
    s.queue.Push(std::move(event));
    TerminateProcess(s.host.process.Get(), kTerminatedExitCode);
}

// A listing the host has closed goes to every ListSources call waiting for one, then to
// the application's events: kept there when it answers a request, else dropped like a
// report when the application does not keep up.
void CloseListing(State& s, HostEvent& listing) {
    listing.receivedMs = s.ElapsedMs();
    if (s.listings.Close(listing)) {
        s.queue.Push(std::move(listing));
    } else {
        s.queue.PushDroppable(std::move(listing));  // nobody asked: a host that floods them
    }
}

// A view follows the frame's size from here, before the application takes the event.
void TellFrameWatch(State& s, const HostEvent& event) {
    if (event.type != HostEventType::Stats && event.type != HostEventType::FrameSize) {
        return;
    }
    std::lock_guard<std::mutex> lock(s.frameWatchLock);
    if (s.frameWatch) {
        s.frameWatch(event);
    }
}

// Queues the complete lines among `bytes`. False once the host has been found faulty.
bool Deliver(State& s, LineSplitter& lines, const char* bytes, DWORD count) {
    const char* tooLong = "the host wrote more than 65536 bytes without a line feed";
    static_assert(kMaxHostLineBytes == 65536, "the text above names the bound");
    bool faulty = false;
    lines.Append(bytes, count, [&s, &faulty, tooLong](const std::string& line) {
        if (faulty) {
            return;
        }
        if (line.size() > kMaxHostLineBytes) {
            faulty = true;
            EndFaultyHost(s, tooLong);
            return;
        }
        // Parsed once: the listing's and the event's reading share it.
        const JsonObject message = ParseJson(line);
        HostEvent listing;
        SourceGatherer::Taken taken = s.gatherer.Take(line, message, listing);
        if (taken == SourceGatherer::Taken::Closed) {
            CloseListing(s, listing);
        }
        if (taken != SourceGatherer::Taken::NotListing) {
            return;
        }
        HostEvent event = DecodeHostLine(line, message);
        event.receivedMs = s.ElapsedMs();
        bool ready = event.type == HostEventType::Ready;
        if (ready) {
            // Once: each host_ready is an event that is never dropped.
            std::string problem = s.readyArrived.IsSet() ? "the host sent host_ready again"
                                                         : CheckReady(event, s.host.processId);
            if (!problem.empty()) {
                faulty = true;
                EndFaultyHost(s, problem);
                return;
            }
            s.ready.window = reinterpret_cast<HWND>(static_cast<intptr_t>(event.window));
            s.ready.processId = s.host.processId;
        }
        TellFrameWatch(s, event);
        s.queue.Push(std::move(event));
        if (ready) {
            s.readyArrived.Set();
        }
    });
    if (!faulty && lines.pending().size() > kMaxHostLineBytes) {
        faulty = true;
        EndFaultyHost(s, tooLong);
    }
    if (faulty) {
        lines.Clear();
    }
    return !faulty;
}

// While suspended, waits for the resume (or the stop) without a read outstanding.
void WaitWhileSuspended(State& s) {
    while (s.suspended.load() && !StopWanted(s)) {
        WaitForSingleObject(s.control.Get(), INFINITE);
    }
}

// Reads until the pipe breaks or the application stops or closes it.
void ReadLines(State& s) {
    UniqueHandle readEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HANDLE pipe = s.pipe.Get();
    LineSplitter lines;
    char buffer[4096];
    while (!StopWanted(s)) {
        WaitWhileSuspended(s);
        if (StopWanted(s)) {
            break;
        }
        OVERLAPPED overlapped = {};
        overlapped.hEvent = readEvent.Get();
        ResetEvent(readEvent.Get());
        DWORD count = 0;
        if (!ReadFile(pipe, buffer, sizeof buffer, &count, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING) {
                break;  // the host closed its end or ended
            }
            HANDLE waits[2] = {readEvent.Get(), s.control.Get()};
            if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                count = CancelAndDrain(pipe, overlapped);  // a stop, suspend or close
            } else if (!GetOverlappedResult(pipe, &overlapped, &count, FALSE)) {
                DWORD error = GetLastError();
                if (error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED) {
                    break;
                }
                count = 0;
            }
        }
        if (!Deliver(s, lines, buffer, count)) {
            break;
        }
    }
    if (!lines.pending().empty()) {
        HostEvent event;
        event.type = HostEventType::Unterminated;
        event.line = lines.pending();
        event.receivedMs = s.ElapsedMs();
        s.queue.Push(std::move(event));
    }
}

void AwaitExit(State& s) {
    HANDLE waits[2] = {s.host.process.Get(), s.control.Get()};
    for (;;) {
        WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (WaitForSingleObject(s.host.process.Get(), 0) == WAIT_OBJECT_0) {
            break;
        }
        if (s.stopping.load()) {
            return;  // the host outlived even its termination; no Exited to report
        }
    }
    HostEvent event;
    event.type = HostEventType::Exited;
    event.receivedMs = s.ElapsedMs();
    DWORD code = 0;
    GetExitCodeProcess(s.host.process.Get(), &code);
    event.exitCode = code;
    s.queue.Push(std::move(event));
}

}  // namespace

void RunPipeReader(State& s) {
    if (AwaitHost(s)) {
        HostEvent opened;
        opened.type = HostEventType::PipeOpened;
        opened.receivedMs = s.ElapsedMs();
        s.queue.Push(std::move(opened));
        s.pipeOpened.Set();
        ReadLines(s);
    }
    s.readingEnded.Set();
    AwaitExit(s);
    s.queue.Close();
}
