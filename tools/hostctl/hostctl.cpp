// hostctl: a small stand-in for the controlling application, for integrators and for the
// end-to-end tests. It creates a uniquely named duplex pipe, starts a host on it, prints
// every host message with a timestamp, sends commands from stdin or a script, and exits
// with the host's exit code.
//
// Threads: the main thread starts the host and waits for it to end; an input thread runs
// the script (sends, waits, closes the pipe, posts WM_CLOSE); a reader thread prints what
// the host writes. Output lines are serialised by one lock.
#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "json.h"
#include "line_splitter.h"
#include "win_types.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitTimeout = 124;
constexpr int kExitFailure = 125;
constexpr DWORD kWriteWaitMs = 5000;
constexpr DWORD kReaderJoinMs = 2000;

const char kUsage[] =
    "usage: hostctl [options] HOST.exe [host options...]\n"
    "\n"
    "Creates a uniquely named byte-mode duplex pipe, starts HOST.exe with\n"
    "--pipeName=<name> followed by the host options, and plays the controlling\n"
    "application: every host message is printed as `[seconds] <- {json}`, every line\n"
    "sent as `[seconds] -> {json}`, events as `[seconds] -- text`.\n"
    "\n"
    "options:\n"
    "  --script=FILE   read script lines from FILE instead of stdin\n"
    "  --timeout=MS    how long the host may take to connect, and to end once the\n"
    "                  script is over, before it is killed (default 10000)\n"
    "  --pipeName=NAME use NAME instead of a generated pipe name\n"
    "  --noPipeName    do not pass --pipeName to the host (the pipe is still made)\n"
    "  --help          this text\n"
    "\n"
    "script lines (stdin or --script), one per line:\n"
    "  {json}          sent to the host as one line (any line that is no keyword\n"
    "                  below is sent as it is)\n"
    "  raw TEXT        TEXT sent without an added LF; \\n, \\r, \\t, \\\\ are escapes\n"
    "  wait MS         sleep MS milliseconds\n"
    "  wait_for TYPE [MS]  wait until a message of that type arrived (default 10000)\n"
    "  wait_until MS TEXT  wait until a host line containing TEXT arrived (at most MS)\n"
    "  close           close the pipe (the host sees a broken pipe)\n"
    "  wm_close        post WM_CLOSE to the window announced in host_ready\n"
    "  handles         print `handles N`, the host process's handle count\n"
    "  stall MS        stop reading the pipe for MS ms (the script goes on at once);\n"
    "                  what the host writes meanwhile waits in the pipe or is dropped\n"
    "  # text          comment; empty lines are skipped\n"
    "\n"
    "exit code: the host's, or 124 when the host did not end within the timeout (it\n"
    "is then killed), 125 when the pipe or the host could not be set up, 2 for bad\n"
    "usage.\n";

struct Options {
    std::string scriptPath;
    std::string pipeName;
    bool passPipeName = true;
    DWORD timeoutMs = 10000;
    std::string hostPath;
    std::vector<std::string> hostArgs;
};

// State shared by the three threads; every field is either set before the threads start
// or guarded as noted.
struct Session {
    Options options;
    HANDLE pipe = INVALID_HANDLE_VALUE;  // closed only by the input thread, after the reader
    UniqueHandle process;
    UniqueHandle readerThread;
    UniqueHandle inputDone;
    UniqueHandle messageArrived;  // auto-reset; pulsed by the reader for wait_for
    CriticalSection outputLock;
    std::vector<std::string> seenTypes;  // under outputLock
    std::vector<std::string> seenLines;  // under outputLock
    std::atomic<long long> hostWindow{0};
    std::atomic<bool> readerRunning{false};
    std::atomic<unsigned long> stallMs{0};  // set by `stall`, taken by the reader
    LARGE_INTEGER start = {};
    LARGE_INTEGER frequency = {};
};

double Seconds(const Session& s) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart - s.start.QuadPart) /
           static_cast<double>(s.frequency.QuadPart);
}

void PrintLine(Session& s, const char* arrow, const std::string& text) {
    ScopedLock lock(s.outputLock);
    std::printf("[%10.3f] %s %s\n", Seconds(s), arrow, text.c_str());
    std::fflush(stdout);
}

