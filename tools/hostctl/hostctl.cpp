// hostctl: a small stand-in for the controlling application, for integrators and for the
// end-to-end tests, built on the controller library (HostProcess). It starts a host on a
// pipe of its own, prints every host message with a timestamp, sends commands from stdin
// or a script, and exits with the host's exit code.
//
// Threads: the main thread starts the host and waits for it to end; an input thread runs
// the script (sends, waits, closes the pipe, posts WM_CLOSE); a printer thread prints the
// host's events as the library delivers them; a short-lived thread ends each `stall`.
// Output lines are serialised by one lock.
#include <windows.h>
#include <psapi.h>

#include <shellapi.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "host_commands.h"
#include "host_process.h"
#include "json.h"
#include "win_text.h"
#include "win_types.h"

namespace {

constexpr int kExitUsage = 2;
constexpr int kExitTimeout = 124;
constexpr int kExitFailure = 125;
constexpr DWORD kPrinterJoinMs = 2000;

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
    "  --pipeBuffer=BYTES  the pipe's buffer each way (default 65536; 0: every write\n"
    "                  of the host waits until hostctl reads it)\n"
    "  --help          this text\n"
    "\n"
    "script lines (stdin or --script), one per line:\n"
    "  {json}          sent to the host as one line (any line that is no keyword\n"
    "                  below is sent as it is)\n"
    "  raw TEXT        TEXT sent without an added LF; \\n, \\r, \\t, \\\\ are escapes\n"
    "  wait MS         sleep MS milliseconds\n"
    "  wait_for TYPE [MS]  wait until a message of that type arrived (default 10000)\n"
    "  wait_until MS TEXT  wait until a host line containing TEXT arrived (at most MS)\n"
    "  list_sources [MS]  send list_sources, wait for its sources_done (default 10000)\n"
    "                  and print `sources: N` (and the error, if any), then one line\n"
    "                  per source name as the host wrote it (escaped); the host's\n"
    "                  source lines are printed only here, not as they arrive\n"
    "  close           close the pipe (the host sees a broken pipe)\n"
    "  wm_close        post WM_CLOSE to the window announced in host_ready\n"
    "  handles         print `handles N`, the host process's handle count\n"
    "  memory          print `private bytes N`, the host process's private bytes\n"
    "  stall MS        stop reading the pipe for MS ms (the script goes on at once);\n"
    "                  what the host writes meanwhile waits in the pipe or in the\n"
    "                  host, which keeps its latest state\n"
    "  # text          comment; empty lines are skipped\n"
    "\n"
    "exit code: the host's, or 124 when the host did not end within the timeout (it\n"
    "is then killed), 125 when the pipe or the host could not be set up, 2 for bad\n"
    "usage.\n";

struct Options {
    std::string scriptPath;
    std::string pipeName;
    bool passPipeName = true;
    DWORD pipeBufferBytes = 64 * 1024;
    DWORD timeoutMs = 10000;
    std::string hostPath;
    std::vector<std::string> hostArgs;
};

// State shared by the threads; every field is either set before the threads start or
// guarded as noted.
struct Session {
    Options options;
    HostProcess host;
    UniqueHandle printerThread;
    UniqueHandle inputDone;
    UniqueHandle messageArrived;  // auto-reset; pulsed by the printer for wait_for
    std::mutex outputLock;
    std::vector<std::string> seenTypes;  // under outputLock
    std::vector<std::string> seenLines;  // under outputLock
    std::atomic<long long> hostWindow{0};
    std::atomic<bool> killed{false};         // the exit is ours to report, not the printer's
    std::atomic<bool> exitReported{false};   // the printer has printed the exit code
    std::vector<UniqueHandle> stallThreads;  // input thread only
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
    std::lock_guard<std::mutex> lock(s.outputLock);
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

// The decimal number at the start of `text`, or `fallback` when there is none.
unsigned long NumberOr(const std::string& text, unsigned long fallback) {
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 10);
    return end == text.c_str() ? fallback : value;
}

// The command line as UTF-8, as the controller library takes text: main's own arguments
// would come in the ANSI code page, which loses what it cannot spell.
std::vector<std::string> Utf8Arguments() {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; wide != nullptr && i < count; ++i) {
        arguments.push_back(ToUtf8(wide[i]));
    }
    LocalFree(wide);
    return arguments;
}

