// Runs hostctl (beside the test) on a script and reads back its transcript, for the
// end-to-end tests and the benchmark. The simulated runtimes in <build>/sim are put on
// the child's search path. Used by one test thread at a time.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "child_process.h"
#include "json.h"
#include "test_files.h"

// The first of hostctl.exe, `exe` (both beside the test) and `runtime` (in <build>/sim;
// "" for none) that is not there, or "" when a run has all it needs.
inline std::string MissingForRun(const std::string& exe, const std::string& runtime) {
    if (!FileExists(ExeDir() + "hostctl.exe")) {
        return "hostctl.exe";
    }
    if (!FileExists(ExeDir() + exe)) {
        return exe;
    }
    return runtime.empty() || FileExists(SimDir() + runtime) ? "" : runtime;
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

// hostctl [options] --script=<temp file> host [hostArgs]; waits at most waitMs.
inline HostctlRun RunHostctl(const std::string& script, const std::vector<std::string>& options,
                             const std::string& host, const std::vector<std::string>& hostArgs,
                             DWORD waitMs = 60000) {
    HostctlRun run;
    run.exitCode = kNotStarted;
    std::string base = UniqueTempPath("hostctl-run");
    if (!WriteTextFile(base + ".script", script)) {
        run.text = "cannot write " + base + ".script, error " + std::to_string(GetLastError());
        return run;
    }
    std::string commandLine = "\"" + ExeDir() + "hostctl.exe\" --script=\"" + base + ".script\"";
    for (const std::string& option : options) {
        commandLine += " " + option;
    }
    commandLine += " \"" + host + "\"";
    for (const std::string& arg : hostArgs) {
        commandLine += " " + arg;
    }
    char path[32768] = {};
    GetEnvironmentVariableA("PATH", path, sizeof path);
    SetEnvironmentVariableA("PATH", (SimDir() + ";" + path).c_str());  // for the host
    run.exitCode = RunRedirected(commandLine, base + ".out", waitMs);
    DWORD startError = GetLastError();
    SetEnvironmentVariableA("PATH", path);
    run.text = run.exitCode == kNotStarted
                   ? "hostctl not started, error " + std::to_string(startError)
                   : ReadTextFile(base + ".out");
    DeleteFileA((base + ".script").c_str());
    DeleteFileA((base + ".out").c_str());
    return run;
}
