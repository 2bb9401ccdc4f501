// The start-up baseline of pipe_bench: a GUI program that does nothing but open the pipe
// named by --pipeName= and write one host_ready-like line, as a host would at its fastest.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    std::string text = commandLine ? commandLine : "";
    const std::string key = "--pipeName=";
    size_t at = text.find(key);
    if (at == std::string::npos) {
        return 1;
    }
    std::string name = text.substr(at + key.size());
    name = name.substr(0, name.find(' '));
    std::string path = "\\\\.\\pipe\\" + name;
    if (!WaitNamedPipeA(path.c_str(), 5000)) {
        return 1;
    }
    HANDLE pipe = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) {
        return 1;
    }
    std::string line =
        "{\"type\":\"host_ready\",\"hwnd\":0,\"pid\":" + std::to_string(GetCurrentProcessId()) +
        "}\n";
    OVERLAPPED overlapped = {};
    overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    if (!WriteFile(pipe, line.data(), static_cast<DWORD>(line.size()), &written, &overlapped)) {
        GetOverlappedResult(pipe, &overlapped, &written, TRUE);
    }
    FlushFileBuffers(pipe);
    CloseHandle(overlapped.hEvent);
    CloseHandle(pipe);
    return 0;
}
