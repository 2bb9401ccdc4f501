// A controlling application for the tests and the benchmark to kill: starts a host with
// HostProcess, writes the host's process id to a file once host_ready has come, then
// waits to be ended from outside.
//   controller_child HOST.exe PID_FILE
#include <windows.h>

#include <string>

#include "host_process.h"
#include "win_types.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        return 2;
    }
    HostOptions options;
    options.executable = argv[1];
    HostProcess host;
    if (!host.Start(options) || !host.WaitForReady(30000)) {
        return 1;
    }
    std::string text = std::to_string(host.processId()) + "\n";
    UniqueHandle file(CreateFileA(argv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file ||
        !WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr)) {
        return 1;
    }
    file.Reset();
    Sleep(INFINITE);
    return 0;
}
