// The source list of the simulated runtimes' discovery: the file that an environment
// variable names (SIM_NDI_SOURCES, SIM_OMT_SOURCES), read again at every discovery call so
// that a test may change it between two listings. One source name a line, as bytes, split
// at LF (one CR before it dropped, empty lines skipped); a line that starts with `!` holds
// discovery tokens instead (`!stall:5000`), separated like the runtime's source tokens.
// No variable, or no file: no sources. Any thread.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>

#include "sim_tokens.h"

struct SimSourceList {
    std::vector<std::string> names;
    std::vector<std::string> tokens;
};

// The test may be replacing the file right now: a read that meets it is tried again.
inline std::string ReadSimListFile(const char* variable) {
    char path[MAX_PATH] = {};
    DWORD length = GetEnvironmentVariableA(variable, path, MAX_PATH);
    std::string text;
    if (length == 0 || length >= MAX_PATH) {
        return text;
    }
    for (int attempt = 0; attempt < 20; ++attempt) {
        HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            if (GetLastError() != ERROR_SHARING_VIOLATION) {
                return text;
            }
            Sleep(5);
            continue;
        }
        char buffer[65536];
        DWORD count = 0;
        while (ReadFile(file, buffer, sizeof buffer, &count, nullptr) && count > 0) {
            text.append(buffer, count);
        }
        CloseHandle(file);
        break;
    }
    return text;
}

inline SimSourceList ReadSimSourceList(const char* variable, char separator) {
    SimSourceList list;
    const std::string text = ReadSimListFile(variable);
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty()) {
            continue;
        }
        if (line[0] == '!') {
            for (const std::string& token : SplitSimTokens(line.substr(1), separator)) {
                list.tokens.push_back(token);
            }
        } else {
            list.names.push_back(line);
        }
    }
    return list;
}

// The number after `prefix` in the first token that starts with it, or 0.
inline long SimTokenNumber(const SimSourceList& list, const char* prefix) {
    const std::string start = prefix;
    for (const std::string& token : list.tokens) {
        if (token.compare(0, start.size(), start) == 0) {
            return std::strtol(token.c_str() + start.size(), nullptr, 10);
        }
    }
    return 0;
}

inline bool SimHasToken(const SimSourceList& list, const char* token) {
    for (const std::string& t : list.tokens) {
        if (t == token) {
            return true;
        }
    }
    return false;
}