void PrintEvent(Session& s, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    PrintLine(s, "--", text);
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool ParseOptions(int argc, char** argv, Options& options, bool& help) {
    int i = 1;
    for (; i < argc && StartsWith(argv[i], "--"); ++i) {
        std::string arg = argv[i];
        if (arg == "--help") {
            help = true;
        } else if (StartsWith(arg, "--script=")) {
            options.scriptPath = arg.substr(9);
        } else if (StartsWith(arg, "--timeout=")) {
            options.timeoutMs = static_cast<DWORD>(std::strtoul(arg.c_str() + 10, nullptr, 10));
        } else if (StartsWith(arg, "--pipeName=")) {
            options.pipeName = arg.substr(11);
        } else if (arg == "--noPipeName") {
            options.passPipeName = false;
        } else {
            std::fprintf(stderr, "hostctl: unknown option %s\n", arg.c_str());
            return false;
        }
    }
    if (help) {
        return true;
    }
    if (i >= argc) {
        std::fprintf(stderr, "hostctl: no host program given (see --help)\n");
        return false;
    }
    options.hostPath = argv[i++];
    for (; i < argc; ++i) {
        options.hostArgs.push_back(argv[i]);
    }
    return true;
}

// The host's own parser splits at spaces and knows double quotes only at a value's start,
// so an argument with a space is quoted after its '=' ("--ndiName=\"A B\"" style).
std::string QuoteArgument(const std::string& arg) {
    if (arg.find(' ') == std::string::npos || arg.find('"') != std::string::npos) {
        return arg;
    }
    size_t eq = arg.find('=');
    if (StartsWith(arg, "--") && eq != std::string::npos) {
        return arg.substr(0, eq + 1) + "\"" + arg.substr(eq + 1) + "\"";
    }
    return "\"" + arg + "\"";
}

std::string BuildCommandLine(const Options& o) {
    std::string line = "\"" + o.hostPath + "\"";
    if (o.passPipeName) {
        line += " --pipeName=" + o.pipeName;
    }
    for (const std::string& arg : o.hostArgs) {
        line += " " + QuoteArgument(arg);
    }
    return line;
}

bool CreatePipe(Session& s) {
    if (s.options.pipeName.empty()) {
        char name[96];
        std::snprintf(name, sizeof name, "hostctl-%lu-%llu", GetCurrentProcessId(),
                      static_cast<unsigned long long>(s.start.QuadPart));
        s.options.pipeName = name;
    }
    std::string path = "\\\\.\\pipe\\" + s.options.pipeName;
    s.pipe = CreateNamedPipeA(
        path.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
    if (s.pipe == INVALID_HANDLE_VALUE) {
        PrintEvent(s, "cannot create pipe %s, error %lu", path.c_str(), GetLastError());
        return false;
    }
    PrintEvent(s, "pipe %s", path.c_str());
    return true;
}

bool StartHost(Session& s) {
    std::string commandLine = BuildCommandLine(s.options);
    std::vector<char> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        PrintEvent(s, "cannot start %s, error %lu", commandLine.c_str(), GetLastError());
        return false;
    }
    CloseHandle(info.hThread);
    s.process.Reset(info.hProcess);
    PrintEvent(s, "started pid %lu with %s", info.dwProcessId, commandLine.c_str());
    return true;
}

// Waits for the host to open the pipe. 0: connected; otherwise the exit code to return.
int AwaitClient(Session& s, OVERLAPPED& connect) {
    HANDLE waits[2] = {connect.hEvent, s.process.Get()};
    DWORD result = WaitForMultipleObjects(2, waits, FALSE, s.options.timeoutMs);
    if (result == WAIT_OBJECT_0) {
        DWORD ignored = 0;
        return GetOverlappedResult(s.pipe, &connect, &ignored, FALSE) ? 0 : kExitFailure;
    }
    CancelIoEx(s.pipe, &connect);
    DWORD ignored = 0;
    GetOverlappedResult(s.pipe, &connect, &ignored, TRUE);
    if (result == WAIT_OBJECT_0 + 1) {
        return -1;  // the host ended without connecting; its exit code is reported later
    }
    PrintEvent(s, "host did not connect within %lu ms", s.options.timeoutMs);
    return kExitTimeout;
}

// Whether the announced handle names a live window, and whose it is.
void ReportWindow(Session& s) {
    HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(s.hostWindow.load()));
    DWORD owner = 0;
    bool valid = IsWindow(window) && GetWindowThreadProcessId(window, &owner) != 0;
    PrintEvent(s, "window %lld %s, process %lu", s.hostWindow.load(), valid ? "valid" : "invalid",
               owner);
}

void NoteMessage(Session& s, const std::string& line) {
    JsonObject message = ParseJson(line);
    const std::string& type = message.Get("type");
    if (type == "host_ready") {
        s.hostWindow.store(std::strtoll(message.Get("hwnd").c_str(), nullptr, 10));
        ReportWindow(s);
    }
    {
        ScopedLock lock(s.outputLock);
        s.seenTypes.push_back(type);
        s.seenLines.push_back(line);
    }
    SetEvent(s.messageArrived.Get());
}

