// Runs hostctl (beside the test) on a script and reads back its transcript, for the
// end-to-end tests and the benchmark. The simulated runtimes in <build>/sim are put on
// the child's search path. Used by one test thread at a time.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "json.h"
#include "win_types.h"

inline std::string BinDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir = path;
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

inline std::string SimDir() {
    return BinDir() + "..\\sim\\";
}

inline bool FileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool WriteTextFile(const std::string& path, const std::string& text) {
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    return file &&
           WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

inline std::string ReadTextFile(const std::string& path) {
    UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text;
    char buffer[4096];
    DWORD count = 0;
    while (file && ReadFile(file.Get(), buffer, sizeof buffer, &count, nullptr) && count > 0) {
        text.append(buffer, count);
    }
    return text;
}

struct HostctlRun {
    DWORD exitCode = 0;
    std::string text;  // hostctl's whole output

    std::vector<std::string> Lines() const {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
            size_t end = lf > start && text[lf - 1] == '\r' ? lf - 1 : lf;
            lines.push_back(text.substr(start, end - start));
            start = lf + 1;
        }
        return lines;
    }

    // "[   12.345] <- {json}" lines, parsed, in order.
    std::vector<JsonObject> HostMessages() const {
        std::vector<JsonObject> messages;
        for (const std::string& line : Lines()) {
            size_t at = line.find("] <- {");
            if (at != std::string::npos) {
                messages.push_back(ParseJson(line.substr(at + 5)));
            }
        }
        return messages;
    }

    // Seconds of the first line that contains `marker`; negative when none does.
    double TimeOf(const std::string& marker) const {
        for (const std::string& line : Lines()) {
            if (line.find(marker) != std::string::npos && !line.empty() && line[0] == '[') {
                return std::atof(line.c_str() + 1);
            }
        }
        return -1.0;
    }

    // The word after `prefix` in the first event line ("-- prefix...") that has it.
    std::string EventValue(const std::string& prefix) const {
        for (const std::string& line : Lines()) {
            size_t at = line.find("] -- " + prefix);
            if (at != std::string::npos) {
                std::string rest = line.substr(at + 5 + prefix.size());
                return rest.substr(0, rest.find(' '));
            }
        }
        return {};
    }
};

// hostctl [options] --script=<temp file> host [hostArgs]; waits at most 60 s.
inline HostctlRun RunHostctl(const std::string& script, const std::vector<std::string>& options,
                             const std::string& host, const std::vector<std::string>& hostArgs) {
    HostctlRun run;
    run.exitCode = 1000;
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    static int counter = 0;
    std::string base = std::string(temp) + "hostctl-run-" + std::to_string(GetCurrentProcessId()) +
                       "-" + std::to_string(counter++);
    if (!WriteTextFile(base + ".script", script)) {
        return run;
    }
    std::string commandLine = "\"" + BinDir() + "hostctl.exe\" --script=\"" + base + ".script\"";
    for (const std::string& option : options) {
        commandLine += " " + option;
    }
    commandLine += " \"" + host + "\"";
    for (const std::string& arg : hostArgs) {
        commandLine += " " + arg;
    }
    {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        UniqueHandle out(CreateFileA((base + ".out").c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        char path[32768] = {};
        GetEnvironmentVariableA("PATH", path, sizeof path);
        SetEnvironmentVariableA("PATH", (SimDir() + ";" + path).c_str());  // for the host
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = out.Get();
        startup.hStdError = out.Get();
        startup.hStdInput = nullptr;
        PROCESS_INFORMATION process{};
        BOOL started = CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                      nullptr, &startup, &process);
        SetEnvironmentVariableA("PATH", path);
        if (!started) {
            return run;
        }
        UniqueHandle processHandle(process.hProcess);
        UniqueHandle threadHandle(process.hThread);
        if (WaitForSingleObject(processHandle.Get(), 60000) != WAIT_OBJECT_0) {
            TerminateProcess(processHandle.Get(), 1001);
            WaitForSingleObject(processHandle.Get(), 5000);
        }
        GetExitCodeProcess(processHandle.Get(), &run.exitCode);
    }
    run.text = ReadTextFile(base + ".out");
    DeleteFileA((base + ".script").c_str());
    DeleteFileA((base + ".out").c_str());
    return run;
}