// The library starts a host from its absolute path only; on hostctl's command line a
// relative path means one relative to the current folder, as it does to any tool.
std::string AbsolutePath(const std::string& path) {
    std::wstring wide;
    if (!ToWide(path, wide)) {
        return path;
    }
    DWORD size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    DWORD length = size > 0 ? GetFullPathNameW(wide.c_str(), size, &full[0], nullptr) : 0;
    if (length == 0 || length >= size) {
        return path;
    }
    full.resize(length);
    return ToUtf8(full);
}

bool ParseOptions(const std::vector<std::string>& argv, Options& options, bool& help) {
    size_t argc = argv.size();
    size_t i = 1;
    for (; i < argc && StartsWith(argv[i], "--"); ++i) {
        std::string arg = argv[i];
        if (arg == "--help") {
            help = true;
        } else if (StartsWith(arg, "--script=")) {
            options.scriptPath = arg.substr(9);
        } else if (StartsWith(arg, "--timeout=")) {
            options.timeoutMs = static_cast<DWORD>(NumberOr(arg.substr(10), 0));
        } else if (StartsWith(arg, "--pipeName=")) {
            options.pipeName = arg.substr(11);
        } else if (arg == "--noPipeName") {
            options.passPipeName = false;
        } else if (StartsWith(arg, "--pipeBuffer=")) {
            options.pipeBufferBytes = static_cast<DWORD>(NumberOr(arg.substr(13), 64 * 1024));
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
    options.hostPath = AbsolutePath(argv[i++]);
    for (; i < argc; ++i) {
        options.hostArgs.push_back(argv[i]);
    }
    return true;
}

// Whether the announced handle names a live window, and whose it is.
void ReportWindow(Session& s) {
    HWND window = reinterpret_cast<HWND>(static_cast<intptr_t>(s.hostWindow.load()));
    DWORD owner = 0;
    bool valid = IsWindow(window) && GetWindowThreadProcessId(window, &owner) != 0;
    PrintEvent(s, "window %lld %s, process %lu", s.hostWindow.load(), valid ? "valid" : "invalid",
               owner);
}

void NoteMessage(Session& s, const HostEvent& event) {
    if (event.type == HostEventType::Ready) {
        s.hostWindow.store(event.window);
        ReportWindow(s);
    }
    {
        std::lock_guard<std::mutex> lock(s.outputLock);
        s.seenTypes.push_back(ParseJson(event.line).Get("type"));
        s.seenLines.push_back(event.line);
    }
    SetEvent(s.messageArrived.Get());
}

DWORD WINAPI PrinterMain(LPVOID context) {
    Session& s = *static_cast<Session*>(context);
    HostEvent event;
    while (s.host.NextEvent(event, kWaitForever)) {
        switch (event.type) {
            case HostEventType::PipeOpened:
                PrintEvent(s, "host connected");
                break;
            case HostEventType::Unterminated:
                PrintLine(s, "<- (unterminated)", event.line);
                break;
            case HostEventType::Exited:
                if (!s.killed.load()) {
                    PrintEvent(s, "host exited with code %lu",
                               static_cast<unsigned long>(event.exitCode));
                    s.exitReported.store(true);
                }
                break;
            default:
                PrintLine(s, "<-", event.line);
                NoteMessage(s, event);
                break;
        }
    }
    return 0;
}

void WritePipe(Session& s, const std::string& bytes) {
    HostResult sent = s.host.SendRaw(bytes);
    if (!sent) {
        PrintEvent(s, "%s", sent.reason.c_str());
    }
}

void ClosePipeEnd(Session& s) {
    if (s.host.ClosePipe()) {
        PrintEvent(s, "pipe closed");
    }
}

struct StallEnd {
    Session* session;
    unsigned long ms;
};

DWORD WINAPI StallEndMain(LPVOID context) {
    std::unique_ptr<StallEnd> stall(static_cast<StallEnd*>(context));
    Sleep(stall->ms);
    // Said before it happens: the reader prints what it reads at once, and every line read
    // after the stall must come after this one.
    PrintEvent(*stall->session, "reading again");
    stall->session->host.ResumeReading();
    return 0;
}

// Stops reading at once; a thread of its own resumes it, so the script goes on.
void Stall(Session& s, unsigned long ms) {
    s.host.SuspendReading();
    PrintEvent(s, "reading stalled for %lu ms", ms);
    auto* stall = new StallEnd{&s, ms};
    UniqueHandle thread(CreateThread(nullptr, 0, &StallEndMain, stall, 0, nullptr));
    if (!thread) {
        delete stall;
        PrintEvent(s, "reading again");
        s.host.ResumeReading();
        return;
    }
    s.stallThreads.push_back(std::move(thread));
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
    std::lock_guard<std::mutex> lock(s.outputLock);
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
    std::lock_guard<std::mutex> lock(s.outputLock);
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

// Through the library's ListSources, which gathers the host's source lines itself (they
// are not printed as they arrive; the closing sources_done is).
void ListSources(Session& s, DWORD timeoutMs) {
    PrintLine(s, "->", ListSourcesCommand());
    std::vector<std::string> names;
    HostResult listed = s.host.ListSources(names, timeoutMs);
    if (!listed && listed.error != HostError::ListingFailed) {
        PrintEvent(s, "%s", listed.reason.c_str());
        return;
    }
    PrintLine(s, "--",
              "sources: " + std::to_string(names.size()) +
                  (listed ? std::string() : ", error: " + listed.reason));
    for (const std::string& name : names) {
        PrintLine(s, "--", "  " + EscapeJson(name));
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
    if (GetProcessHandleCount(s.host.processHandle(), &count)) {
        PrintEvent(s, "handles %lu", count);
    } else {
        PrintEvent(s, "handles ? (error %lu)", GetLastError());
    }
}

// A whole small file; empty when it cannot be read.
std::string ReadSmallFile(const std::string& path) {
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
    std::string text;
    char buffer[4096];
    DWORD count = 0;
    while (file && ReadFile(file.Get(), buffer, sizeof buffer, &count, nullptr) && count > 0 &&
           text.size() < 65536) {
        text.append(buffer, count);
    }
    return text;
}

// Under Wine, which reports no memory figures for another process: the anonymous resident
// memory of the Linux process that runs the host (its command line names our pipe), read
// from /proc through Wine's Z: drive. 0 when there is no such process.
unsigned long long LinuxAnonymousBytes(const std::string& pipeName) {
    WIN32_FIND_DATAA found = {};
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE) {
        return 0;
    }
    unsigned long long bytes = 0;
    do {
        const std::string dir = std::string("Z:\\proc\\") + found.cFileName;
        if (found.cFileName[0] < '0' || found.cFileName[0] > '9' ||
            ReadSmallFile(dir + "\\cmdline").find("--pipeName=" + pipeName) == std::string::npos) {
            continue;
        }
        const std::string status = ReadSmallFile(dir + "\\status");
        const size_t at = status.find("RssAnon:");
        if (at != std::string::npos) {
            bytes = std::strtoull(status.c_str() + at + 8, nullptr, 10) * 1024;
            break;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return bytes;
}

void PrintPrivateBytes(Session& s) {
    // PagefileUsage is the process's commit charge: its private bytes.
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(s.host.processHandle(), &counters, sizeof counters) &&
        counters.PagefileUsage > 0) {
        PrintEvent(s, "private bytes %llu",
                   static_cast<unsigned long long>(counters.PagefileUsage));
        return;
    }
    const unsigned long long anonymous = LinuxAnonymousBytes(s.host.pipeName());
    if (anonymous > 0) {
        PrintEvent(s, "private bytes %llu (the host's Linux process)", anonymous);
    } else {
        PrintEvent(s, "private bytes ? (not reported)");
    }
}

// `wait_for TYPE [MS]`: the type is the first word, the time the number after it.
void RunWaitFor(Session& s, const std::string& arguments) {
    std::istringstream words(arguments);
    std::string type;
    std::string ms;
    words >> type >> ms;
    WaitForType(s, type, NumberOr(ms, 10000));
}

void RunScriptLine(Session& s, const std::string& line) {
    if (line.empty() || line[0] == '#') {
        return;
    }
    if (StartsWith(line, "wait_for ")) {
        RunWaitFor(s, line.substr(9));
    } else if (StartsWith(line, "wait_until ")) {
        char* rest = nullptr;
        unsigned long ms = std::strtoul(line.c_str() + 11, &rest, 10);
        WaitForText(s, std::string(rest).substr(rest[0] == ' ' ? 1 : 0), ms);
    } else if (line == "list_sources" || StartsWith(line, "list_sources ")) {
        ListSources(s, static_cast<DWORD>(NumberOr(line.substr(12), 10000)));
    } else if (StartsWith(line, "wait ")) {
        Sleep(static_cast<DWORD>(NumberOr(line.substr(5), 0)));
    } else if (line == "close") {
        ClosePipeEnd(s);
    } else if (line == "wm_close") {
        PostClose(s);
    } else if (line == "handles") {
        PrintHandleCount(s);
    } else if (line == "memory") {
        PrintPrivateBytes(s);
    } else if (StartsWith(line, "stall ")) {
        Stall(s, NumberOr(line.substr(6), 0));
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

// After the host has ended: let the printer print what is left and the exit code.
int FinishWithHost(Session& s) {
    if (s.printerThread) {
        WaitForSingleObject(s.printerThread.Get(), kPrinterJoinMs);
    }
    uint32_t code = 0;
    s.host.HasExited(&code);
    if (!s.exitReported.load()) {
        PrintEvent(s, "host exited with code %lu", static_cast<unsigned long>(code));
    }
    return static_cast<int>(code);
}

int KillHost(Session& s) {
    s.killed.store(true);
    PrintEvent(s, "host did not end within %lu ms; killed", s.options.timeoutMs);
    s.host.Terminate(kExitTimeout);
    return kExitTimeout;
}

HostOptions HostOptionsOf(const Options& o) {
    HostOptions host;
    host.executable = o.hostPath;
    host.arguments = o.hostArgs;
    host.pipeName = o.pipeName;
    host.pipeNamePrefix = "hostctl";
    host.passPipeName = o.passPipeName;
    host.pipeBufferBytes = o.pipeBufferBytes;
    return host;
}

int RunSession(Session& s) {
    HostResult started = s.host.Start(HostOptionsOf(s.options));
    if (!started) {
        PrintEvent(s, "%s", started.reason.c_str());
        return kExitFailure;
    }
    PrintEvent(s, "pipe \\\\.\\pipe\\%s", s.host.pipeName().c_str());
    PrintEvent(s, "started pid %lu with %s", s.host.processId(), s.host.commandLine().c_str());
    s.printerThread.Reset(CreateThread(nullptr, 0, &PrinterMain, &s, 0, nullptr));
    HostResult ready = s.host.WaitForReady(s.options.timeoutMs);
    if (!ready) {
        if (ready.error == HostError::PipeNeverOpened || ready.error == HostError::ReadyTimedOut) {
            PrintEvent(s, "host did not connect within %lu ms", s.options.timeoutMs);
            return KillHost(s);
        }
        if (ready.startup.reason != StartupFailure::None) {
            PrintEvent(s, "start-up failed: %s: %s", StartupFailureWord(ready.startup.reason),
                       ready.startup.text.c_str());
        }
        return FinishWithHost(s);
    }
    UniqueHandle input(CreateThread(nullptr, 0, &InputMain, &s, 0, nullptr));
    HANDLE waits[2] = {s.host.processHandle(), s.inputDone.Get()};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
        return FinishWithHost(s);
    }
    if (WaitForSingleObject(s.host.processHandle(), s.options.timeoutMs) == WAIT_OBJECT_0) {
        return FinishWithHost(s);
    }
    return KillHost(s);
}

}  // namespace

int main() {
    Session s;
    bool help = false;
    if (!ParseOptions(Utf8Arguments(), s.options, help)) {
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
