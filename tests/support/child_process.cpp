#include "child_process.h"

bool ChildProcess::Start(const std::string& commandLine, const std::string& workingDir,
                         HANDLE output) {
    End();
    std::string line = commandLine;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    if (output != nullptr) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = output;
        startup.hStdError = output;
        startup.hStdInput = nullptr;
    }
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, output != nullptr, 0, nullptr,
                        workingDir.empty() ? nullptr : workingDir.c_str(), &startup, &info)) {
        return false;
    }
    UniqueHandle thread(info.hThread);
    process_.Reset(info.hProcess);
    return true;
}

int ChildProcess::WaitForExit(DWORD timeoutMs) {
    if (!process_ || WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_.Get(), &code);
    process_.Reset();
    return static_cast<int>(code);
}

DWORD ChildProcess::EndWithin(DWORD timeoutMs, DWORD code) {
    if (process_ && WaitForSingleObject(process_.Get(), timeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(process_.Get(), code);
        WaitForSingleObject(process_.Get(), 5000);
    }
    DWORD exitCode = code;
    if (process_) {
        GetExitCodeProcess(process_.Get(), &exitCode);
    }
    process_.Reset();
    return exitCode;
}

void ChildProcess::End() {
    if (process_) {
        EndWithin(0, 99);
    }
}

DWORD RunRedirected(const std::string& commandLine, const std::string& outputPath,
                    DWORD timeoutMs) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    UniqueHandle out(CreateFileA(outputPath.c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    ChildProcess child;
    if (!out || !child.Start(commandLine, "", out.Get())) {
        return kNotStarted;
    }
    return child.EndWithin(timeoutMs, kTimedOut);
}
