// A stand-in host for the controller tests of what the real hosts never do. It opens the
// pipe named by --pipeName= and then does what --act= says:
//   echo            host_ready, then {"type":"echo","commandLine":...,"inOwnFolder":...,
//                   "path":...,"variable":...}: its command line as UTF-8, whether it runs
//                   in its own folder, its PATH and its HC_TEST_VARIABLE
//   stats           host_ready, then a stats line with fps 29.97
//   other-pid       host_ready naming another process
//   foreign-window  host_ready naming a window of another process (the desktop's)
//   endless-line    host_ready, then bytes without a line feed until it is ended
//   ready-again     host_ready twice
//   die-early       exits with code 3 after 300 ms, before host_ready
//   mute            never writes
//   deaf            host_ready, then never reads
//   lister          host_ready, then answers each list_sources in turn: with two names and
//                   a stats line between them; with one name but a count of 2; with one
//                   name and then its exit (code 5), the listing left open
//   flood           host_ready, then 200 stats lines at once
//   hold-end        host_ready; on shutdown writes {"type":"ending"}, then waits (at most
//                   30 s) for the named event --event=NAME before it ends
//   chatty-child    starts a child of its own (--act=chatter, no pipe) that writes to the
//                   standard error they share without pause for up to 30 s, then exits
//                   with code 1 before host_ready
// and ends with 0 on shutdown or a broken pipe. Exit code 2 for a bad command line.
#include <windows.h>

#include <string>

#include "json.h"

namespace {

std::wstring Option(const std::wstring& line, const wchar_t* name) {
    size_t at = line.find(name);
    if (at == std::wstring::npos) {
        return std::wstring();
    }
    at += wcslen(name);
    return line.substr(at, line.find(L' ', at) - at);
}

bool Send(HANDLE pipe, const std::string& text) {
    DWORD written = 0;
    return WriteFile(pipe, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) != 0;
}

void SendReady(HANDLE pipe, HWND window, DWORD pid) {
    Send(pipe,
         "{\"type\":\"host_ready\",\"hwnd\":" + std::to_string(reinterpret_cast<intptr_t>(window)) +
             ",\"pid\":" + std::to_string(pid) + "}\n");
}

std::string Variable(const wchar_t* name) {
    wchar_t value[4096] = {};
    GetEnvironmentVariableW(name, value, 4096);
    char text[4096 * 3] = {};
    WideCharToMultiByte(CP_UTF8, 0, value, -1, text, sizeof text - 1, nullptr, nullptr);
    return text;
}

std::string Echo(const std::wstring& line) {
    char text[4096] = {};
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, text, sizeof text - 1, nullptr, nullptr);
    wchar_t module[MAX_PATH] = {};
    wchar_t current[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    GetCurrentDirectoryW(MAX_PATH, current);
    std::wstring folder(module, wcsrchr(module, L'\\'));
    std::wstring here(current);
    here.resize(here.find_last_not_of(L'\\') + 1);
    bool own = CompareStringOrdinal(folder.c_str(), -1, here.c_str(), -1, TRUE) == CSTR_EQUAL;
    return JsonWriter()
               .AddString("type", "echo")
               .AddString("commandLine", text)
               .AddString("inOwnFolder", own ? "yes" : "no")
               .AddString("path", Variable(L"PATH"))
               .AddString("variable", Variable(L"HC_TEST_VARIABLE"))
               .Finish() +
           "\n";
}

// The lister's answers to its list_sources, in turn; it exits after the last.
const char* const kListings[] = {
    "{\"type\":\"source\",\"name\":\"Cam \\\"1\\\"\"}\n"
    "{\"type\":\"stats\",\"fps\":29.97,\"width\":64,\"height\":64}\n"
    "{\"type\":\"source\",\"name\":\"Cam 2\"}\n{\"type\":\"sources_done\",\"count\":2}\n",
    "{\"type\":\"source\",\"name\":\"Cam 3\"}\n{\"type\":\"sources_done\",\"count\":2}\n",
    "{\"type\":\"source\",\"name\":\"Cam 4\"}\n"};

// Reads until shutdown or a broken pipe; `deaf` only watches for the break. A `lister`
// answers each list_sources as it arrives and exits with 5 after its third answer. With a
// `hold` event, the shutdown is answered and the end waits for the event.
int Serve(HANDLE pipe, bool deaf, bool lister, HANDLE hold) {
    std::string received;
    size_t looked = 0;  // list_sources before this offset have been answered
    int listings = 0;
    char buffer[512];
    DWORD count = 0;
    while (received.find("\"shutdown\"") == std::string::npos) {
        if (deaf ? !PeekNamedPipe(pipe, nullptr, 0, nullptr, nullptr, nullptr)
                 : !ReadFile(pipe, buffer, sizeof buffer, &count, nullptr)) {
            return 0;
        }
        if (deaf) {
            Sleep(50);
            continue;
        }
        received.append(buffer, count);
        for (size_t at = received.find("list_sources", looked); lister && at != std::string::npos;
             at = received.find("list_sources", looked)) {
            looked = at + 1;
            Send(pipe, kListings[listings]);
            if (++listings == 3) {
                return 5;
            }
        }
    }
    if (hold != nullptr) {
        Send(pipe, "{\"type\":\"ending\"}\n");
        WaitForSingleObject(hold, 30000);
    }
    return 0;
}

// A child that keeps the standard error it shares with the host busy: a library's helper
// process that talks there without end.
int Chatter() {
    std::string chatter(65536, 'c');
    chatter.back() = '\n';
    HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000 && Send(out, chatter);) {
    }
    return 0;
}

void StartChatter() {
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(module) + L"\" --act=chatter";
    HANDLE out = GetStdHandle(STD_ERROR_HANDLE);
    SetHandleInformation(out, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdError = out;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(module, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        Sleep(1000);  // the child talks by the time the host ends
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    std::wstring line = GetCommandLineW();
    std::wstring path = L"\\\\.\\pipe\\" + Option(line, L"--pipeName=");
    std::wstring act = Option(line, L"--act=");
    if (act == L"chatter") {
        return Chatter();
    }
    WaitNamedPipeW(path.c_str(), 5000);
    HANDLE pipe = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        return 2;
    }
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = &DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"FakeHostWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 8, 8, nullptr,
                                  nullptr, instance, nullptr);
    DWORD pid = GetCurrentProcessId();
    if (act == L"die-early") {
        Sleep(300);
        return 3;
    }
    if (act == L"chatty-child") {
        StartChatter();
        return 1;
    }
    if (act != L"mute") {
        SendReady(pipe, act == L"foreign-window" ? GetDesktopWindow() : window,
                  act == L"other-pid" ? pid + 4 : pid);
    }
    if (act == L"ready-again") {
        SendReady(pipe, window, pid);
    } else if (act == L"echo") {
        Send(pipe, Echo(line));
    } else if (act == L"stats") {
        Send(pipe, "{\"type\":\"stats\",\"fps\":29.97,\"width\":640,\"height\":360}\n");
    } else if (act == L"flood") {
        std::string lines;
        for (int i = 0; i < 200; ++i) {
            lines += "{\"type\":\"stats\",\"fps\":30.00,\"width\":64,\"height\":64}\n";
        }
        Send(pipe, lines);
    }
    HANDLE hold = act == L"hold-end"
                      ? OpenEventW(SYNCHRONIZE, FALSE, Option(line, L"--event=").c_str())
                      : nullptr;
    while (act == L"endless-line" && Send(pipe, std::string(4096, 'x'))) {
    }
    return Serve(pipe, act == L"deaf", act == L"lister", hold);
}
