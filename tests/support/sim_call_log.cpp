#include "sim_call_log.h"

#include <windows.h>

#include "test_files.h"

SimCallLog::SimCallLog(const char* variable)
    : variable_(variable), path_(UniqueTempPath("sim_call_log") + ".txt") {
    DeleteFileA(path_.c_str());
    SetEnvironmentVariableA(variable_.c_str(), path_.c_str());
}

SimCallLog::~SimCallLog() {
    SetEnvironmentVariableA(variable_.c_str(), nullptr);
    DeleteFileA(path_.c_str());
}

std::vector<std::string> SimCallLog::Lines() const {
    return ReadLines(path_);
}

std::vector<std::string> SimCallLog::Matching(const std::string& prefix) const {
    std::vector<std::string> result;
    for (const std::string& line : Lines()) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            result.push_back(line);
        }
    }
    return result;
}
