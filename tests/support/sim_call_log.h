// The call log a simulated runtime writes to the file its environment variable names
// (SIM_NDI_LOG, SIM_OMT_LOG). The variable is set for the life of the object, so the
// runtime in this process and the hosts it starts log there. The test thread owns it;
// the runtime writes from any thread.
#pragma once

#include <string>
#include <vector>

class SimCallLog {
public:
    explicit SimCallLog(const char* variable);
    ~SimCallLog();
    SimCallLog(const SimCallLog&) = delete;
    SimCallLog& operator=(const SimCallLog&) = delete;

    std::vector<std::string> Lines() const;
    // Lines starting with `prefix`.
    std::vector<std::string> Matching(const std::string& prefix) const;
    int Count(const std::string& prefix) const { return static_cast<int>(Matching(prefix).size()); }
    const std::string& path() const { return path_; }

private:
    std::string variable_;
    std::string path_;
};