DWORD WINAPI ReaderMain(LPVOID context) {
    Session& s = *static_cast<Session*>(context);
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.Get();
    char buffer[4096];
    LineSplitter lines;
    while (s.readerRunning.load()) {
        if (unsigned long stall = s.stallMs.exchange(0)) {
            // A read already in flight took at most one buffer more; from here on the
            // host's writes pile up in the pipe.
            PrintEvent(s, "reading stalled for %lu ms", stall);
            Sleep(stall);
            PrintEvent(s, "reading again");
        }
        DWORD count = 0;
        if (!ReadFile(s.pipe, buffer, sizeof buffer, &count, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING ||
                !GetOverlappedResult(s.pipe, &overlapped, &count, TRUE)) {
                break;  // broken pipe, or cancelled by `close`
            }
        }
        lines.Append(buffer, count, [&s](const std::string& line) {
            PrintLine(s, "<-", line);
            NoteMessage(s, line);
        });
    }
    if (!lines.pending().empty()) {
        PrintLine(s, "<- (unterminated)", lines.pending());
    }
    return 0;
}

bool WritePipe(Session& s, const std::string& bytes) {
    if (s.pipe == INVALID_HANDLE_VALUE) {
        PrintEvent(s, "pipe is closed; not sent");
        return false;
    }
    UniqueHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event.Get();
    DWORD written = 0;
    if (WriteFile(s.pipe, bytes.data(), static_cast<DWORD>(bytes.size()), &written, &overlapped)) {
        return true;
    }
    if (GetLastError() != ERROR_IO_PENDING) {
        PrintEvent(s, "write failed, error %lu", GetLastError());
        return false;
    }
    if (WaitForSingleObject(event.Get(), kWriteWaitMs) != WAIT_OBJECT_0) {
        CancelIoEx(s.pipe, &overlapped);
        PrintEvent(s, "write not taken within %lu ms; cancelled", kWriteWaitMs);
    }
    return GetOverlappedResult(s.pipe, &overlapped, &written, TRUE) != FALSE;
}

void ClosePipeEnd(Session& s) {
    if (s.pipe == INVALID_HANDLE_VALUE) {
        return;
    }
    s.readerRunning.store(false);
    CancelIoEx(s.pipe, nullptr);
    if (s.readerThread) {
        WaitForSingleObject(s.readerThread.Get(), kReaderJoinMs);
    }
    // Flush first, so that what was sent before `close` is not thrown away with the pipe.
    FlushFileBuffers(s.pipe);
    CloseHandle(s.pipe);
    s.pipe = INVALID_HANDLE_VALUE;
    PrintEvent(s, "pipe closed");
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    }
    return out;
}

bool SeenType(Session& s, const std::string& type) {
    ScopedLock lock(s.outputLock);
    for (const std::string& seen : s.seenTypes) {
        if (seen == type) {
            return true;
        }
    }
    return false;
}

void WaitForType(Session& s, const std::string& type, DWORD timeoutMs) {
    DWORD begin = GetTickCount();
    while (!SeenType(s, type)) {
        DWORD elapsed = GetTickCount() - begin;
        if (elapsed >= timeoutMs) {
            PrintEvent(s, "no %s within %lu ms", type.c_str(), timeoutMs);
            return;
        }
        WaitForSingleObject(s.messageArrived.Get(), timeoutMs - elapsed);
    }
}

// Lines already checked are not looked at again; `checked` carries that across wakes.
bool SeenText(Session& s, const std::string& text, size_t& checked) {
    ScopedLock lock(s.outputLock);
    for (; checked < s.seenLines.size(); ++checked) {
        if (s.seenLines[checked].find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

void WaitForText(Session& s, const std::string& text, DWORD timeoutMs) {
    DWORD begin = GetTickCount();
    size_t checked = 0;
    while (!SeenText(s, text, checked)) {
        DWORD elapsed = GetTickCount() - begin;
        if (elapsed >= timeoutMs) {
            PrintEvent(s, "no line with %s within %lu ms", text.c_str(), timeoutMs);
            return;
        }
        WaitForSingleObject(s.messageArrived.Get(), timeoutMs - elapsed);
    }
}

void PostClose(Session& s) {
    WaitForType(s, "host_ready", s.options.timeoutMs);
    HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(s.hostWindow.load()));
    BOOL posted = PostMessageW(window, WM_CLOSE, 0, 0);
    PrintEvent(s, "WM_CLOSE posted to %lld%s", s.hostWindow.load(), posted ? "" : " (post failed)");
}

void PrintHandleCount(Session& s) {
    DWORD count = 0;
    if (GetProcessHandleCount(s.process.Get(), &count)) {
        PrintEvent(s, "handles %lu", count);
    } else {
        PrintEvent(s, "handles ? (error %lu)", GetLastError());
    }
}

void RunScriptLine(Session& s, const std::string& line) {
    if (line.empty() || line[0] == '#') {
        return;
    }
    if (StartsWith(line, "wait_for ")) {
        char type[128] = {};
        unsigned long ms = 10000;
        std::sscanf(line.c_str() + 9, "%127s %lu", type, &ms);
        WaitForType(s, type, ms);
    } else if (StartsWith(line, "wait_until ")) {
        char* rest = nullptr;
        unsigned long ms = std::strtoul(line.c_str() + 11, &rest, 10);
        WaitForText(s, std::string(rest).substr(rest[0] == ' ' ? 1 : 0), ms);
    } else if (StartsWith(line, "wait ")) {
        Sleep(static_cast<DWORD>(std::strtoul(line.c_str() + 5, nullptr, 10)));
    } else if (line == "close") {
        ClosePipeEnd(s);
    } else if (line == "wm_close") {
        PostClose(s);
    } else if (line == "handles") {
        PrintHandleCount(s);
    } else if (StartsWith(line, "stall ")) {
        s.stallMs.store(std::strtoul(line.c_str() + 6, nullptr, 10));
    } else if (StartsWith(line, "raw ")) {
        std::string bytes = Unescape(line.substr(4));
        PrintLine(s, "->", "(raw) " + line.substr(4));
        WritePipe(s, bytes);
    } else {
        PrintLine(s, "->", line);
        WritePipe(s, line + "\n");
    }
}

std::string TrimLine(std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

DWORD WINAPI InputMain(LPVOID context) {
    Session& s = *static_cast<Session*>(context);
    std::ifstream script;
    if (!s.options.scriptPath.empty()) {
        script.open(s.options.scriptPath);
        if (!script) {
            PrintEvent(s, "cannot read script %s", s.options.scriptPath.c_str());
        }
    }
    std::istream& input = s.options.scriptPath.empty() ? std::cin : script;
    std::string line;
    while (std::getline(input, line)) {
        RunScriptLine(s, TrimLine(line));
    }
    SetEvent(s.inputDone.Get());
    return 0;
}

// After the host has ended: let the reader print what is left, then report.
int FinishWithHost(Session& s) {
    if (s.readerThread) {
        WaitForSingleObject(s.readerThread.Get(), kReaderJoinMs);
    }
    DWORD code = 0;
    GetExitCodeProcess(s.process.Get(), &code);
    PrintEvent(s, "host exited with code %lu", code);
    return static_cast<int>(code);
}

int KillHost(Session& s) {
    PrintEvent(s, "host did not end within %lu ms; killed", s.options.timeoutMs);
    TerminateProcess(s.process.Get(), kExitTimeout);
    WaitForSingleObject(s.process.Get(), 5000);
    return kExitTimeout;
}

int RunSession(Session& s) {
    if (!CreatePipe(s)) {
        return kExitFailure;
    }
    UniqueHandle connectEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED connect = {};
    connect.hEvent = connectEvent.Get();
    if (!ConnectNamedPipe(s.pipe, &connect) && GetLastError() != ERROR_IO_PENDING) {
        PrintEvent(s, "ConnectNamedPipe failed, error %lu", GetLastError());
        return kExitFailure;
    }
    if (!StartHost(s)) {
        return kExitFailure;
    }
    int connected = AwaitClient(s, connect);
    if (connected == -1) {
        return FinishWithHost(s);
    }
    if (connected != 0) {
        return KillHost(s);
    }
    PrintEvent(s, "host connected");
    s.readerRunning.store(true);
    s.readerThread.Reset(CreateThread(nullptr, 0, &ReaderMain, &s, 0, nullptr));
    UniqueHandle input(CreateThread(nullptr, 0, &InputMain, &s, 0, nullptr));
    HANDLE waits[2] = {s.process.Get(), s.inputDone.Get()};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
        return FinishWithHost(s);
    }
    if (WaitForSingleObject(s.process.Get(), s.options.timeoutMs) == WAIT_OBJECT_0) {
        return FinishWithHost(s);
    }
    return KillHost(s);
}

}  // namespace

int main(int argc, char** argv) {
    Session s;
    bool help = false;
    if (!ParseOptions(argc, argv, s.options, help)) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    if (help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    QueryPerformanceFrequency(&s.frequency);
    QueryPerformanceCounter(&s.start);
    s.inputDone.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    s.messageArrived.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    int code = RunSession(s);
    // The input thread may still sit in a blocking read of stdin; ending the process is
    // the only way out of it, so no destructor runs after this point.
    std::fflush(stdout);
    ExitProcess(static_cast<UINT>(code));
}
